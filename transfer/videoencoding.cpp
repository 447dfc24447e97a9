#include "videoencoding.h"

#include "applog.h"
#include "filecopy.h"
#include "toolhealth.h"
#include "toolpaths.h"
#include "toolwatchdog.h"

#include <QDebug>
#include <QDir>

VideoEncoding::VideoEncoding(QObject *parent)
    : QThread(parent)
{ }

VideoEncoding::~VideoEncoding()
{
    onCanclePressed();
    wait();
}

void VideoEncoding::setArg(const TrackMap &track_obj, const transferDetail &systemInfoemation)
{
    if (isRunning())
        return;
    videoQueue = track_obj;
    transferInfo = systemInfoemation;
    // Cleared here rather than when the thread starts, so a cancel right after start() holds.
    cancelled = false;
}

void VideoEncoding::onCanclePressed()
{
    // The thread sees the flag within 100 ms and ends the ffmpeg it owns; no other thread ever
    // touches that process.
    cancelled = true;
}

void VideoEncoding::run()
{
    streamInfo.clear();
    m_tools.reset();
    totalFrames = 0;
    totalDuration = 0;
    encodeLoop();
    emit onAllFilesCompleate();
}

void VideoEncoding::encodeLoop()
{
    for (auto it = videoQueue.cbegin(); it != videoQueue.cend() && !cancelled; ++it) {
        VideoStreamInfo info = probeStreams(it->originalPath);
        info.trackId = it.key();
        if (info.exists) {
            totalFrames += info.frameCount;
            totalDuration += info.duration;
        }
        streamInfo.insert(it.key(), info);
    }
    while (!cancelled && takeNextFile()) {
        encodeFile(currentTrack.originalPath);
        videoQueue.remove(videoQueue.firstKey());
    }
}

bool VideoEncoding::takeNextFile()
{
    if (videoQueue.isEmpty())
        return false;
    currentTrack = videoQueue.first();
    return true;
}

void VideoEncoding::lowerTotals(const VideoStreamInfo &info)
{
    totalFrames = std::max<qint64>(0, totalFrames - info.frameCount);
    totalDuration = std::max(0.0, totalDuration - info.duration);
}

void VideoEncoding::fileFailed(const VideoStreamInfo &info, const QString &reason)
{
    emit onProgressChange(info.filePath, info.trackId, -1);
    currentTrack.filesize = -1;
    // A cancel is the user's own doing, not a failure to tell.
    if (!reason.isEmpty()) {
        writeLog(appLogFile(), QStringLiteral("Video not optimised: "),
            currentTrack.originalPath + QStringLiteral(": ") + reason);
        emit sgFileFailed(QFileInfo(currentTrack.originalPath).fileName(), reason);
    }
    emit onSkipFile(currentTrack);
}

