#pragma once

// Memory the C library keeps for the process.
namespace platform {

// Fewer allocation arenas: the pool threads that read a large library would otherwise each keep
// an arena of their own, most of it free but never handed back. Call before threads start.
void limitMemoryArenas();

// Hands memory freed by the program back to the system, after a large structure is gone.
void releaseFreeMemory();

}  // namespace platform
