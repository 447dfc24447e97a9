#pragma once

#include "apppaths.h"
#include "filecopy.h"
#include "systeminfo.h"
#include "track.h"
#include "transferdetail.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class FolderOrder;
class kivoDB;
struct TransferRun;
namespace platform {
class ToolHealth;
}

// What one transcode produced.
struct TranscodeResult {
    QString path;  // the transcoded file, made now or reused; empty when none could be made
    QString codec;  // the codec it holds, as the library stores it ("mp3", "aac", "wmav2")
    bool reused = false;  // an up-to-date transcode of the same source was there already
    bool crashed = false;
    bool cancelled = false;
    QString error;  // why no file was made
    bool ok() const { return !path.isEmpty(); }
};

// The worker around the external audio tools: the transfer of chosen tracks to a drive or
// folder, transcoding audio the car cannot play, and the pieces both are made of. The object
// lives on the main thread; its jobs run on pool threads and report through queued signals.
// Each run keeps its own state, so runs never share a file in hand or a free-space figure.
class ffmpeghandler : public QObject
{
    Q_OBJECT

public:
    ffmpeghandler();
    ~ffmpeghandler() override;

    // Stops the transfer or conversion of this request, running or not yet begun: it ends the
    // file in hand at its next chunk (a running ffmpeg is killed) and reports its end. Other
    // jobs go on.
    static void cancelTransfer(const transferDetail &request);

    // The transfer run: the tracks of `list`, then of `tracks` (in key order, which is a
    // playlist's own order), each copied (or transcoded first) into
    // "<destination>/<vehicle> Media/<album or playlist>/", with the playlist files beside the
    // folders. The walk goes in play order: folders by name, an album's files by disc, track number
    // and file name, a playlist's in its order, the playlist files last. Probes and transcodes run
    // ahead in parallel; copies, playlist entries and signals follow the walk. What was written is
    // flushed to the device (flushTarget) before the run ends with sgTransferFinished, always.
    TransferReport transferTracks(
        const TrackMap &tracks, const transferDetail &detail, QList<track> list = {});

    // Library conversion of an add: every track of `tracks` whose `originalPath` exists and whose
    // audio the system of `detail` cannot play is transcoded, side by side, into
    // "<library>/Transcoded Media/<album>/". Each record made is stored on this thread's connection
    // and returned: `filepath` the transcoded file, `originalPath` the `filepath` it was planned to
    // have. A file that cannot be converted is told through sgFileFailed.
    QList<track> transcodeTracks(const TrackMap &tracks, const transferDetail &detail);
    // Finishes one conversion: the track's record for the made file, stored. False when it is not.
    bool OnProcessOutputReadyUpdatePath(
        const track &entry, const TranscodeResult &made, kivoDB &store, track *record);
    // Where the library conversion puts a track's transcode, without suffix: the plain title, marked
    // only when another source has that name (TranscodeNames). The name is given to the source;
    // empty, with the reason in `error`, when it cannot be.
    static QString libraryTranscodeBase(const track &t, QString *error = nullptr);

    // The tracks whose `filepath` (`originalPath`) exists, in key order; what was found so far
    // once `stop` is raised.
    static QList<track> existingTracks(const TrackMap &tracks, const StopToken *stop = nullptr);
    static QList<track> existingSourceTracks(const TrackMap &tracks, const StopToken *stop = nullptr);

    // The codec ffprobe names for the file's first audio stream ("mp3", "aac"); "" when unknown.
    static QString probeCodec(const QString &path);
    // The same, read by TagLib where it tells the codec for sure, else by probeCodec.
    static QString audioCodecOf(const QString &path);
    // The file's audio bit rate in kbit/s; 0 when it cannot be told.
    static int readAudioBitrate(const QString &path);
    // The system's playable codecs, one entry per codec and extension, after a first "mp3" entry.
    // Only the default entry when the system is not listed.
    static QList<AudioCodec> loadSystemInfo(const QString &systemName);

