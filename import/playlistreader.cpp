#include "playlistreader.h"

#include "applog.h"
#include "ituneslibrary.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>
#include <QXmlStreamReader>

namespace {

// No file system takes longer paths; longer "entries" are junk from a file that is no playlist.
constexpr int kMaxEntryLength = 4096;
// Nesting any deeper is no WPL file but a trap for the reader.
constexpr int kMaxXmlDepth = 64;

bool isUrlEntry(const QString &entry)
{
    static const QRegularExpression scheme(QStringLiteral("^[a-z]+://"));
    return scheme.match(entry).hasMatch() && QUrl(entry, QUrl::StrictMode).isValid();
}

bool hasControlCharacters(const QString &entry)
{
    for (const QChar c : entry) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// One playlist entry as the text the scan opens: a URL as it stands, a path with "/" separators
// made absolute against the playlist's folder. A null string for an entry to leave out.
QString resolveEntry(const QString &raw, const QDir &playlistFolder)
{
    QString entry = raw.trimmed();
    if (entry.isEmpty() || entry.size() > kMaxEntryLength || hasControlCharacters(entry))
        return QString();
    // A "file://" entry names a local file, percent-encoded as iTunes writes its locations; one
    // on another host stays a URL.
    if (entry.startsWith(QLatin1String("file://"), Qt::CaseInsensitive)) {
        const QString local = itunesLocationToPath(entry);
        return local.isEmpty() ? entry : local;
    }
    if (isUrlEntry(entry))
        return entry;
    entry.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // A Windows drive or share ("C:/...", "//server/...") is absolute: never below this folder.
    if (isWindowsAbsolutePath(entry) || !QDir::isRelativePath(entry))
        return entry;
    const QString resolved = QDir::cleanPath(playlistFolder.absoluteFilePath(entry));
    // Some players percent-encode relative entries ("My%20Song.mp3"): decoded when only that names
    // a file.
    if (!QFileInfo::exists(resolved) && entry.contains(QLatin1Char('%'))) {
        const QString decoded
            = QDir::cleanPath(playlistFolder.absoluteFilePath(QUrl::fromPercentEncoding(entry.toUtf8())));
        if (QFileInfo::exists(decoded))
            return decoded;
    }
    return resolved;
}

QDir folderOf(const QString &path)
{
    return QFileInfo(path).absoluteDir();
}

// The whole file, when it opens and is not larger than the bound.
bool readBounded(const QString &path, QByteArray *bytes, bool xmlMessage)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (xmlMessage)
            qDebug().noquote() << "Load XML File Problem.";
        else
            qDebug().noquote() << QStringLiteral("Failed to open read only file ") + file.fileName();
        return false;
    }
    // The size is asked first: reading up to the limit would reserve the whole limit each time.
    if (file.size() > kMaxPlaylistBytes) {
        qWarning().noquote() << "Playlist file too large, not read:" << path;
        bytes->clear();
        return false;
    }
    *bytes = file.read(file.size());
    return true;
}

// The lines of a text playlist; none for a file holding NUL characters, which is no text file.
QStringList playlistLines(const QByteArray &bytes, const QString &path)
{
    const QString text = decodePlaylistText(bytes);
    if (text.contains(QChar(0))) {
        qWarning().noquote() << "Not a text playlist, not read:" << path;
        return {};
    }
    return text.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
}

}  // namespace

QString decodePlaylistText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        const bool little = bytes.startsWith("\xFF\xFE");
        QStringDecoder decoder(little ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
            QStringConverter::Flag::Stateless);
        return decoder.decode(bytes.mid(2));
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    // Older players wrote ".m3u" in Latin-1 or a Windows code page, which is no valid UTF-8;
    // Latin-1 reads the letters those share.
    if (utf8.hasError())
        return QString::fromLatin1(bytes);
    return text;
}

QStringList readM3uPlaylist(const QString &path)
{
    QByteArray bytes;
    if (!readBounded(path, &bytes, false))
        return {};
    const QDir folder = folderOf(path);
    QStringList entries;
    for (const QString &line : playlistLines(bytes, path)) {
        // A streaming manifest (HLS) lists pieces of one stream, not music.
        if (line.trimmed().startsWith(QLatin1String("#EXT-X-"))) {
            writeLog(appLogFile(), QStringLiteral("Playlist not read, a streaming manifest: "), path);
            return {};
        }
        // "#EXTM3U", "#EXTINF:..." and other comments.
        if (line.trimmed().startsWith(QLatin1Char('#')))
            continue;
        const QString entry = resolveEntry(line, folder);
        if (!entry.isNull())
            entries.append(entry);
    }
    return entries;
}

QStringList readPlsPlaylist(const QString &path)
{
    QByteArray bytes;
    if (!readBounded(path, &bytes, false))
        return {};
    const QDir folder = folderOf(path);
    QStringList entries;
    for (const QString &rawLine : playlistLines(bytes, path)) {
        const QString line = rawLine.trimmed();
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0 || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (!line.left(equals).trimmed().startsWith(QLatin1String("file"), Qt::CaseInsensitive))
            continue;
        const QString entry = resolveEntry(line.mid(equals + 1), folder);
        if (!entry.isNull())
            entries.append(entry);
    }
    return entries;
}

QStringList readWplPlaylist(const QString &path)
{
    QByteArray bytes;
    if (!readBounded(path, &bytes, true))
        return {};
    const QDir folder = folderOf(path);
    QStringList entries;
    QXmlStreamReader xml(bytes);
    int depth = 0;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (++depth > kMaxXmlDepth) {
                xml.raiseError(QStringLiteral("elements nested too deeply"));
                break;
            }
            if (xml.name().compare(QLatin1String("media"), Qt::CaseInsensitive) == 0) {
                const QString entry
                    = resolveEntry(xml.attributes().value(QLatin1String("src")).toString(), folder);
                if (!entry.isNull())
                    entries.append(entry);
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    if (xml.hasError()) {
        qDebug().noquote() << "Load XML File Problem.";
        qWarning().noquote() << "Playlist" << path << "line" << xml.lineNumber() << ":" << xml.errorString();
    }
    return entries;
}

QStringList readPlaylistFile(const QFileInfo &info)
{
    const QString suffix = info.suffix().toLower();
    const QString path = info.absoluteFilePath();
    if (suffix == QLatin1String("wpl"))
        return readWplPlaylist(path);
    if (suffix == QLatin1String("pls"))
        return readPlsPlaylist(path);
    if (suffix == QLatin1String("m3u") || suffix == QLatin1String("m3u8"))
        return readM3uPlaylist(path);
    return {};
}
