#pragma once

#include "track.h"

#include <QString>

// Names of the folders and files written to the drive. Car drives are FAT: it refuses
// \ / : * ? " < > | and control characters, drops trailing dots and spaces, and holds at most
// 255 characters in a name. Every name passes here, so no path built from one leaves its folder.

// `name` made acceptable to FAT; `fallback` when nothing is left. A long name keeps its suffix.
QString fatSafeName(const QString &name, const QString &fallback);

// An album or playlist folder: the library's album folder rule, then FAT's.
QString driveFolderName(const QString &name);

// A playlist file's name without suffix: the playlist's full name, dots kept.
QString drivePlaylistName(const QString &playlist);

// The name of a transcoded file without suffix: the title without "[!/\\:#*?<>|+.]" and double
// quotes, trimmed, else the source file's own name.
QString transcodeTitle(const track &t);

// Eight hex digits of the source's path: two sources with one title never share a transcode.
QString sourceTag(const QString &path);
