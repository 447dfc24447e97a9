#include "apppaths.h"

#include <QRegularExpression>
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

QString AppPaths::sanitizeName(const QString &name) const
{
    // The backslash in the class only escapes the colon, so a backslash in a name stays.
    static const QRegularExpression unsafe(QStringLiteral("[!/:*?<>|'+.()_&$%^#@~]"));
    QString result = name;
    result.remove(unsafe);
    result.remove(QLatin1Char('"'));
    return result.trimmed();
}

double AppPaths::durationToSeconds(const QString &text) const
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() < 3)
        return 0;
    const int hours = parts.at(0).toInt();
    const int minutes = parts.at(1).toInt();
    return hours * 3600.0 + minutes * 60.0 + parts.at(2).toDouble();
}
