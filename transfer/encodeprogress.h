#pragma once

#include <QByteArray>
#include <QString>

// Reads what ffmpeg prints while it encodes: the input's "Duration" line, then status lines
// ("frame=  250 fps= 25 q=28.0 size= 1024kB time=00:00:10.00 bitrate= 838.9kbits/s"), which
// ffmpeg ends with "\r" and which may arrive split over several reads.
class EncodeProgress
{
public:
    struct Status {
        int percent = -1;  // of the current file, 0 to 100; -1 while it cannot be told
        qint64 fileSecondsLeft = -1;  // -1: unknown
        qint64 queueSecondsLeft = -1;
    };

    // A new file of `frames` frames; `queueFrames` are the frames still ahead in the whole queue,
    // this file's included.
    void startFile(qint64 frames, qint64 queueFrames);
    // Takes the next bytes; true when they completed at least one status line, whose figures
    // (the last one's) are then in status().
    bool feed(const QByteArray &bytes);
    const Status &status() const { return m_status; }
    // The input's duration as ffmpeg printed it ("00:01:40.00"); empty until seen.
    const QString &durationText() const { return m_durationText; }

private:
    bool takeLine(const QString &line);

    QByteArray m_pending;
    QString m_durationText;
    qint64 m_fileFrames = 0;
    qint64 m_queueFrames = 0;
    Status m_status;
};
