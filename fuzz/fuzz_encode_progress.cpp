// ffmpeg's status output while it encodes. The first eight bytes give the file's and the queue's
// frame counts; the rest is fed in pieces of varying size, as reads from a pipe arrive. Whatever
// the text, the figures stay in their ranges and no number read is cast out of range.

#include "encodeprogress.h"
#include "fuzzsupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    qint32 frames = 0, queue = 0;
    std::memcpy(&frames, data, 4);
    std::memcpy(&queue, data + 4, 4);
    const QByteArray text = fuzzBytes(data + 8, size - 8);
    EncodeProgress progress;
    progress.startFile(frames, queue);
    qsizetype at = 0, step = 1;
    while (at < text.size()) {
        progress.feed(text.mid(at, step));
        at += step;
        step = step % 97 + 7;
        const EncodeProgress::Status &s = progress.status();
        if (s.percent < -1 || s.percent > 100 || s.fileSecondsLeft < -1 || s.queueSecondsLeft < -1) {
            std::fprintf(stderr, "status out of range: %d %lld %lld\n", s.percent,
                static_cast<long long>(s.fileSecondsLeft), static_cast<long long>(s.queueSecondsLeft));
            std::abort();
        }
    }
    return 0;
}
