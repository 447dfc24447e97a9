#pragma once

#include <QByteArray>
#include <QList>

// Compares version texts part by part: runs of digits compare by value, runs of other
// characters byte by byte, each separator byte is a part of its own and matches any other.
class VersionComparator
{
public:
    enum PartType { Number = 0, Text = 1, Separator = 2 };

    // 0 number, 1 text, 2 separator; decided by the first byte. Bytes outside 7-bit ASCII
    // count as text, so a version in another script never reads as a number or separator.
    static int typeOfPart(const QByteArray &part);
    static QList<QByteArray> split(const QByteArray &version);
    // -1 when a is older than b, 0 when equal, +1 when a is newer. Versions that differ only by
    // trailing zero parts ("4.0" and "4.0.0") are equal.
    static int compare(const QByteArray &a, const QByteArray &b);

private:
    static int typeOfByte(unsigned char c);
    static int compareNumbers(const QByteArray &a, const QByteArray &b);
    // Whether parts[from..] are separators and zeros, with at least one zero.
    static bool onlyZeroParts(const QList<QByteArray> &parts, qsizetype from);
};
