#include "drivenames.h"

#include "apppaths.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

namespace {

// Without what FAT refuses, and without the trailing dots and spaces it would drop.
QString fatClean(const QString &name)
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
    return clean;
}

}  // namespace

QString fatSafeName(const QString &name, const QString &fallback, NameUnits units)
{
    // A cut is stripped again: a cut name ending in a dot would lose it on FAT and meet another.
    const QString fitted = fitFileName(fatClean(name), units);
    return fitted.isEmpty() ? fallback : fitted;
}

QString driveFolderName(const QString &name, NameUnits units)
{
    return fatSafeName(albumFolderName(name, units), QStringLiteral("Unknown Album"), units);
}

QString drivePlaylistName(const QString &playlist, NameUnits units)
{
    return fatSafeName(playlist, QStringLiteral("Playlist"), units);
}

QString drivePlaylistFileName(const QString &playlist, NameUnits units)
{
    const QString suffix = QStringLiteral(".m3u");
    QString name = fatClean(playlist);
    if (name.isEmpty())
        name = QStringLiteral("Playlist");
    return fitNameMarked(name, units, nameLength(suffix, units)) + suffix;
}

NameUnits nameUnitsOn(const QString &folder)
{
    // A target folder may not be made yet: its nearest existing parent tells.
    QString existing = QFileInfo(folder).absoluteFilePath();
    while (!QFileInfo::exists(existing)) {
        const QString up = QFileInfo(existing).absolutePath();
        if (up == existing)
            break;
        existing = up;
    }
    const QString type = QString::fromLatin1(QStorageInfo(existing).fileSystemType()).toLower();
    // FAT, exFAT and NTFS count UTF-16 units; the computer's own file systems count bytes.
    return type.contains(QLatin1String("fat")) || type.contains(QLatin1String("ntfs"))
            || type == QLatin1String("fuseblk")
        ? NameUnits::Utf16Units
        : NameUnits::Utf8Bytes;
}

QString transcodeTitle(const track &t)
{
    static const QRegularExpression unsafe(QStringLiteral("[!/:#*?<>|+.\"]"));
    QString title = QString(t.trackname).remove(unsafe).trimmed();
    if (title.isEmpty())
        title = QFileInfo(t.originalPath.isEmpty() ? t.filepath : t.originalPath).completeBaseName();
    return fatSafeName(title, QStringLiteral("Track"));
}
