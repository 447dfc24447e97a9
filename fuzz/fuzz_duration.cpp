// Duration texts and tool output. Whatever the input, a length must be finite, not negative and
// at most a week: anything else would be stored and shown as a track's length.

#include "apppaths.h"
#include "fuzzsupport.h"
#include "videometadata.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr double kWeekSeconds = 7 * 24 * 3600.0;

void checkSeconds(double seconds, const char *parser, const QByteArray &input)
{
    if (std::isfinite(seconds) && seconds >= 0 && seconds <= kWeekSeconds)
        return;
    std::fprintf(
        stderr, "%s gave %g seconds for input (hex) %s\n", parser, seconds, input.toHex().constData());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const AppPaths paths;
    static const VideoMetadata metadata;
    const QByteArray bytes = fuzzBytes(data, size);
    checkSeconds(paths.durationToSeconds(QString::fromUtf8(bytes)), "durationToSeconds", bytes);
    checkSeconds(VideoMetadata::parseStreamDuration(bytes), "parseStreamDuration", bytes);
    checkSeconds(metadata.parseDurationLine(bytes), "parseDurationLine", bytes);
    return 0;
}
