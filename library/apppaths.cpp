#include "apppaths.h"

#include "toolpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtConcurrent>

#include <cctype>
#include <cmath>

namespace {

// Tracks counted per album (full album id) per folder during the import running now.
struct FolderAlbumCounts {
    QMutex mutex;
    QMap<QString, QMap<qint64, int>> counts;
};

FolderAlbumCounts &folderAlbumCounts()
{
    static FolderAlbumCounts instance;
    return instance;
}

}  // namespace

bool isAllDigits(const std::string &text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        // Bytes of multi-byte characters are negative as char; isdigit must not see them so.
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

double boundedSeconds(double seconds)
{
    return std::isfinite(seconds) && seconds >= 0 && seconds <= kMaxMediaSeconds ? seconds : 0;
}

QString albumFolderName(const QString &album, NameUnits units)
{
    static const QRegularExpression unsafe(QStringLiteral("[!/:*?<>|+.\"]"));
    const QString name = fitNameMarked(QString(album).remove(unsafe).trimmed(), units);
    return name.isEmpty() ? QStringLiteral("Unknown Album") : name;
}

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
    const qint64 hours = parts.at(0).toLongLong();
    const qint64 minutes = parts.at(1).toLongLong();
    bool ok = false;
    double seconds = parts.at(2).toDouble(&ok);
    // "nan", "inf" or an overflowing figure in the seconds is no figure at all.
    if (!ok || !std::isfinite(seconds))
        seconds = 0;
    return boundedSeconds(double(hours) * 3600.0 + double(minutes) * 60.0 + seconds);
}

qint64 AppPaths::splitLeadingNumber(const QString &name) const
{
    static const QRegularExpression leadingDigits(QStringLiteral("(\\d+)"));
    if (!leadingDigits
             .match(name, 0, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption)
             .hasMatch())
        return 0;
    const QStringList parts = name.split(QLatin1Char(' '));
    if (parts.size() < 2)
        return 0;
    const QString &first = parts.at(0);
    if (!isAllDigits(first.toStdString()))
        return 0;
    bool ok = false;
    const qint64 value = first.toLongLong(&ok);
    if (!ok || value >= 51)
        return 0;
    return value;
}

QString AppPaths::apiSourceName(qint8 source) const
{
    switch (source) {
    case 1:
        return QStringLiteral("LOCAL");
    case 2:
        return QStringLiteral("MUSICBRAINZ");
    case 3:
        return QStringLiteral("DISCOGS");
    case 4:
        return QStringLiteral("FINGUREPRINT");
    default:
        return QString();
    }
}

int AppPaths::countAudioFiles(const QString &folder) const
{
    static const QStringList filters = {QStringLiteral("*.mp3"), QStringLiteral("*.m4a"),
        QStringLiteral("*.m4b"), QStringLiteral("*.aac"), QStringLiteral("*.wma"), QStringLiteral("*.mpa"),
        QStringLiteral("*.mp2"), QStringLiteral("*.mpga"), QStringLiteral("*.wav"), QStringLiteral("*.aiff"),
        QStringLiteral("*.aif"), QStringLiteral("*.aifc"), QStringLiteral("*.flac"), QStringLiteral("*.ogg"),
        QStringLiteral("*.oga"), QStringLiteral("*.ape")};
    if (folder.isEmpty())
        return 0;
    return int(QDir(folder).entryInfoList(filters, QDir::Files, QDir::NoSort).size());
}

void AppPaths::resetFolderAlbumCounts()
{
    FolderAlbumCounts &c = folderAlbumCounts();
    QMutexLocker lock(&c.mutex);
    c.counts.clear();
}

void AppPaths::countFolderAlbumTrack(const QString &folder, qint64 albumId)
{
    FolderAlbumCounts &c = folderAlbumCounts();
    QMutexLocker lock(&c.mutex);
    ++c.counts[folder][albumId];
}

