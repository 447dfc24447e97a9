// fpcalc's output, read by key. A result is ok only with a positive length and a fingerprint of
// the URL-safe alphabet the look-up takes.

#include "fpcalcrunner.h"
#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const FpcalcResult result = FpcalcRunner::parseOutput(fuzzBytes(data, size));
    bool sane = result.duration >= 0 && result.ok == (result.duration > 0 && !result.fingerprint.isEmpty());
    for (const QChar c : result.fingerprint)
        sane = sane && (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            && c.unicode() < 128;
    if (!sane) {
        std::fprintf(stderr, "bad result: %lld %s\n", static_cast<long long>(result.duration),
            qPrintable(result.fingerprint));
        std::abort();
    }
    return 0;
}
