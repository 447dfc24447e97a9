// Discogs replies: a search reply's results, each ranked against a track, and a release reply's
// tracklist, from the same bytes.

#include "discogsapi.h"
#include "fuzzsupport.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitEnvironment();
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    track t;
    t.artistname = QStringLiteral("Åster");
    t.albumname = QStringLiteral("Northern Fields");
    t.trackname = QStringLiteral("Dawn");
    t.genre = QStringLiteral("Folk");
    t.year = 2001;
    int listed = 0;
    const QList<DiscogsSearchResult> results = DiscogsApi::readSearchResults(body, &listed);
    for (const DiscogsSearchResult &result : results)
        DiscogsApi::rankResult(result, t, results.size());
    DiscogsApi::readRelease(body);
    return 0;
}
