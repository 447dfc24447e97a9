#include "namefit.h"

#include <QCryptographicHash>
#include <QTextBoundaryFinder>

int nameLength(const QString &name, NameUnits units)
{
    return units == NameUnits::Utf16Units ? int(name.size()) : int(name.toUtf8().size());
}

QString fitName(const QString &name, NameUnits units, int reserve)
{
    const int budget = kMaxNameLength - reserve;
    if (nameLength(name, units) <= budget)
        return name;
    // Cut between whole characters (a letter and its accents, a surrogate pair stay together).
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, name);
    qsizetype end = 0;
    int used = 0;
    for (qsizetype next = boundaries.toNextBoundary(); next > 0; next = boundaries.toNextBoundary()) {
        const int size = nameLength(name.mid(end, next - end), units);
        if (used + size > budget)
            break;
        used += size;
        end = next;
    }
    QString cut = name.left(end);
    // FAT drops trailing dots and spaces, which would make two cut names meet.
    while (cut.endsWith(QLatin1Char('.')) || cut.endsWith(QLatin1Char(' ')))
        cut.chop(1);
    return cut;
}

QString fitNameMarked(const QString &name, NameUnits units, int reserve)
{
    if (nameLength(name, units) + reserve <= kMaxNameLength)
        return name;
    const QString mark = QLatin1Char(' ')
        + QString::fromLatin1(
            QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha1).toHex().left(8));
    return fitName(name, units, reserve + nameLength(mark, units)) + mark;
}

QString nameSuffix(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && fileName.size() - dot <= 10 ? fileName.mid(dot) : QString();
}

QString fitFileName(const QString &fileName, NameUnits units)
{
    if (nameLength(fileName, units) <= kMaxNameLength)
        return fileName;
    const QString suffix = nameSuffix(fileName);
    return fitName(fileName.left(fileName.size() - suffix.size()), units, nameLength(suffix, units)) + suffix;
}

QString uniqueName(const QString &base, const QString &suffix, NameUnits units,
    const std::function<bool(const QString &fileName)> &accept, int reserve)
{
    const int suffixLength = nameLength(suffix, units) + reserve;
    QString candidate = fitName(base, units, suffixLength) + suffix;
    for (int n = 2;; ++n) {
        if (accept(candidate))
            return candidate;
        const QString marker = QStringLiteral(" (%1)").arg(n);
        candidate = fitName(base, units, suffixLength + nameLength(marker, units)) + marker + suffix;
    }
}
