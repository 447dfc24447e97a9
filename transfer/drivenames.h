#pragma once

#include "namefit.h"
#include "track.h"

#include <QString>

// Names of the folders and files written to the drive. Car drives are FAT: it refuses
// \ / : * ? " < > | and control characters, drops trailing dots and spaces, and holds at most
// 255 UTF-16 units in a name; a folder chosen as the target may be on a file system that counts
// UTF-8 bytes instead (`units`). Every name passes here, so no path built from one leaves its
// folder.

// `name` made acceptable to FAT and cut to fit `units`, its suffix kept and counted; `fallback`
// when nothing is left.
QString fatSafeName(const QString &name, const QString &fallback, NameUnits units = NameUnits::Utf16Units);

// An album or playlist folder: the library's album folder rule, then FAT's.
QString driveFolderName(const QString &name, NameUnits units = NameUnits::Utf16Units);

// A playlist file's name without suffix: the playlist's full name, dots kept.
QString drivePlaylistName(const QString &playlist, NameUnits units = NameUnits::Utf16Units);
// The playlist file's name, ".m3u" included and counted within the limit; a cut name is marked
// (fitNameMarked), so two long playlists never share a file.
QString drivePlaylistFileName(const QString &playlist, NameUnits units = NameUnits::Utf16Units);

// How names are counted on the file system that holds `folder`.
NameUnits nameUnitsOn(const QString &folder);

// The name of a transcoded file without suffix: the title without "[!/\\:#*?<>|+.]" and double
// quotes, trimmed, else the source file's own name.
QString transcodeTitle(const track &t);
