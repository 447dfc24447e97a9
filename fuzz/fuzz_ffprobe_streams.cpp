// ffprobe's -show_streams listing as the video optimiser reads it. Sizes, frame counts, rates and
// lengths stay within what a film can have, however large or odd the figures printed.

#include "fuzzsupport.h"
#include "videoencoding.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const VideoStreamInfo info = VideoEncoding::parseStreams(fuzzBytes(data, size));
    const bool sane = info.width >= 0 && info.height >= 0 && info.channels >= 0 && info.frameCount >= 0
        && info.frameRate >= 0 && info.avgFrameRate >= 0 && std::isfinite(info.duration)
        && info.duration >= 0;
    if (!sane) {
        std::fprintf(stderr, "figures out of range: %lld x %lld, %lld frames, %g s\n",
            static_cast<long long>(info.width), static_cast<long long>(info.height),
            static_cast<long long>(info.frameCount), info.duration);
        std::abort();
    }
    return 0;
}
