#pragma once

#include "track.h"

#include <QByteArray>
#include <QFileInfo>
#include <QString>
#include <QStringList>

namespace TagLib {
class File;
}

// Writes tags into media files and extracts their embedded cover pictures. Holds no data.
class TagLibBuilder
{
public:
    TagLibBuilder() = default;

    // Writes the file's embedded front cover as a PNG image (fit into 110 x 110) at `imagePath`,
    // which must lie inside the artwork folders. Returns the image path when a file was written,
    // "" otherwise; an existing image is left alone.
    QString extractCoverArt(const QString &imagePath, const QString &mediaPath);

    // A cover made from an embedded picture, ready to be written.
    struct Cover {
        bool hasPicture = false;
        bool decoded = false;
        QByteArray png;  // fit into 110 x 110; empty when it could not be encoded
    };
    // Decodes and encodes the picture, touching no file: safe on any thread.
    static Cover makeCover(const QByteArray &picture);
    // As extractCoverArt, with the cover already made from the file's picture.
    QString writeCoverArt(const QString &imagePath, const Cover &cover, const QString &mediaPath);

    // The bytes of the file's embedded front cover (or first picture); empty when there is none.
    static QByteArray embeddedPicture(const QString &mediaPath);
    // The same, taken from `parsed`, the file TagLib has already read for its tags; the file is
    // read again only when `parsed` is not the kind of file its suffix calls for.
    static QByteArray embeddedPicture(const QString &mediaPath, TagLib::File *parsed);

    // Writes the track's title, artist, album (each where its has-flag allows and the text is
    // not empty), genre, year and track number into the file at `filepath`. MPEG, MP4 and ASF
    // files only. The tags are written into a copy beside the file, read back, and only then
    // moved over the original, so a failure keeps the original untouched. True when saved.
    bool saveTags(track t);

    // Where a file stands in its album: the disc and track numbers its tags carry, 0 where there
    // are none or the file cannot be read. The same file read anywhere gives the same numbers.
    struct PlayNumbers {
        qint16 disc = 0;
        qint16 track = 0;
    };
    static PlayNumbers playNumbers(const QString &mediaPath);
    // The disc number of a file TagLib has read: "2" or "2/3" as every tag kind gives it; 0 when
    // absent. Only the file's own map has it: the generic one of a combined tag leaves it out.
    static unsigned int discNumber(TagLib::File *parsed);

    // The entries of a WPL, PLS, M3U or M3U8 playlist, in file order.
    QStringList readPlaylistFile(const QFileInfo &file) const;

private:
    // False, with a log line where it is not allowed, when no cover may be written at the path.
    static bool mayWriteCover(const QString &imagePath);
    static QString writeCover(const QString &imagePath, const Cover &cover, const QString &mediaPath);
};
