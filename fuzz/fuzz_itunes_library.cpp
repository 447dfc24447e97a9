// The iTunes library file: its playlists, its album ids, and the input as a track "Location".

#include "fuzzsupport.h"
#include "ituneslibrary.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInitCoreApp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    const QString path = fuzzWriteFile(QStringLiteral("iTunes Music Library.xml"), bytes);
    parseItunesLibraryXml(path);
    readAlbumPersistentIds(path);
    itunesLocationToPath(QString::fromUtf8(bytes));
    return 0;
}
