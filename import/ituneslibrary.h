#pragma once

#include "track.h"

#include <QList>
#include <QMap>
#include <QString>

// One playlist of the iTunes library: its name and its members in playlist order.
struct iTunedata {
    QString name;
    QList<track> tracks;
};

// The library file ("iTunes Music Library.xml") is untrusted input: deeper nesting or a larger file
// is refused.
constexpr int kMaxItunesXmlDepth = 32;
constexpr qint64 kMaxItunesXmlBytes = qint64(1024) * 1024 * 1024;

// One element per dictionary of the file's "Playlists" array, in file order. Members whose file
// is missing or is no audio or video file are left out. A file that cannot be read gives an
// empty list; a malformed or truncated one the playlists read before the fault; both with a line
// in the debug output.
QList<iTunedata> parseItunesLibraryXml(const QString &path);

// Album name to the persistent id its artwork cache file is named by ("Album Persistent ID" when
// the file has one, else the "Persistent ID" of the album's first track). Each album is entered
// under its name as written (trimmed) and under its sanitized name, which the artwork lookup uses.
QMap<QString, QString> readAlbumPersistentIds(const QString &path);

// The local path a "Location" of the library names ("file://localhost/..." or "file:///...",
// percent-encoded); "" for anything that is not a local file URL.
QString itunesLocationToPath(const QString &location);
