#pragma once

#include <QString>

#include <functional>

// How a file system counts the length of a name: Linux's count UTF-8 bytes, FAT's (and NTFS's)
// UTF-16 units. Both hold at most kMaxNameLength.
enum class NameUnits { Utf8Bytes, Utf16Units };
constexpr int kMaxNameLength = 255;

// The length of `name` in `units`.
int nameLength(const QString &name, NameUnits units);

// `name` cut at a character boundary so that `reserve` more units still fit within
// kMaxNameLength; trailing dots and spaces are stripped from a cut name. A name that fits is
// returned as it is.
QString fitName(const QString &name, NameUnits units, int reserve = 0);

// `name` as fitName, but a cut name ends in a mark made from the whole name (" 1a2b3c4d"), so two
// long names that begin alike stay apart wherever they are cut, run after run.
QString fitNameMarked(const QString &name, NameUnits units, int reserve = 0);

// The suffix of a file name, dot included ("" when there is none): what follows the last dot,
// when that is at most 10 units and not the whole name.
QString nameSuffix(const QString &fileName);

// A file name fitted as fitName, its suffix kept and counted inside the limit.
QString fitFileName(const QString &fileName, NameUnits units);

// The first of "base.ext", "base (2).ext", "base (3).ext", ... that `accept` takes, `base` cut
// so that the whole name and `reserve` more units fit. `suffix` is given with its dot, or empty.
QString uniqueName(const QString &base, const QString &suffix, NameUnits units,
    const std::function<bool(const QString &fileName)> &accept, int reserve = 0);
