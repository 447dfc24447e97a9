#include "drivenames.h"

#include "apppaths.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int kMaxName = 255;

}  // namespace

QString fatSafeName(const QString &name, const QString &fallback)
{
    QString clean;
    clean.reserve(name.size());
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() != 0x7f && !QStringLiteral("\\/:*?\"<>|").contains(c))
            clean += c;
    }
    clean = clean.trimmed();
    while (clean.endsWith(QLatin1Char('.')) || clean.endsWith(QLatin1Char(' ')))
        clean.chop(1);
    if (clean.isEmpty())
        return fallback;
    if (clean.size() > kMaxName) {
        const int dot = clean.lastIndexOf(QLatin1Char('.'));
        const QString suffix = dot > 0 && clean.size() - dot <= 10 ? clean.mid(dot) : QString();
        QString base = clean.left(kMaxName - suffix.size());
        if (base.back().isHighSurrogate())
            base.chop(1);
        clean = base.trimmed() + suffix;
    }
    return clean;
}

QString driveFolderName(const QString &name)
{
    return fatSafeName(albumFolderName(name), QStringLiteral("Unknown Album"));
}

QString drivePlaylistName(const QString &playlist)
{
    return fatSafeName(playlist, QStringLiteral("Playlist"));
}

QString transcodeTitle(const track &t)
{
    static const QRegularExpression unsafe(QStringLiteral("[!/:#*?<>|+.\"]"));
    QString title = QString(t.trackname).remove(unsafe).trimmed();
    if (title.isEmpty())
        title = QFileInfo(t.originalPath.isEmpty() ? t.filepath : t.originalPath).completeBaseName();
    return fatSafeName(title, QStringLiteral("Track"));
}

QString sourceTag(const QString &path)
{
    const QByteArray hash
        = QCryptographicHash::hash(QFileInfo(path).absoluteFilePath().toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(hash.toHex().left(8));
}
