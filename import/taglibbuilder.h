#pragma once

#include "track.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QStringList>

// Writes tags into media files and extracts their embedded cover pictures. Holds no data.
class TagLibBuilder
{
public:
    TagLibBuilder() = default;

    // Writes the file's embedded front cover as a PNG image (fit into 110 x 110) at `imagePath`,
    // which must lie inside the artwork folders. Returns the image path when a file was written,
    // "" otherwise; an existing image is left alone.
    QString extractCoverArt(const QString &imagePath, const QString &mediaPath);

    // The bytes of the file's embedded front cover (or first picture); empty when there is none.
    static QByteArray embeddedPicture(const QString &mediaPath);

    // Writes the track's title, artist, album (each where its has-flag allows and the text is
    // not empty), genre, year and track number into the file at `filepath`. MPEG, MP4 and ASF
    // files only. The tags are written into a copy beside the file, read back, and only then
    // moved over the original, so a failure keeps the original untouched. True when saved.
    bool saveTags(track t);

    // The entries of a WPL, PLS, M3U or M3U8 playlist, in file order.
    QStringList readPlaylistFile(const QFileInfo &file) const;
};
