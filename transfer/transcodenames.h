#pragma once

#include <QString>

// Names of the converted files kept under the library's "Transcoded Media": a conversion takes
// its plain title, and only a second source whose title meets one already given gets a short
// mark ("Title (2)"). Which source each name was given to is kept in ".sources" there, so a later
// run reuses its own conversion and never takes, reuses or overwrites another source's.
class TranscodeNames
{
public:
    // Room kept for the suffix the converter adds: a dot and the longest extension it writes.
    static constexpr int kSuffixRoom = 5;

    // Where `source`'s conversion named `title` goes in `folder` under `root`, without suffix. The
    // name is given to `source` at once, so conversions running side by side never share one; the
    // same source is given the same name again. Empty, with the reason in `error`, when the name
    // cannot be recorded.
    static QString claim(const QString &root, const QString &folder, const QString &title,
        const QString &source, QString *error = nullptr);
};
