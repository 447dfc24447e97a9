#include "ituneslibrary.h"

#include "applog.h"
#include "apppaths.h"
#include "track_data.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QUrl>
#include <QVariant>
#include <QXmlStreamReader>

#include <functional>
#include <limits>

namespace {

// The English name of a playlist iTunes made itself, known by its keys in any language.
QString builtInName(const QVariantMap &dict)
{
    if (dict.value(QStringLiteral("Master")).toBool())
        return QStringLiteral("Library");
    switch (dict.value(QStringLiteral("Distinguished Kind")).toLongLong()) {
    case 2:
        return QStringLiteral("Movies");
    case 4:
        return QStringLiteral("Music");
    case 5:
        return QStringLiteral("Books");
    case 10:
        return QStringLiteral("Podcasts");
    case 19:
        return QStringLiteral("Purchased");
    case 22:
        return QStringLiteral("iTunes DJ");
    default:
        return QString();
    }
}

qint16 toShort(const QVariant &value)
{
    const qint64 v = value.toLongLong();
    if (v > std::numeric_limits<qint16>::max())
        return std::numeric_limits<qint16>::max();
    if (v < std::numeric_limits<qint16>::min())
        return std::numeric_limits<qint16>::min();
    return qint16(v);
}

using DictHandler = std::function<void(const QString &key, const QVariantMap &dict)>;

// Streams the property list of the iTunes library: every dictionary of "Tracks" and of
// "Playlists" is handed on as it is read, and only when it was read whole.
class ItunesPlistReader
{
public:
    explicit ItunesPlistReader(QIODevice *device)
        : m_xml(device)
    { }

    bool walk(const DictHandler &onTrack, const DictHandler &onPlaylist)
    {
        if (!m_xml.readNextStartElement() || m_xml.name() != QLatin1String("plist")) {
            fail(QStringLiteral("no property list"));
            return false;
        }
        if (!m_xml.readNextStartElement() || m_xml.name() != QLatin1String("dict")) {
            fail(QStringLiteral("the property list holds no dictionary"));
            return false;
        }
        QString key;
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("key")) {
                key = m_xml.readElementText();
            } else if (key == QLatin1String("Tracks") && m_xml.name() == QLatin1String("dict")) {
                readDictOfDicts(onTrack);
            } else if (key == QLatin1String("Playlists") && m_xml.name() == QLatin1String("array")) {
                readArrayOfDicts(onPlaylist);
            } else {
                m_xml.skipCurrentElement();
            }
            if (m_xml.hasError())
                break;
        }
        return !m_xml.hasError();
    }

    QString errorText() const
    {
        return QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(m_xml.errorString());
    }

private:
    void fail(const QString &text)
    {
        if (!m_xml.hasError())
            m_xml.raiseError(text);
    }

    void readDictOfDicts(const DictHandler &handler)
    {
        QString key;
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("key")) {
                key = m_xml.readElementText();
            } else if (m_xml.name() == QLatin1String("dict")) {
                const QVariantMap dict = readDict(3);
                if (!m_xml.hasError() && handler)
                    handler(key, dict);
            } else {
                m_xml.skipCurrentElement();
            }
            if (m_xml.hasError())
                return;
        }
    }

    void readArrayOfDicts(const DictHandler &handler)
    {
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("dict")) {
                const QVariantMap dict = readDict(3);
                if (!m_xml.hasError() && handler)
                    handler(QString(), dict);
            } else {
                m_xml.skipCurrentElement();
            }
            if (m_xml.hasError())
                return;
        }
    }

    // At the start element of a "dict".
    QVariantMap readDict(int depth)
    {
        QVariantMap dict;
        QString key;
        bool haveKey = false;
        while (m_xml.readNextStartElement()) {
            if (m_xml.name() == QLatin1String("key")) {
                key = m_xml.readElementText();
                haveKey = true;
            } else {
                const QVariant value = readValue(depth + 1);
                if (haveKey)
                    dict.insert(key, value);
                haveKey = false;
            }
            if (m_xml.hasError())
                break;
        }
        return dict;
    }

    // At the start element of any value.
    QVariant readValue(int depth)
    {
        if (depth > kMaxItunesXmlDepth) {
            fail(QStringLiteral("elements nested too deeply"));
            return QVariant();
        }
        const QStringView name = m_xml.name();
        if (name == QLatin1String("dict"))
            return readDict(depth);
        if (name == QLatin1String("array")) {
            QVariantList list;
            while (m_xml.readNextStartElement()) {
                list.append(readValue(depth + 1));
                if (m_xml.hasError())
                    break;
            }
            return list;
        }
        if (name == QLatin1String("integer"))
            return m_xml.readElementText().trimmed().toLongLong();
        if (name == QLatin1String("real"))
            return m_xml.readElementText().trimmed().toDouble();
        if (name == QLatin1String("true") || name == QLatin1String("false")) {
            const bool value = name == QLatin1String("true");
            m_xml.skipCurrentElement();
            return value;
        }
        if (name == QLatin1String("string") || name == QLatin1String("date") || name == QLatin1String("data"))
            return m_xml.readElementText();
        m_xml.skipCurrentElement();
        return QVariant();
    }

    QXmlStreamReader m_xml;
};

bool walkItunesLibrary(const QString &path, const DictHandler &onTrack, const DictHandler &onPlaylist)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qDebug().noquote() << "Load XML File Problem.";
        qWarning().noquote() << "Cannot open the iTunes library" << path << ":" << file.errorString();
        return false;
    }
    if (file.size() > kMaxItunesXmlBytes) {
        qDebug().noquote() << "Load XML File Problem.";
        qWarning().noquote() << "iTunes library too large, not read:" << path;
        return false;
    }
    ItunesPlistReader reader(&file);
    if (!reader.walk(onTrack, onPlaylist)) {
        qDebug().noquote() << "Load XML File Problem.";
        qWarning().noquote() << "iTunes library" << path << reader.errorText();
        return false;
    }
    return true;
}

