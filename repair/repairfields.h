#pragma once

#include "track.h"

#include <QString>

// What the repair run counts as a known value. The import and the library write placeholders
// ("Unknown Artist", "Track 03", the no-artwork image) where data is missing; those must never be
// taken for data, written into a file or carried by a has-flag.

// One of the program's default texts for missing data ("Unknown", "Unknown Album", ...), in any
// case and with blanks around it.
bool isPlaceholder(const QString &text);
// Not blank and not a placeholder.
bool isRealText(const QString &text);
// A real text that is not a numbered stand-in for a title ("Track 03", "track", "Audio Track 5").
bool isRealTitle(const QString &title);
// A cover image file that exists (not the no-artwork image, not a resource).
bool isRealCover(const QString &cover);
// Whether `cover` is the artwork file of `album`: its base name is the album's cleaned name,
// compared without case. False when the cleaned name is empty, so no cover is shared under it.
bool coverNamesAlbum(const QString &cover, const QString &album);
// The album text tracks of one album share, or "" when the album is not a real one whose cleaned
// name can name a cover file.
QString albumKey(const track &t);

// A count as a track's 16-bit field holds it: 0 to 32767, never wrapped.
qint16 clampCount(qint64 count);

// `t` with hasArtist, hasAlbum, hasTitle and hasCover set exactly when the value is real.
track withHonestFlags(track t);
// The same for the texts alone, leaving hasCover as it is (no look at the disk).
track withHonestTextFlags(track t);
// Artist, album, title and cover all known.
bool isComplete(const track &t);
// Whether saving `repaired` would write anything into the file that `original` does not hold
// (the fields TagLibBuilder::saveTags writes, under its rules).
bool tagsDiffer(const track &original, const track &repaired);
// Whether `repaired` differs from `original` in a value the library keeps.
bool libraryValuesDiffer(const track &original, const track &repaired);

// How far apart, in seconds, a candidate's length and the track's may be for the candidate to be
// the same recording: a decoder's estimate of a VBR file without a length header, encoder padding
// and a release's slightly longer fade all stay within it, while the tracks of one album hardly
// ever come that close to one another.
constexpr double kLengthToleranceSeconds = 3.0;
// Whether two lengths may be of one recording: true when either is unknown (0 or less).
bool lengthsFit(double trackSeconds, double candidateSeconds);
// A name as two spellings of it compare: without case, accents, punctuation and extra blanks
// ("Les Étoiles (Live)" and "les etoiles live" give the same).
QString comparableName(const QString &name);
// Whether a candidate's album may be the track's: true when the track has no real album; else
// the candidate's album must name the same album.
bool albumFits(const track &local, const QString &candidateAlbum);
