#include "apppaths.h"

#include <QStandardPaths>

AppPaths::AppPaths()
    : artworkDir(QStringLiteral("/Corvane-Media-Rarazarur/Artwork"))
    , videoArtworkDir(QStringLiteral("/Corvane-Media-Rarazarur/Artwork/Video"))
    , downloadArtworkDir(QStringLiteral("/Corvane-Media-Rarazarur/Artwork/Download"))
    , noArtworkUrl(QStringLiteral("qrc:///resources/photos/no_artwork.png"))
    , dataDir(dataLocation() + QStringLiteral("/Corvane-Media-Rarazarur"))
    , spare1(QLatin1String(""))
    , discogsSearchUrl(QStringLiteral("https://api.discogs.com/database/search?page=1&type=release&q="))
    , spare2(QLatin1String(""))
{
    unknownDefaults();
}

void AppPaths::unknownDefaults()
{
    unknown = QStringLiteral("Unknown");
    unknownAlbum = QStringLiteral("Unknown Album");
    unknownArtist = QStringLiteral("Unknown Artist");
    unknownCodec = QStringLiteral("Unknown Codec");
    unknownComment = QStringLiteral("Unknown Comment");
    unknownFilename = QStringLiteral("Unknown Filename");
    unknownGenre = QStringLiteral("Unknown Genre");
    unknownPath = QStringLiteral("Unknown Path");
    unknownSong = QStringLiteral("Unknown Song");
}

QString AppPaths::dataLocation()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

track AppPaths::clearTrack(track t) const
{
    const QString coverUrl = t.coverUrl;
    const QString empty = QLatin1String("");
    t = track();
    t.reservedText1 = t.playlist = t.codec = t.filepath = t.originalPath = t.filename = empty;
    t.artistname = t.albumname = t.trackname = t.cover = t.coverdata = empty;
    t.genre = t.comment = t.releaseDate = t.reservedText3 = t.folderLocation = empty;
    t.coverUrl = coverUrl;
    return t;
}
