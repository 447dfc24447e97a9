#pragma once

#include <QString>
#include <QtGlobal>

// What the probe found in one video file: its first real video stream (an attached cover picture
// is not one) and its first audio stream.
struct VideoStreamInfo {
    qint64 height = 0;
    qint64 width = 0;
    double duration = 0;  // seconds
    qint64 frameRate = 0;  // whole frames per second
    qint64 avgFrameRate = 0;
    qint64 frameCount = 0;
    qint64 trackId = 0;
    qint64 channels = 0;
    QString videoCodec;
    QString audioCodec;
    QString filePath;  // the probed file; the output once the file is worked on
    bool exists = true;  // false when the source was gone at probe time
};
