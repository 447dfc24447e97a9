// MusicBrainz recording search replies (XML).

#include "fuzzsupport.h"
#include "musicbrainzapi.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitEnvironment();
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const MusicBrainzApi::Reply reply = MusicBrainzApi::parseReply(fuzzBytes(data, size));
    for (const MusicBrainzApi::Recording &recording : reply.recordings) {
        if (recording.lengthMs < 0) {
            std::fprintf(stderr, "negative length %lld\n", static_cast<long long>(recording.lengthMs));
            std::abort();
        }
    }
    return 0;
}
