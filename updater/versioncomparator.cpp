#include "versioncomparator.h"

int VersionComparator::typeOfByte(unsigned char c)
{
    // Plain ASCII tests: <cctype> on a byte above 127 is undefined and locale-dependent.
    if (c >= '0' && c <= '9')
        return Number;
    if (c == ' ' || (c >= '\t' && c <= '\r'))
        return Separator;
    if ((c >= '!' && c <= '/') || (c >= ':' && c <= '@') || (c >= '[' && c <= '`') || (c >= '{' && c <= '~'))
        return Separator;
    return Text;
}

int VersionComparator::typeOfPart(const QByteArray &part)
{
    if (part == ".")
        return Separator;
    if (part.isEmpty())
        return Text;
    return typeOfByte(static_cast<unsigned char>(part.at(0)));
}

QList<QByteArray> VersionComparator::split(const QByteArray &version)
{
    QList<QByteArray> parts;
    if (version.isEmpty())
        return parts;
    QByteArray current(1, version.at(0));
    int previous = typeOfByte(static_cast<unsigned char>(version.at(0)));
    for (qsizetype i = 1; i < version.size(); ++i) {
        const char c = version.at(i);
        const int t = typeOfByte(static_cast<unsigned char>(c));
        if (t == previous && t != Separator) {
            current.append(c);
        } else {
            parts.append(current);
            current = QByteArray(1, c);
        }
        previous = t;
    }
    parts.append(current);
    return parts;
}

int VersionComparator::compareNumbers(const QByteArray &a, const QByteArray &b)
{
    // By value without converting: a digit run of any length never overflows this way.
    qsizetype ia = 0;
    while (ia < a.size() - 1 && a.at(ia) == '0')
        ++ia;
    qsizetype ib = 0;
    while (ib < b.size() - 1 && b.at(ib) == '0')
        ++ib;
    const qsizetype la = a.size() - ia;
    const qsizetype lb = b.size() - ib;
    if (la != lb)
        return la < lb ? -1 : 1;
    for (qsizetype k = 0; k < la; ++k) {
        const char ca = a.at(ia + k);
        const char cb = b.at(ib + k);
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return 0;
}

bool VersionComparator::onlyZeroParts(const QList<QByteArray> &parts, qsizetype from)
{
    bool zeroNumber = false;
    for (qsizetype i = from; i < parts.size(); ++i) {
        const int type = typeOfPart(parts.at(i));
        if (type == Text || (type == Number && compareNumbers(parts.at(i), "0") != 0))
            return false;
        zeroNumber = zeroNumber || type == Number;
    }
    return zeroNumber;
}

int VersionComparator::compare(const QByteArray &a, const QByteArray &b)
{
    const QList<QByteArray> partsA = split(a);
    const QList<QByteArray> partsB = split(b);
    const qsizetype common = qMin(partsA.size(), partsB.size());
    // Text ranks lowest, separators in the middle, numbers highest.
    static const int rank[3] = {2, 0, 1};
    for (qsizetype i = 0; i < common; ++i) {
        const QByteArray &pa = partsA.at(i);
        const QByteArray &pb = partsB.at(i);
        const int ta = typeOfPart(pa);
        const int tb = typeOfPart(pb);
        if (ta != tb)
            return rank[ta] < rank[tb] ? -1 : 1;
        if (ta == Number) {
            const int c = compareNumbers(pa, pb);
            if (c != 0)
                return c;
        } else if (ta == Text) {
            const qsizetype n = qMin(pa.size(), pb.size());
            for (qsizetype k = 0; k < n; ++k) {
                const auto ca = static_cast<unsigned char>(pa.at(k));
                const auto cb = static_cast<unsigned char>(pb.at(k));
                if (ca != cb)
                    return ca < cb ? -1 : 1;
            }
            if (pa.size() != pb.size())
                return pa.size() < pb.size() ? -1 : 1;
        }
    }
    if (partsA.size() == partsB.size())
        return 0;
    const bool aLonger = partsA.size() > partsB.size();
    // "3.9.0" is "3.9": trailing zero parts name the same version, so it is never offered as an
    // update to itself.
    if (onlyZeroParts(aLonger ? partsA : partsB, common))
        return 0;
    // The longer version is older when it goes on with a text (a pre-release suffix).
    const QByteArray &next = aLonger ? partsA.at(common) : partsB.at(common);
    const bool longerIsOlder = typeOfPart(next) == Text;
    if (aLonger)
        return longerIsOlder ? -1 : 1;
    return longerIsOlder ? 1 : -1;
}
