#pragma once

#include "encodeprogress.h"
#include "toolhealth.h"
#include "track.h"
#include "transferdetail.h"
#include "videostreaminfo.h"

#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QThread>

#include <atomic>

// The video optimiser: one thread that turns each video of an add into a file the head unit
// plays. It probes the whole queue first (for the totals behind the time left), then takes the
// videos one at a time: more than two audio channels are set aside, a video the car plays is
// copied, a conversion made before is kept, and every other video is encoded by ffmpeg into
// "<library>/Transcoded Media/Videos/". Every output is written under a temporary name and
// renamed when complete. All its signals are emitted on its own thread.
class VideoEncoding : public QThread
{
    Q_OBJECT

public:
    explicit VideoEncoding(QObject *parent = nullptr);
    // Cancels a run in progress and waits for the thread.
    ~VideoEncoding() override;

    // The next batch, keyed by track id. Only while the thread is not running.
    void setArg(const TrackMap &track_obj, const transferDetail &systemInfoemation);

    // ffprobe's stream listing of the file, read; `exists` false when it could not be probed.
    static VideoStreamInfo probeStreams(const QString &path);
    // The stream listing as ffprobe prints it with -show_streams.
    static VideoStreamInfo parseStreams(const QByteArray &listing);
    // The duration ffmpeg prints for the file, in seconds; 0 when none.
    static double runInfo(const QString &path);
    // The car plays the file as it is: MP4, H.264 and AAC, at most 1024 x 600.
    static bool isCarCompatible(const QFileInfo &source, const VideoStreamInfo &info);
    // ffmpeg's arguments for the encode of `source` into `output`.
    static QStringList encodeArguments(const QString &source, const QString &output);
    // Where the optimised copy of a track's video goes: the plain title, marked only when another
    // source has that name (TranscodeNames). The name is given to the source; empty, with the
    // reason in `error`, when it cannot be.
    static QString outputPathFor(const track &t, QString *error = nullptr);

public slots:
    // Stops the run: a running ffmpeg is ended, its partial output removed, and no further file
    // is begun. Safe from any thread, any number of times.
    void onCanclePressed();

signals:
    void onFileComplete(track objTrackEncoded);
    void onAllFilesCompleate();
    void onSkipFile(track objTrackEncoded);
    void onProgressChange(QString filePath, qint64 trackID, qint64 progress);
    void onAproxTimeChange(qint64 seconds);
    void onCurrentTrackTimeChange(qint64 seconds);
    void onMultiChannelsFile(track objTrackEncoded);
    // A video that could not be optimised, and why.
    void sgFileFailed(QString fileName, QString reason);

protected:
    void run() override;

private:
    void encodeLoop();
    bool takeNextFile();
    void encodeFile(const QString &sourcePath);
    // Runs the encode into `temporary`; false with `error` set when it did not make a whole file.
    bool encode(const QString &sourcePath, const QString &temporary, QString *error);
    void ffmpeg_progress_Output(const QByteArray &chunk);
    void fileFailed(const VideoStreamInfo &info, const QString &reason);
    // A file that needed no encode (copied, kept or set aside) leaves the totals.
    void lowerTotals(const VideoStreamInfo &info);

    std::atomic_bool cancelled{false};
    qint64 totalFrames = 0;
    double totalDuration = 0;
    TrackMap videoQueue;
    transferDetail transferInfo;
    // One record per queued track, by id, so a file missing at probe time cannot shift the
    // records of the files after it.
    QHash<qint64, VideoStreamInfo> streamInfo;
    track currentTrack;
    EncodeProgress progress;
    qint64 lastPercent = -1;
    platform::ToolHealth m_tools;  // this run's record of a broken ffmpeg
};
