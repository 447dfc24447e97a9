// The web services' JSON, read by the repair's own reader.

#include "fuzzsupport.h"
#include "json.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool success = false;
    Json::parse(QString::fromUtf8(fuzzBytes(data, size)), success);
    return 0;
}
