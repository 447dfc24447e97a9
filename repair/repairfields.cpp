#include "repairfields.h"

#include "apppaths.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <limits>

bool isPlaceholder(const QString &text)
{
    // Every placeholder begins with "unknown"; most texts are rejected on that alone.
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1String("unknown"), Qt::CaseInsensitive))
        return false;
    static const QStringList defaults = {QStringLiteral("unknown"), QStringLiteral("unknown album"),
        QStringLiteral("unknown artist"), QStringLiteral("unknown codec"), QStringLiteral("unknown comment"),
        QStringLiteral("unknown filename"), QStringLiteral("unknown genre"), QStringLiteral("unknown path"),
        QStringLiteral("unknown song"), QStringLiteral("unknown title")};
    return defaults.contains(trimmed.toCaseFolded());
}

bool isRealText(const QString &text)
{
    return !text.trimmed().isEmpty() && !isPlaceholder(text);
}

bool isRealTitle(const QString &title)
{
    static const QRegularExpression standIn(
        QStringLiteral("^(audio\\s*)?track[\\s_#.-]*\\d*$"), QRegularExpression::CaseInsensitiveOption);
    return isRealText(title) && !standIn.match(title.trimmed()).hasMatch();
}

bool isRealCover(const QString &cover)
{
    if (cover.trimmed().isEmpty() || cover.startsWith(QLatin1String("qrc:"))
        || cover.startsWith(QLatin1Char(':')) || cover.contains(QLatin1String("no_artwork.png")))
        return false;
    return QFileInfo(cover).isFile();
}

bool coverNamesAlbum(const QString &cover, const QString &album)
{
    const QString name = AppPaths().sanitizeName(album);
    return !name.isEmpty() && QFileInfo(cover).completeBaseName().compare(name, Qt::CaseInsensitive) == 0;
}

QString albumKey(const track &t)
{
    if (!t.hasAlbum || !isRealText(t.albumname) || AppPaths().sanitizeName(t.albumname).isEmpty())
        return QString();
    return t.albumname.trimmed().toCaseFolded();
}

qint16 clampCount(qint64 count)
{
    return qint16(std::clamp<qint64>(count, 0, std::numeric_limits<qint16>::max()));
}

track withHonestFlags(track t)
{
    t = withHonestTextFlags(t);
    t.hasCover = isRealCover(t.cover);
    return t;
}

track withHonestTextFlags(track t)
{
    t.hasArtist = isRealText(t.artistname);
    t.hasAlbum = isRealText(t.albumname);
    t.hasTitle = isRealTitle(t.trackname);
    return t;
}

bool isComplete(const track &t)
{
    return t.hasArtist && t.hasAlbum && t.hasTitle && t.hasCover;
}

bool tagsDiffer(const track &original, const track &repaired)
{
    const auto textChanges = [](bool known, const QString &now, const QString &before) {
        return known && !now.isEmpty() && now != before;
    };
    return textChanges(repaired.hasTitle, repaired.trackname, original.trackname)
        || textChanges(repaired.hasArtist, repaired.artistname, original.artistname)
        || textChanges(repaired.hasAlbum, repaired.albumname, original.albumname)
        || textChanges(isRealText(repaired.genre), repaired.genre, original.genre)
        || (repaired.year > 0 && repaired.year != original.year)
        || (repaired.tracknumber > 0 && repaired.tracknumber != original.tracknumber);
}

bool libraryValuesDiffer(const track &original, const track &repaired)
{
    return original.artistname != repaired.artistname || original.albumname != repaired.albumname
        || original.trackname != repaired.trackname || original.genre != repaired.genre
        || original.cover != repaired.cover || original.year != repaired.year
        || original.tracknumber != repaired.tracknumber || original.duration != repaired.duration
        || original.hasArtist != repaired.hasArtist || original.hasAlbum != repaired.hasAlbum
        || original.hasTitle != repaired.hasTitle || original.hasCover != repaired.hasCover;
}

bool lengthsFit(double trackSeconds, double candidateSeconds)
{
    if (!(trackSeconds > 0) || !(candidateSeconds > 0))
        return true;
    return std::abs(trackSeconds - candidateSeconds) <= kLengthToleranceSeconds;
}

QString comparableName(const QString &name)
{
    const QString decomposed = name.normalized(QString::NormalizationForm_KD);
    QString out;
    out.reserve(decomposed.size());
    bool blank = false;
    for (const QChar c : decomposed) {
        if (c.isMark())
            continue;
        if (c.isLetterOrNumber()) {
            if (blank && !out.isEmpty())
                out += QLatin1Char(' ');
            blank = false;
            out += c;
        } else {
            blank = true;
        }
    }
    return out.toCaseFolded();
}

bool albumFits(const track &local, const QString &candidateAlbum)
{
    if (!local.hasAlbum || !isRealText(local.albumname))
        return true;
    const QString own = comparableName(local.albumname);
    return !own.isEmpty() && own == comparableName(candidateAlbum);
}
