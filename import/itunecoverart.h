#pragma once

#include <QString>

// Reads cover images from the iTunes artwork cache ("*.itc" / "*.itc2" files below the music
// folder's "iTunes" folder).
class ItuneCoverArtExtracter
{
public:
    ItuneCoverArtExtracter();

    // For the first cache file whose name holds `persistentId`, writes the image it carries as a
    // PNG in the artwork folder and returns that path; "" when there is none or it does not decode.
    QString scanItunesArtwork(const QString &persistentId, const QString &albumName);

    QString scriptPath;
};
