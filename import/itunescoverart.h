#pragma once

#include <QByteArray>
#include <QString>

// Reads cover images from the iTunes artwork cache: the ".itc" / ".itc2" files below the music
// folder's "iTunes" folder, named after the persistent id of what they show.
class ItuneCoverArtExtracter
{
public:
    ItuneCoverArtExtracter();

    // For the first cache file whose name holds `persistentId`, writes the image it carries as a
    // PNG into the artwork folder (named after `albumName`) and returns that path; "" when the id
    // is empty, no file matches or its image cannot be read. An image already there is reused.
    QString scanItunesArtwork(const QString &persistentId, const QString &albumName);

    // The PNG or JPEG bytes held by the first "item" box of an artwork cache file's contents that
    // has one; empty when there is none. Boxes are a 4-byte big-endian size and a 4-byte type.
    static QByteArray imageFromItc(const QByteArray &contents);

    // The export script iTunes on Windows was driven with; it cannot run here.
    QString scriptPath;
};

// Artwork cache files larger than this are not read.
constexpr qint64 kMaxItcBytes = 64 * 1024 * 1024;
