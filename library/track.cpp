#include "track.h"

qint16 bitrateClass(qint16 bitrate)
{
    if (bitrate <= 128)
        return 0;
    if (bitrate <= 255)
        return 1;
    return 2;
}

void registerTrackMetaTypes()
{
    qRegisterMetaType<QList<track>>("QList<track>");
    qRegisterMetaType<track>("track");
    qRegisterMetaType<TrackMap>("TrackMap");
    qRegisterMetaType<TrackMap>("QMap<qint64,track>");
}
