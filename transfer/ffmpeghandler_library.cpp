#include "ffmpeghandler.h"

#include "applog.h"
#include "drivenames.h"
#include "kivodb.h"
#include "toolhealth.h"
#include "transcodenames.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

namespace {

// What the work ahead of the store found for one track.
struct Converted {
    enum Kind { Playable, Made, Failed, Cancelled };
    Kind kind = Playable;
    TranscodeResult made;
};

}  // namespace

QString ffmpeghandler::libraryTranscodeBase(const track &t, QString *error)
{
    return TranscodeNames::claim(kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media"),
        albumFolderName(t.albumname), transcodeTitle(t), t.originalPath, error);
}

QList<track> ffmpeghandler::transcodeTracks(const TrackMap &tracks, const transferDetail &detail)
{
    qDebug() << "TranscodeOnOK...called";
    StopToken stop(detail.stop);
    platform::ToolHealth tools;
    QList<track> converted;
    const QList<track> present = existingSourceTracks(tracks, &stop);
    const SystemInfo &system = detail.systemInfo;
    const QList<AudioCodec> codecs = loadSystemInfo(QString::fromStdString(system.name));
    QSet<QString> playable;
    for (const AudioCodec &codec : codecs)
        playable.insert(QString::fromStdString(codec.name));
    const QString codec = QString::fromStdString(system.audio.codec);
    const QString extension = QString::fromStdString(system.audio.extension);

    const auto prepare = [&](const track &entry) {
        Converted result;
        if (stop.stopped()) {
            result.kind = Converted::Cancelled;
            return result;
        }
        if (entry.isVideo || playable.contains(audioCodecOf(entry.originalPath)))
            return result;
        const QString base = libraryTranscodeBase(entry, &result.made.error);
        if (base.isEmpty()) {
            result.kind = Converted::Failed;
            return result;
        }
        createFolder(QFileInfo(base).absolutePath());
        writeLog(appLogFile(), QStringLiteral("Transcoding File.."), entry.originalPath);
        result.made = transcode(entry.originalPath, base, codec, extension, codecs, stop, true, &tools);
        result.kind = result.made.ok() ? Converted::Made
            : result.made.cancelled    ? Converted::Cancelled
                                       : Converted::Failed;
        return result;
    };

    // Transcodes run side by side on their own pool (this job already holds a thread of the
    // global one); the records are stored here, in the add's order, on this thread's connection.
    QThreadPool pool;
    pool.setMaxThreadCount(parallelJobs > 0 ? parallelJobs : QThread::idealThreadCount());
    const int ahead = 2 * pool.maxThreadCount();
    QList<QFuture<Converted>> futures;
    futures.reserve(present.size());
    kivoDB store;
    int attempts = 0;
    const int total = int(present.size());
    const auto fileAt = [&present](int i) {
        return i < present.size() ? QFileInfo(present.at(i).originalPath).fileName() : QString();
    };
    emit sgConversionProgress(0, total, fileAt(0));
    for (int i = 0; i < present.size() && !stop.stopped(); ++i) {
        if (i > 0)
            emit sgConversionProgress(i, total, fileAt(i));
        while (futures.size() < present.size() && futures.size() <= i + ahead)
            futures << QtConcurrent::run(&pool, prepare, present.at(futures.size()));
        const Converted result = futures.at(i).result();
        futures[i] = {};
        if (result.kind == Converted::Playable || result.kind == Converted::Cancelled)
            continue;
        ++attempts;
        const track &entry = present.at(i);
        // Told from this thread, in the add's order.
        emit sgRemoveFile(entry.filepath, entry.id, result.made.ok() ? (result.made.reused ? 2 : 3) : 1);
        if (result.kind == Converted::Failed) {
            emit sgFileFailed(entry.originalPath,
                tr("it cannot be converted to a format the car plays (%1)").arg(result.made.error));
            continue;
        }
        track record;
        if (OnProcessOutputReadyUpdatePath(entry, result.made, store, &record))
            converted << record;
        else
            emit sgFileFailed(entry.originalPath,
                tr("the converted file could not be stored: %1").arg(kivoDB::lastError()));
    }
    if (!stop.stopped())
        emit sgConversionProgress(total, total, QString());
    stop.raise();
    pool.waitForDone();
    writeLog(appLogFile(), QString::number(attempts) + QStringLiteral(" File Transcoding Done"));
    return converted;
}

bool ffmpeghandler::OnProcessOutputReadyUpdatePath(
    const track &entry, const TranscodeResult &made, kivoDB &store, track *record)
{
    if (!made.ok())
        return false;
    // The whole record of the track, then what is true of the new file.
    track t = entry;
    t.codec = made.codec;
    t.originalPath = entry.filepath;
    t.filepath = made.path;
    t.filesize = QFileInfo(made.path).size();
    const int bitrate = readAudioBitrate(made.path);
    if (bitrate > 0)
        t.bitrate = qint16(bitrate);
    t.quality = bitrateClass(t.bitrate);
    qint64 id = 0;
    if (!store.insertTrackSingle(t, &id))
        return false;
    t.id = id;
    *record = t;
    emit sgFiletranscodedOk(QStringLiteral("track_obj_Temp"));
    writeLog(appLogFile(), QStringLiteral("Transcoded File.. "), QDir::fromNativeSeparators(made.path));
    return true;
}
