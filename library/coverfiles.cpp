#include "coverfiles.h"

#include "apppaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

QString fileToBase64(const QString &path)
{
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("");
    return QString::fromLatin1(file.readAll().toBase64());
}

bool isInsideArtworkFolder(const QString &path)
{
    const AppPaths paths;
    const QString artwork = QDir::cleanPath(AppPaths::dataLocation() + paths.artworkDir);
    const QString cleaned = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return cleaned.startsWith(artwork + QLatin1Char('/'));
}

bool saveCoverImage(const QString &path, const QString &base64)
{
    if (QFileInfo::exists(path) || !isInsideArtworkFolder(path))
        return false;
    QImage image;
    if (!image.loadFromData(QByteArray::fromBase64(base64.toLatin1())) || image.isNull())
        return false;

    static const QStringList kKnown = {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
        QStringLiteral("bmp"), QStringLiteral("gif"), QStringLiteral("svg"), QStringLiteral("tiff")};
    const QString suffix = QFileInfo(path).suffix();
    const QByteArray format = kKnown.contains(suffix.toLower()) ? suffix.toLatin1() : QByteArray("png");

    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const int quality = format.compare("png", Qt::CaseInsensitive) == 0 ? kCoverPngQuality : -1;
    if (!image.save(&out, format.constData(), quality)) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}
