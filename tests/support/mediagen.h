#pragma once

#include <QByteArray>
#include <QColor>
#include <QMap>
#include <QSize>
#include <QString>

// What an audio file of MediaGen holds.
struct MediaAudio {
    double seconds = 1.0;
    int sampleRate = 22050;
    int channels = 1;
    int bitrateKbps = 0;  // 0: the encoder's default
    // ffmpeg metadata keys: "title", "artist", "album", "genre", "comment", "date", "track".
    QMap<QString, QString> tags;
    bool cover = false;  // an attached front cover picture (mp3, m4a, flac, aiff, wma)
    QColor coverColor = Qt::red;
    QSize coverSize = QSize(300, 200);
    // Another ffmpeg encoder than the suffix's own ("ac3" inside an m4a file, say).
    QString codec;
};

// What a video file of MediaGen holds.
struct MediaVideo {
    double seconds = 2.0;
    QSize size = QSize(160, 120);
    int rate = 10;
    QString videoCodec = QStringLiteral("mpeg4");
    int channels = 1;  // 0: no audio
};

// Makes small media files for tests with "ffmpeg -f lavfi": a sine tone for audio, a test
// pattern for video. The format follows the path's suffix. Every function returns "" on
// success, else the reason (fit for QVERIFY2).
class MediaGen
{
public:
    using Audio = MediaAudio;

    // mp3, m4a, flac, ogg, wma, wav, aiff (aif), aac (raw ADTS).
    static QString makeAudio(const QString &path, const Audio &media = Audio());
    // mp4 or avi with a test pattern, and a tone unless withAudio is false.
    static QString makeVideo(const QString &path, double seconds = 2.0, bool withAudio = true);
    static QString makeVideo(const QString &path, const MediaVideo &video);
    // An m4a file (any suffix) whose audio sample entry reads "drms", as iTunes-protected files do.
    static QString makeProtected(const QString &path, const Audio &media = Audio());

    // A PNG image of one colour.
    static QByteArray coverPng(const QColor &color, const QSize &size = QSize(300, 200));
    // Adds `picture` as the front cover through TagLib (mp3, wma, flac, m4a), even bytes that
    // are no image at all.
    static QString attachCover(const QString &path, const QByteArray &picture,
        const QString &mimeType = QStringLiteral("image/png"));
    // Replaces every occurrence of `from` by `to` (same length) in the file.
    static QString patchBytes(const QString &path, const QByteArray &from, const QByteArray &to);
};
