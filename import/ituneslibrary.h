#pragma once

#include "track.h"

#include <QList>
#include <QMap>
#include <QString>

// One playlist of the iTunes library: its name and its members in playlist order.
struct iTunedata {
    QString name;
    QList<track> tracks;
    // For a playlist iTunes made itself, whatever its name in the library's language: the English
    // name ("Library", "Music", "Movies", "Podcasts", "Books", "Purchased", "iTunes DJ") its
    // "Master" or "Distinguished Kind" key stands for; "" for any other.
    QString builtIn;
};

// The library file ("iTunes Music Library.xml") is untrusted input: deeper nesting or a larger file
// is refused.
constexpr int kMaxItunesXmlDepth = 32;
constexpr qint64 kMaxItunesXmlBytes = qint64(1024) * 1024 * 1024;

// One element per dictionary of the file's "Playlists" array, in file order. Members that are no
// audio file, nor a video while the chosen car plays video (track_data::isVideoFile), are left
// out; so are those whose file is missing, each with a line in the debug log. A file that cannot
// be read gives an empty list; a malformed or truncated one the playlists read before the fault;
// both with a line in the debug output.
QList<iTunedata> parseItunesLibraryXml(const QString &path);

// Album name to the persistent id its artwork cache file is named by ("Album Persistent ID" when
// the file has one, else the "Persistent ID" of the album's first track). Each album is entered
// under its name as written (trimmed) and under its sanitized name, which the artwork lookup uses.
QMap<QString, QString> readAlbumPersistentIds(const QString &path);

// The local path a "Location" of the library names ("file://localhost/..." or "file:///...",
// percent-encoded); "" for anything that is not a local file URL. A Windows drive keeps its
// letter ("file://localhost/G:/x.mp3" gives "G:/x.mp3").
QString itunesLocationToPath(const QString &location);

// A path that is absolute on a Windows machine and names nothing here: "C:\...", "C:/...", or a
// network share "\\server\..." ("//server/..." once its separators are turned).
bool isWindowsAbsolutePath(const QString &path);
