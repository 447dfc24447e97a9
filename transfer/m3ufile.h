#pragma once

#include <QString>
#include <QStringList>

// The drive's playlist files: "#EXTM3U:", then an "#EXTINF:" line and a path line per entry,
// relative to the playlist's folder with "/" separators. UTF-8, every line ending in CRLF.

// Begins the file, replacing one that is there. False when it cannot be written.
bool createM3uFile(const QString &path);

// Appends one entry: `entry` holds the playlist file, then the path line. A missing file is
// created without the header. False when it cannot be written.
bool appendM3uEntry(const QStringList &entry);