bool AppPaths::isMixedFolder(const QString &folder, bool skipFileCount) const
{
    QMap<qint64, int> albums;
    {
        FolderAlbumCounts &c = folderAlbumCounts();
        QMutexLocker lock(&c.mutex);
        albums = c.counts.value(folder);
    }
    if (albums.isEmpty())
        return false;
    if (albums.size() > 1)
        return true;
    if (skipFileCount)
        return false;
    return countAudioFiles(folder) != albums.first();
}

QString AppPaths::artworkCachePath(const QString &name) const
{
    const QString suffix = QStringLiteral(".png");
    const QString file
        = fitNameMarked(sanitizeName(name), NameUnits::Utf8Bytes, nameLength(suffix, NameUnits::Utf8Bytes));
    return dataLocation() + artworkDir + QLatin1Char('/') + file + suffix;
}

QString AppPaths::copyFolderArt(const QString &folder, const QString &target) const
{
    const QString result = target + QStringLiteral(".png");
    QString source = folder + QStringLiteral("/folder.jpg");
    if (!QFileInfo::exists(source))
        source = folder + QStringLiteral("/folder.png");
    if (!QFileInfo::exists(result) && QFileInfo(source).isFile()) {
        // The cache folder is made by whoever writes into it first. QFile::copy never
        // overwrites and writes through a temporary file, so no half cover is left behind.
        QDir().mkpath(QFileInfo(result).absolutePath());
        QFile::copy(source, result);
    }
    if (!QFileInfo::exists(result))
        return QStringLiteral("");
    return result;
}

TrackMap AppPaths::assignTrackArtwork(TrackMap tracks, bool skipFileCount) const
{
    // Each folder is judged, and each album's folder art looked for, once rather than once per
    // track, and the copies (each waits on the disk) run in parallel. Albums whose art would go
    // to the same cover file are taken in track order, so the first of them gives it.
    struct Album {
        QString key;  // folder, NUL, album name
        QString folder;
        QString cover;
    };
    struct Target {
        QString path;
        QList<Album> albums;
    };
    QHash<QString, bool> mixedFolders;
    QHash<QString, QString> folderArt;  // by Album::key: the cover file, or ""
    QHash<QString, qsizetype> targetIndex;
    QList<Target> targets;
    QList<QPair<track *, QString>> wanting;
    for (auto it = tracks.begin(); it != tracks.end(); ++it) {
        track &t = it.value();
        auto mixed = mixedFolders.constFind(t.folderLocation);
        if (mixed == mixedFolders.cend())
            mixed = mixedFolders.insert(t.folderLocation, isMixedFolder(t.folderLocation, skipFileCount));
        if (*mixed)
            continue;
        if (!t.playlist.isEmpty() || t.albumname.contains(unknown))
            continue;
        const QString key = t.folderLocation + QChar(0) + t.albumname;
        wanting.append({&t, key});
        if (folderArt.contains(key))
            continue;
        folderArt.insert(key, QString());
        const QString album = sanitizeName(t.albumname);
        // An album name made only of removed characters would share one hidden ".png" with
        // every other such album.
        if (album.isEmpty() || t.folderLocation.isEmpty())
            continue;
        const QString target
            = QDir::fromNativeSeparators(dataLocation() + artworkDir + QLatin1Char('/') + album);
        auto index = targetIndex.constFind(target);
        if (index == targetIndex.cend()) {
            index = targetIndex.insert(target, targets.size());
            targets.append({target, {}});
        }
        targets[*index].albums.append({key, t.folderLocation, QString()});
    }

    QtConcurrent::blockingMap(targets, [this](Target &target) {
        for (Album &album : target.albums)
            album.cover = copyFolderArt(album.folder, target.path);
    });
    for (const Target &target : std::as_const(targets)) {
        for (const Album &album : target.albums)
            folderArt.insert(album.key, album.cover);
    }
    for (const auto &[t, key] : std::as_const(wanting)) {
        const QString cover = folderArt.value(key);
        if (!cover.isEmpty()) {
            t->cover = cover;
            t->hasCover = true;
        }
    }
    return tracks;
}

int AppPaths::isWow64() const
{
    return platform::isWow64();
}
