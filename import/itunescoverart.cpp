#include "itunescoverart.h"

#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"

#include <QDebug>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>

namespace {

// "artw" boxes hold the "item" boxes in some cache versions; nothing nests deeper.
constexpr int kMaxBoxDepth = 4;

quint32 bigEndian32(const QByteArray &data, qsizetype at)
{
    const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

// The image data of one "item" box: from the first PNG or JPEG signature that starts an image
// QImage can read, to the end of the box.
QByteArray imageInItem(const QByteArray &item)
{
    static const QByteArray png("\x89PNG\r\n\x1a\n", 8);
    static const QByteArray jpeg("\xFF\xD8\xFF", 3);
    QList<qsizetype> starts;
    for (const QByteArray &signature : {png, jpeg}) {
        const qsizetype at = item.indexOf(signature);
        if (at >= 0)
            starts.append(at);
    }
    std::sort(starts.begin(), starts.end());
    for (const qsizetype at : starts) {
        const QByteArray candidate = item.mid(at);
        QImage image;
        if (image.loadFromData(candidate) && !image.isNull())
            return candidate;
    }
    return QByteArray();
}

QByteArray walkBoxes(const QByteArray &data, qsizetype begin, qsizetype end, int depth)
{
    if (depth > kMaxBoxDepth)
        return QByteArray();
    qsizetype pos = begin;
    while (end - pos >= 8) {
        const quint32 size = bigEndian32(data, pos);
        if (size < 8 || qsizetype(size) > end - pos)
            break;
        const QByteArray type = data.mid(pos + 4, 4);
        QByteArray image;
        if (type == "item")
            image = imageInItem(data.mid(pos + 8, qsizetype(size) - 8));
        else if (type == "artw")
            image = walkBoxes(data, pos + 8, pos + qsizetype(size), depth + 1);
        if (!image.isEmpty())
            return image;
        pos += qsizetype(size);
    }
    return QByteArray();
}

}  // namespace

ItuneCoverArtExtracter::ItuneCoverArtExtracter()
    : scriptPath(QStringLiteral("AppleScript/ExportItunesArtwork.js"))
{ }

QByteArray ItuneCoverArtExtracter::imageFromItc(const QByteArray &contents)
{
    return walkBoxes(contents, 0, contents.size(), 0);
}

QString ItuneCoverArtExtracter::scanItunesArtwork(const QString &persistentId, const QString &albumName)
{
    const QString id = persistentId.trimmed();
    if (id.isEmpty())
        return QString();

    const QString root
        = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
    QDirIterator it(root, QDir::Files | QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Hidden,
        QDirIterator::Subdirectories);
    QString source;
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString suffix = info.suffix().toLower();
        if (info.isFile() && (suffix == QLatin1String("itc") || suffix == QLatin1String("itc2"))
            && info.fileName().contains(id, Qt::CaseInsensitive)) {
            source = info.absoluteFilePath();
            break;
        }
    }
    if (source.isEmpty())
        return QString();

    // The export script needs Windows' cscript; the cache file is read directly instead.
    static std::atomic_bool scriptSkipLogged(false);
    if (!scriptSkipLogged.exchange(true))
        writeLog(appLogFile(), QStringLiteral("cscript export of iTunes artwork is not available: skipped, "),
            QStringLiteral("reading the artwork cache files directly"));
    qDebug().noquote() << "cscript export of iTunes artwork is not available; reading" << source
                       << "directly";

    const AppPaths paths;
    const QString name = paths.sanitizeName(albumName).isEmpty() ? id : albumName;
    const QString target = QDir::fromNativeSeparators(paths.artworkCachePath(name));
    if (!isInsideArtworkFolder(target))
        return QString();
    if (QFileInfo::exists(target))
        return target;

    QFile file(source);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Cannot open the iTunes artwork file" << source << ":" << file.errorString();
        return QString();
    }
    if (file.size() > kMaxItcBytes) {
        qWarning().noquote() << "iTunes artwork file too large, not read:" << source;
        return QString();
    }
    const QByteArray bytes = imageFromItc(file.read(file.size()));
    QImage image;
    if (bytes.isEmpty() || !image.loadFromData(bytes) || image.isNull()) {
        qWarning().noquote() << "No PNG or JPEG image found in the iTunes artwork file" << source;
        return QString();
    }

    QDir().mkpath(QFileInfo(target).absolutePath());
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG", kCoverPngQuality)) {
        out.cancelWriting();
        qWarning().noquote() << "Cannot write the artwork" << target << ":" << out.errorString();
        return QString();
    }
    if (!out.commit()) {
        qWarning().noquote() << "Cannot write the artwork" << target << ":" << out.errorString();
        return QString();
    }
    return target;
}
