#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>

// Playlist files are untrusted input: larger ones are refused, and a malformed one gives the
// entries read before the fault (or none) and a line in the debug output.
constexpr qint64 kMaxPlaylistBytes = 16 * 1024 * 1024;

// The entries of a playlist file as path texts (or URL texts), in file order, chosen by the
// lower-cased suffix: "wpl", "pls", "m3u" and "m3u8". Any other suffix gives an empty list.
// Relative entries are resolved against the playlist's own folder (percent-decoded where only
// that names a file), "\" separators become "/", Windows drive and share paths stay as written,
// "file://" entries become local paths and other URLs are kept as they stand. A streaming
// manifest (an M3U with "#EXT-X-" tags) gives no entries and a line in the debug log.
QStringList readPlaylistFile(const QFileInfo &info);

// The single readers, for a playlist file's path.
QStringList readWplPlaylist(const QString &path);
QStringList readPlsPlaylist(const QString &path);
QStringList readM3uPlaylist(const QString &path);

// The text of a playlist file: UTF-8 with or without a byte-order mark, UTF-16 LE/BE with one;
// bytes that are not valid UTF-8 are taken as Latin-1.
QString decodePlaylistText(const QByteArray &bytes);
