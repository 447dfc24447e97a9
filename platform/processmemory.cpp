#include "processmemory.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace platform {

void limitMemoryArenas()
{
#ifdef __GLIBC__
    mallopt(M_ARENA_MAX, 2);
#endif
}

void releaseFreeMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

}  // namespace platform
