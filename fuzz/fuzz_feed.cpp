// The update feed, read as a check reads the whole reply.

#include "fuzzsupport.h"
#include "swupdater.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    SwUpdater::parseFeedData(fuzzBytes(data, size));
    return 0;
}
