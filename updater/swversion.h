#pragma once

// The version of this program, the one every offered update is measured against.
inline constexpr char kSwCurrentVersion[] = "3.9";