void VideoEncoding::encodeFile(const QString &sourcePath)
{
    const qint64 id = videoQueue.firstKey();
    VideoStreamInfo info = streamInfo.value(id);
    info.trackId = id;
    const QFileInfo source(sourcePath);
    if (currentTrack.duration < 1.0)
        currentTrack.duration = info.duration;
    currentTrack.codec = info.audioCodec;
    currentTrack.filename = source.completeBaseName();
    QString nameError;
    const QString output = outputPathFor(currentTrack, &nameError);
    const QString folder = QFileInfo(output).absolutePath();
    currentTrack.filepath = output.isEmpty() ? sourcePath : output;
    info.filePath = currentTrack.filepath;

    if (!info.exists || !source.isFile()) {
        lowerTotals(info);
        fileFailed(info, tr("the file is no longer there"));
        return;
    }
    if (output.isEmpty()) {
        lowerTotals(info);
        fileFailed(info, nameError);
        return;
    }
    if (info.channels > 2) {
        lowerTotals(info);
        emit onProgressChange(info.filePath, id, -1);
        currentTrack.filesize = -1;
        emit onMultiChannelsFile(currentTrack);
        return;
    }
    if (!QDir().mkpath(folder)) {
        lowerTotals(info);
        fileFailed(info, tr("the folder %1 cannot be made").arg(folder));
        return;
    }

    const bool compatible = isCarCompatible(source, info);
    const QFileInfo existing(output);
    // An output is only ever renamed into place whole, so one that is there was finished.
    const bool kept = existing.isFile() && existing.size() > 0
        && (compatible ? existing.size() == source.size() : runInfo(output) >= info.duration - 1.0);
    const QString temporary = platform::temporaryPath(folder, QStringLiteral("mp4"));
    QString error;
    bool made = kept;
    if (!kept && compatible) {
        const platform::CopyOutcome copied
            = platform::copyFile(sourcePath, temporary, [this] { return cancelled.load(); });
        made = copied.ok();
        error = copied.message;
    } else if (!kept) {
        made = encode(sourcePath, temporary, &error);
    }
    if (made && !kept) {
        const platform::CopyOutcome placed = platform::replaceFile(temporary, output);
        made = placed.ok();
        error = placed.message;
    }
    QFile::remove(temporary);
    lowerTotals(info);
    if (cancelled) {
        if (!kept && made)
            QFile::remove(output);
        fileFailed(info, {});
        return;
    }
    if (!made) {
        fileFailed(info, error);
        return;
    }
    currentTrack.filesize = QFileInfo(output).size();
    emit onProgressChange(info.filePath, id, 100);
    emit onFileComplete(currentTrack);
}

bool VideoEncoding::encode(const QString &sourcePath, const QString &temporary, QString *error)
{
    const VideoStreamInfo &info = streamInfo[videoQueue.firstKey()];
    progress.startFile(info.frameCount, totalFrames);
    lastPercent = -1;

    // No limit on the whole encode (a film takes long), but one on silence: ffmpeg prints its
    // status twice a second while it works, so one that neither prints nor grows its output hung.
    platform::RunOptions options;
    options.timeoutMs = -1;
    options.stallLimitMs = platform::ToolWatchdog::limitFor(platform::Tool::Ffmpeg, info.duration);
    options.watchedFile = temporary;
    options.subject = QFileInfo(sourcePath).fileName();
    options.mergeChannels = true;
    options.cancelled = [this] { return cancelled.load(); };
    options.onOutput = [this](const QByteArray &chunk) { ffmpeg_progress_Output(chunk); };
    options.health = &m_tools;
    const platform::ToolResult run = platform::runTool(platform::Tool::Ffmpeg,
        encodeArguments(QFileInfo(sourcePath).absoluteFilePath(), temporary), options);
    if (run.cancelled || cancelled)
        return false;
    if (!run.error.isEmpty()) {
        *error = run.crashed ? tr("ffmpeg stopped unexpectedly") : run.error;
        if (run.crashed && run.justSetAside)
            *error += QStringLiteral("; ") + platform::ToolHealth::setAsideNotice(platform::Tool::Ffmpeg);
        return false;
    }
    if (run.exitCode != 0 || QFileInfo(temporary).size() <= 0) {
        const QList<QByteArray> lines = run.standardOutput.trimmed().split('\n');
        *error = tr("ffmpeg ended with code %1: %2")
                     .arg(run.exitCode)
                     .arg(QString::fromUtf8(lines.isEmpty() ? QByteArray() : lines.last()).trimmed());
        return false;
    }
    return true;
}

void VideoEncoding::ffmpeg_progress_Output(const QByteArray &chunk)
{
    if (!progress.feed(chunk))
        return;
    const VideoStreamInfo &info = streamInfo[videoQueue.firstKey()];
    const EncodeProgress::Status &status = progress.status();
    if (status.percent >= 0 && status.percent != lastPercent) {
        lastPercent = status.percent;
        emit onProgressChange(currentTrack.filepath, info.trackId, status.percent);
    }
    if (status.fileSecondsLeft >= 0)
        emit onCurrentTrackTimeChange(status.fileSecondsLeft);
    if (status.queueSecondsLeft >= 0)
        emit onAproxTimeChange(status.queueSecondsLeft);
}