    // Transcodes `source` into `target` + "." + the extension, trying `fallback` in order when an
    // attempt fails. Written under a temporary name and renamed when ffmpeg succeeded; a transcode
    // at least as new as its source is reused. A crash skips the file (the transfer's rule).
    // ffmpeg quiet for longer than the watchdog allows is killed and the file fails; `health`,
    // the run's record of broken tools, sets it aside after two such failures.
    TranscodeResult fileTrancodinMethod(const QString &source, const QString &target, const QString &setCodec,
        const QString &extension, QList<AudioCodec> fallback, const StopToken &stop,
        platform::ToolHealth *health = nullptr) const;
    // The library's variant: a crash also moves on to the next codec, and the outcome is told
    // through sgRemoveFile for `current` (1 no codec could, 2 reused, 3 transcoded now).
    TranscodeResult fileTranscodeOnOk(const track &current, const QString &source, const QString &target,
        const QString &setCodec, const QString &extension, QList<AudioCodec> fallback, const StopToken &stop,
        platform::ToolHealth *health = nullptr);
    // Copies title, artist, album, genre, year and track number from `source` into `target`.
    static void UpdateTag(const QString &sourcefilePath, const QString &targetfilePath);

    // Puts one file into `folder` on the target under `name` (the source's own name when empty),
    // by the run's overwrite options and free space, then the folder's album art, the playlist
    // entry and the progress signal. True when the file is on the target afterwards.
    bool copyToUsb(TransferRun &run, const QString &source, const QString &folder, const QString &name = {});
    // Writes `targetImage` from the cover, fit into 110 x 110, unless it is there already.
    static bool saveAlbumArt(const QString &coverImage, const QString &targetImage);
    // The cover fit into 110 x 110 as PNG bytes; empty when it cannot be read.
    static QByteArray albumArtPng(const QString &coverImage);
    static bool createFolder(const QString &folder);
    // A transcoded file is ready: tell it, then copy it under `name`.
    bool OnProcessOutputReady(
        TransferRun &run, const QString &transcoded, const QString &folder, const QString &name);
    // A file that cannot reach the target: logged, counted as handled and reported.
    void UnableToProcess(TransferRun &run, const QString &fileName, const QString &reason);

    // How many probes and transcodes a run keeps going at once; 0: one per processor.
    int parallelJobs = 0;
    // Tests set it to watch the flush at the end of a run, given a folder on the target; unset,
    // the run flushes its target's file system through the hold it took when it began.
    std::function<platform::CopyOutcome(const QString &)> flushTarget;
    QString playlistExtension;
    AppPaths paths;

signals:
    void incrementProgress(QString Filename);
    void sgFiletranscoded(QString Filename);
    void sgFiletranscodedOk(QString track_obj);
    void sgDiskFull();
    void sgDriveRemoved();
    void sgUpdateMainObject(QList<track> Track_Data);
    void sgRemoveFile(QString filePath, qint64 trackID, qint64 flag);
    // The library conversion's progress: files walked of those in hand, and the one it waits for
    // now ("" once all are done).
    void sgConversionProgress(int done, int total, QString fileName);
    // A file that did not reach the target, and why.
    void sgFileFailed(QString fileName, QString reason);
    // The run's files are being written out to the device; its end follows.
    void sgWritingToDrive();
    // The entries of a folder on the target are being moved into play order.
    void sgArranging(QString folderName);
    // The last signal of every run, however it ended.
    void sgTransferFinished(TransferReport report);

private:
    static bool writeAlbumArt(const QByteArray &png, const QString &targetImage);
    TranscodeResult transcode(const QString &source, const QString &target, QString codec, QString extension,
        QList<AudioCodec> fallback, const StopToken &stop, bool retryAfterCrash,
        platform::ToolHealth *health = nullptr) const;
    // A write to the target failed: the file is skipped when only it is concerned (its name is
    // refused, it cannot be read or is too large), otherwise the run stops with the reason.
    void writeFailed(TransferRun &run, const platform::CopyOutcome &outcome, bool creating,
        const QString &folder, const QString &targetName);
    void endRun(TransferRun &run, TransferReport::Stop why, const QString &fileName, const QString &reason);
    // The end of a run that may have written: playlists, play order, then the flush.
    void finishRun(TransferRun &run);
    // Puts a folder the run wrote to in play order, where the target keeps entries in order and
    // they are not; what went wrong is told under the drive's notices, and a drive found gone ends
    // the run. True once the folder stands in play order (or the target keeps no order).
    bool arrangeFolder(TransferRun &run, const FolderOrder &order);
    // Whether the target has gone; the first look that finds it gone ends the run as a drive
    // removed (a folder gone), however far it got.
    bool targetLost(TransferRun &run);
};
