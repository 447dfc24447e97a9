// Playlist files: the same bytes read as m3u, m3u8, pls and wpl, and decoded as playlist text.

#include "fuzzsupport.h"
#include "playlistreader.h"

#include <QFile>
#include <QFileInfo>

namespace {
const char *const kSuffixes[] = {"m3u", "m3u8", "pls", "wpl"};
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    // One write per input: the reader picks its format by the name of the link it is given.
    const QString input = fuzzWriteFile(QStringLiteral("input"), QByteArray());
    for (const char *suffix : kSuffixes)
        QFile::link(input, fuzzTempDir() + QStringLiteral("/list.") + QLatin1String(suffix));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    decodePlaylistText(bytes);
    fuzzWriteFile(QStringLiteral("input"), bytes);
    for (const char *suffix : kSuffixes)
        readPlaylistFile(QFileInfo(fuzzTempDir() + QStringLiteral("/list.") + QLatin1String(suffix)));
    return 0;
}
