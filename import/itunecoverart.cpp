#include "itunecoverart.h"

#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>

namespace {
// A cache file larger than this is not artwork.
const qint64 kMaxArtworkFileSize = 32 * 1024 * 1024;

// The cache files wrap a PNG or JPEG image in their own header: decode from its signature on.
QImage imageInCacheFile(const QByteArray &bytes)
{
    static const QByteArray signatures[]
        = {QByteArray("\x89PNG\r\n\x1a\n", 8), QByteArray("\xff\xd8\xff", 3)};
    for (const QByteArray &signature : signatures) {
        const int at = bytes.indexOf(signature);
        if (at < 0)
            continue;
        QImage image;
        if (image.loadFromData(bytes.mid(at)) && !image.isNull())
            return image;
    }
    return {};
}
}  // namespace

ItuneCoverArtExtracter::ItuneCoverArtExtracter()
    : scriptPath(QStringLiteral("AppleScript/ExportItunesArtwork.js"))
{ }

QString ItuneCoverArtExtracter::scanItunesArtwork(const QString &persistentId, const QString &albumName)
{
    if (persistentId.isEmpty())
        return QStringLiteral("");
    const QString root
        = QStandardPaths::writableLocation(QStandardPaths::MusicLocation) + QStringLiteral("/iTunes");
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        const QString suffix = info.suffix().toLower();
        if ((suffix != QLatin1String("itc2") && suffix != QLatin1String("itc"))
            || !info.fileName().contains(persistentId))
            continue;
        if (info.size() > kMaxArtworkFileSize) {
            writeLog(
                appLogFile(), QStringLiteral("iTunes artwork file too large, skipped: "), info.filePath());
            return QStringLiteral("");
        }
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral("");
        const QImage image = imageInCacheFile(file.readAll());
        if (image.isNull()) {
            writeLog(appLogFile(), QStringLiteral("iTunes artwork file holds no readable image: "),
                info.filePath());
            return QStringLiteral("");
        }
        const AppPaths paths;
        QString name = paths.sanitizeName(albumName);
        if (name.isEmpty())
            name = paths.sanitizeName(persistentId);
        const QString target
            = AppPaths::dataLocation() + paths.artworkDir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (QFileInfo::exists(target))
            return target;
        QByteArray png;
        {
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            image.save(&buffer, "png");
        }
        if (!saveCoverImage(target, QString::fromLatin1(png.toBase64())))
            return QStringLiteral("");
        return target;
    }
    return QStringLiteral("");
}
