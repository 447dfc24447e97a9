// iTunes artwork cache files: the image held by their boxes.

#include "fuzzsupport.h"
#include "itunescoverart.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The reader decodes each image it finds to judge it, as the import does under the GUI.
    fuzzInitGuiApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ItuneCoverArtExtracter::imageFromItc(fuzzBytes(data, size));
    return 0;
}