// The record of one "Tracks" entry; false when the entry is to be left out.
bool buildEntry(const QString &key, const QVariantMap &dict, const AppPaths &paths, track *out)
{
    const QString filepath = itunesLocationToPath(dict.value(QStringLiteral("Location")).toString());
    if (filepath.isEmpty())
        return false;
    const QFileInfo info(filepath);
    const QString suffix = info.suffix().toLower();
    // Videos only where the chosen car plays them.
    const bool audio = track_data::isAudioFile(suffix);
    const bool video = track_data::isVideoFile(suffix);
    if (!audio && !video)
        return false;
    if (isWindowsAbsolutePath(filepath) || !info.isFile()) {
        writeLog(appLogFile(), QStringLiteral("iTunes entry skipped, its file is missing: "), filepath);
        return false;
    }

    auto text = [&dict](const char *name) { return dict.value(QLatin1String(name)).toString(); };
    auto orDefault
        = [](const QString &value, const QString &fallback) { return value.isEmpty() ? fallback : value; };

    track t = paths.clearTrack(track());
    t.source = 1;
    t.id = dict.contains(QStringLiteral("Track ID")) ? dict.value(QStringLiteral("Track ID")).toLongLong()
                                                     : key.toLongLong();
    t.filepath = filepath;
    t.albumname = orDefault(text("Album").trimmed(), paths.unknownAlbum);
    t.artistname = orDefault(text("Artist"), paths.unknownArtist);
    t.trackname = orDefault(text("Name"), paths.unknownSong);
    t.filename = orDefault(text("Name"), paths.unknownFilename);
    t.genre = orDefault(text("Genre"), paths.unknownGenre);
    t.codec = orDefault(text("Kind"), paths.unknownCodec);
    const QDateTime released = QDateTime::fromString(text("Release Date").trimmed(), Qt::ISODate);
    if (released.isValid())
        t.releaseDate = released.toUTC().date().toString(QStringLiteral("MM/dd/yyyy"));
    t.bitrate = toShort(dict.value(QStringLiteral("Bit Rate")));
    t.frequency = dict.value(QStringLiteral("Sample Rate")).toLongLong();
    t.tracknumber = toShort(dict.value(QStringLiteral("Track Number")));
    t.reservedShort1 = toShort(dict.value(QStringLiteral("Disc Number")));
    t.year = toShort(dict.value(QStringLiteral("Year")));
    t.duration = boundedSeconds(dict.value(QStringLiteral("Total Time")).toLongLong() / 1000.0);
    t.filesize = dict.value(QStringLiteral("Size")).toLongLong();
    t.isVideo = video && !audio;
    *out = t;
    return true;
}

}  // namespace

QString itunesLocationToPath(const QString &location)
{
    QUrl url(location.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0)
        return QString();
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        url.setHost(QString());
    // A file on another host is no local file.
    if (!url.host().isEmpty())
        return QString();
    const QString path = url.toLocalFile();
    // "file:///G:/..." names a Windows drive, not a folder "G:" below the root.
    static const QRegularExpression drive(QStringLiteral("^/[A-Za-z]:/"));
    return drive.match(path).hasMatch() ? path.mid(1) : path;
}

bool isWindowsAbsolutePath(const QString &path)
{
    static const QRegularExpression windows(QStringLiteral(R"(^([A-Za-z]:[\\/]|\\\\|//))"));
    return windows.match(path).hasMatch();
}

QList<iTunedata> parseItunesLibraryXml(const QString &path)
{
    const AppPaths paths;
    QHash<qint64, track> tracksById;
    QList<iTunedata> playlists;

    auto onTrack = [&](const QString &key, const QVariantMap &dict) {
        track t;
        if (buildEntry(key, dict, paths, &t))
            tracksById.insert(t.id, t);
    };
    auto onPlaylist = [&](const QString &, const QVariantMap &dict) {
        iTunedata playlist;
        playlist.name = dict.value(QStringLiteral("Name")).toString();
        playlist.builtIn = builtInName(dict);
        const QVariantList items = dict.value(QStringLiteral("Playlist Items")).toList();
        for (const QVariant &item : items) {
            const QVariantMap entry = item.toMap();
            const auto found = tracksById.constFind(entry.value(QStringLiteral("Track ID")).toLongLong());
            if (found != tracksById.constEnd())
                playlist.tracks.append(found.value());
        }
        playlists.append(playlist);
    };
    walkItunesLibrary(path, onTrack, onPlaylist);
    return playlists;
}

QMap<QString, QString> readAlbumPersistentIds(const QString &path)
{
    const AppPaths paths;
    QMap<QString, QString> ids;
    auto onTrack = [&](const QString &, const QVariantMap &dict) {
        const QString album = dict.value(QStringLiteral("Album")).toString().trimmed();
        QString id = dict.value(QStringLiteral("Album Persistent ID")).toString().trimmed();
        if (id.isEmpty())
            id = dict.value(QStringLiteral("Persistent ID")).toString().trimmed();
        if (album.isEmpty() || id.isEmpty())
            return;
        if (!ids.contains(album))
            ids.insert(album, id);
        const QString sanitized = paths.sanitizeName(album);
        if (!sanitized.isEmpty() && !ids.contains(sanitized))
            ids.insert(sanitized, id);
    };
    walkItunesLibrary(path, onTrack, DictHandler());
    return ids;
}
