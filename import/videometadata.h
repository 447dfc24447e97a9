#pragma once

#include "apppaths.h"
#include "track.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// Gives the import the length of a video and a thumbnail image that stands as its cover.
// Every call works on its own local state and processes, so several threads may call it at once.
class VideoMetadata : public QObject
{
    Q_OBJECT

public:
    explicit VideoMetadata(QObject *parent = nullptr);

    // A track holding only `duration` (whole seconds, 0 when unknown) and `cover` (the thumbnail
    // path, made when missing). A non-zero probeDuration lets the external tools measure formats
    // that TagLib cannot.
    track readVideoInfo(const QString &path, qint16 probeDuration);

    // Extracts one frame of `video` into `image` (15 s in when the video is longer than that).
    // Returns the image path when the image exists afterwards, "" otherwise.
    QString grabThumbnail(
        const QString &video, const QString &image, const QString &folder, double duration = 0);

    // The video's length in seconds measured with ffprobe, then ffmpeg; 0 when unknown.
    double probeStreams(const QString &video);

    // The duration of the first video stream in "ffprobe -show_streams" output; 0 when none.
    static double parseStreamDuration(const QByteArray &output);
    // The length in the "Duration: hh:mm:ss.xx" line that "ffmpeg -i" prints; 0 when none.
    double parseDurationLine(const QByteArray &output) const;

    // Where the thumbnail of `video` lives: the video artwork folder and the file name without
    // its suffix, with ".png".
    QString thumbnailPath(const QString &video) const;

    AppPaths paths;
    // How long one run of ffprobe or ffmpeg may take before it is killed.
    int toolTimeoutMs = 30000;
};
