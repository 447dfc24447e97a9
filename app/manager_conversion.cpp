#include "manager.h"

#include "storewriter.h"

#include "applog.h"
#include "datamodels.h"
#include "kivodb.h"

#include <QFileInfo>
#include <QtConcurrent>

void manager::connectConversion()
{
    connect(
        &m_transcodeWatcher, &QFutureWatcher<QList<track>>::finished, this, &manager::Transcodingfinished);
    connect(&m_libraryHandler, &ffmpeghandler::sgFiletranscodedOk, this, &manager::slUpdateTranscodingCount,
        Qt::QueuedConnection);
    connect(&m_libraryHandler, &ffmpeghandler::sgUpdateMainObject, this, &manager::slUpdateObjectTranscoding,
        Qt::QueuedConnection);
    connect(&m_libraryHandler, &ffmpeghandler::sgRemoveFile, this, &manager::slRemoveFileAudio);
    connect(&m_libraryHandler, &ffmpeghandler::sgConversionProgress, this, &manager::slConversionProgress,
        Qt::QueuedConnection);
    connect(&m_libraryHandler, &ffmpeghandler::sgFileFailed, this,
        [this](const QString &file, const QString &reason) {
            m_addFailures << file + QStringLiteral(": ") + reason;
        });

    // Made once: the thread object is reused for every batch.
    connect(this, &manager::sgCancelVideOptimising, &m_videoEncoding, &VideoEncoding::onCanclePressed,
        Qt::DirectConnection);
    connect(&m_videoEncoding, &VideoEncoding::onAproxTimeChange, this, &manager::slVideoAproxTime);
    connect(&m_videoEncoding, &VideoEncoding::onProgressChange, this, &manager::slOnProgressChange);
    connect(&m_videoEncoding, &VideoEncoding::onFileComplete, this, &manager::slupdateMainObjectVideo);
    connect(&m_videoEncoding, &VideoEncoding::onSkipFile, this, &manager::slonSkipFile);
    connect(&m_videoEncoding, &VideoEncoding::onAllFilesCompleate, this, &manager::slAllFileCompleteVideo);
    connect(&m_videoEncoding, &VideoEncoding::onMultiChannelsFile, this, &manager::slonMultiChannelFile);
    connect(&m_videoEncoding, &VideoEncoding::sgFileFailed, this,
        [this](const QString &file, const QString &reason) {
            m_addFailures << file + QStringLiteral(": ") + reason;
        });
    m_videoProgress = new VideoOptimisationModel(this);
    m_videoProgress->setSecondsLeft(-1);
}

void manager::addToMainObjectThreadFinished()
{
    if (m_adding.isEmpty()) {
        finishAdd(false);
        return;
    }
    TrackMap audio;
    m_videosToOptimise.clear();
    // One conversion per library file, made for an album's track where one shares the file; the
    // entries sharing it get their rows when it is made.
    QHash<QString, qint64> converterOf;
    for (auto it = m_adding.cbegin(); it != m_adding.cend(); ++it) {
        if (it->isVideo) {
            m_videosToOptimise.insert(it.key(), it.value());
            continue;
        }
        const auto found = converterOf.constFind(it->filepath);
        if (found == converterOf.cend()
            || (it->playlist.isEmpty() && !m_adding.value(*found).playlist.isEmpty()))
            converterOf.insert(it->filepath, it.key());
    }
    for (const qint64 key : std::as_const(converterOf))
        audio.insert(key, m_adding.value(key));
    if (audio.isEmpty()) {
        startVideoOptimising();
        return;
    }
    transferDetail detail;
    detail.destination = QStringLiteral("C:/");
    detail.systemInfo = Combo::systemInfoCopy();
    detail.stop = m_addStop;
    m_transcodeDone = 0;
    m_conversionClock.start();
    emit sgUpdateTranscodingCounter(0, int(m_adding.size()));
    ffmpeghandler *handler = &m_libraryHandler;
    m_transcodeWatcher.setFuture(
        QtConcurrent::run([handler, audio, detail] { return handler->transcodeTracks(audio, detail); }));
}

void manager::Transcodingfinished()
{
    const QList<track> converted = m_transcodeWatcher.result();
    qDebug() << "Transcoding Done...." << converted.size();
    // The add's entries by planned path, so a large add is not walked once per converted track.
    QHash<QString, QList<qint64>> byPath;
    for (auto it = m_adding.cbegin(); it != m_adding.cend(); ++it)
        byPath[it->filepath] << it.key();
    for (const track &record : converted) {
        if (record.id <= 0)
            continue;
        QList<QPair<qint64, track>> sharing;
        for (const QString &path : {record.originalPath, record.filepath}) {
            for (const qint64 key : byPath.take(path)) {
                const track entry = m_adding.take(key);
                if (entry.playlist != record.playlist || entry.albumname != record.albumname)
                    sharing << qMakePair(key, entry);
            }
            m_toCopy.remove(path);
        }
        takeAdded(record);
        // The entries of the same file point at this one conversion; the copy stores their rows
        // with the other entries, so a playlist keeps its order.
        for (auto [key, entry] : std::as_const(sharing)) {
            entry.originalPath = entry.filepath = record.filepath;
            entry.codec = record.codec;
            entry.filesize = record.filesize;
            entry.bitrate = record.bitrate;
            entry.quality = record.quality;
            m_adding.insert(key, entry);
            m_toCopy.insert(entry.filepath);
        }
    }
    startCopy();
}

void manager::takeAdded(const track &t)
{
    m_library.insert(t.id, t);
    m_addedTracks.insert(t.id, t);
    countAdded(t);
}

void manager::countAdded(const track &t)
{
    ++m_added;
    if (!t.playlist.isEmpty())
        m_addedCounts.playlists.insert(t.playlist);
    else if (t.isVideo)
        ++m_addedCounts.videos;
    else
        ++m_addedCounts.tracks;
}

void manager::slUpdateObjectTranscoding(QList<track>) { }

void manager::slUpdateTranscodingCount(QString)
{
    ++m_transcodeDone;
    emit sgUpdateTranscodingCounter(m_transcodeDone, int(m_adding.size()));
}

void manager::slConversionProgress(int done, int total, const QString &fileName)
{
    // The pace so far tells the time left; files already playable pass at once, so the figure
    // settles as the conversion goes on.
    qint64 secondsLeft = -1;
    if (done > 0 && done < total && m_conversionClock.isValid())
        secondsLeft = (m_conversionClock.elapsed() * (total - done) / done + 999) / 1000;
    emit sgUpdateConversionProgress(done, total, fileName, secondsLeft);
}

void manager::slRemoveFileAudio(QString filePath, qint64 trackID, qint64 flag)
{
    if (trackID <= 0 || flag < 1 || flag > 3)
        return;
    // The library map is keyed by stored ids, the add by browser ids: only the add is touched
    // here. A track that could not be converted is not added at all, nor the entries sharing it.
    if (flag == 1)
        m_adding.removeIf([&filePath](const auto &item) { return item.value().filepath == filePath; });
    m_toCopy.remove(filePath);
}

void manager::startCopy()
{
    QList<track> tracks;
    for (const track &t : std::as_const(m_adding)) {
        if (!t.isVideo && m_toCopy.contains(t.filepath))
            tracks << t;
    }
    const JobStop stop = m_addStop;
    auto progress = [this](int done, int total) {
        QMetaObject::invokeMethod(
            this, [this, done, total] { emit sgUpdateCopyProgress(done, total); }, Qt::QueuedConnection);
    };
    m_copyWatcher.setFuture(
        QtConcurrent::run([tracks, stop, progress] { return copyToLibrary(tracks, stop.get(), progress); }));
}

void manager::startVideoOptimising()
{
    if (m_videosToOptimise.isEmpty() || m_addStop->stopped() || m_videoEncoding.isRunning()) {
        finishAdd(m_addStop->stopped());
        return;
    }
    transferDetail detail;
    detail.destination = QStringLiteral("C:/");
    detail.systemInfo = Combo::systemInfoCopy();
    detail.stop = m_addStop;
    m_videoOptimisingCancelled = false;
    m_videoProgress->setTotal(int(m_videosToOptimise.size()));
    m_videoProgress->setDone(0);
    m_videoProgress->setProgress(0);
    m_videoProgress->setSecondsLeft(-1);
    m_videoProgress->setFileName(QFileInfo(m_videosToOptimise.first().originalPath).fileName());
    m_videoProgress->setRunning(true);
    m_videoEncoding.setArg(m_videosToOptimise, detail);
    m_videoEncoding.start();
}

void manager::slCancelVideOptimising()
{
    m_videoOptimisingCancelled = true;
    m_videoEncoding.onCanclePressed();
    emit sgCancelVideOptimising();
}

void manager::slupdateMainObjectVideo(track t)
{
    // The optimiser tells only of whole files, so one finished just before a cancel still counts.
    if (t.id < 1 || t.filesize == -1)
        return;
    // Stored off the window's thread; a store kept busy by another program is given up on after a
    // while. The store's last error belongs to the writer's thread: it is taken there.
    struct Stored {
        qint64 id = 0;
        QString error;
    };
    const auto stored = std::make_shared<Stored>();
    m_storeWriter->submit(
        [t, stored] {
            const bool ok = kivoDB().insertTrackSingle(t, &stored->id);
            if (!ok)
                stored->error = kivoDB::lastError();
            return StoreWriter::outcomeOf(ok);
        },
        this,
        [this, t, stored](bool ok) mutable {
            if (!ok) {
                m_addFailures << QFileInfo(t.filepath).fileName() + QStringLiteral(": ") + stored->error;
                return;
            }
            t.id = stored->id;
            m_library.insert(t.id, t);
            countAdded(t);
            m_videoProgress->setDone(m_videoProgress->done() + 1);
        },
        t.filepath);
}

void manager::slVideoAproxTime(qint64 seconds)
{
    m_videoProgress->setSecondsLeft(seconds);
}

void manager::slOnProgressChange(QString, qint64 trackID, qint64 progress)
{
    const auto it = m_videosToOptimise.constFind(trackID);
    if (it != m_videosToOptimise.constEnd())
        m_videoProgress->setFileName(QFileInfo(it->originalPath).fileName());
    if (progress >= 0)
        m_videoProgress->setProgress(int(progress));
}

void manager::slonSkipFile(track t)
{
    if (t.filesize == -1)
        m_videoProgress->setDone(m_videoProgress->done() + 1);
}

void manager::slonMultiChannelFile(track t)
{
    m_setAside << QFileInfo(t.originalPath).fileName();
    m_videoProgress->setDone(m_videoProgress->done() + 1);
}

void manager::slAllFileCompleteVideo()
{
    // The thread ends by itself once the queue is done; this only waits for that moment.
    m_videoEncoding.wait();
    m_videoProgress->setRunning(false);
    // The add ends once the optimised videos are stored: the writer keeps their order.
    m_storeWriter->submit(StoreWriter::Job(), this,
        [this](bool) { finishAdd(m_videoOptimisingCancelled || m_addStop->stopped()); });
}

void manager::finishAdd(bool cancelled)
{
    m_copying = false;
    m_videoProgress->setRunning(false);
    writeLog(appLogFile(), QStringLiteral("Add finished, added: "), QString::number(m_added));
    m_adding.clear();
    m_toCopy.clear();
    // What was added has its gaps filled next, in the background.
    startRepair(std::exchange(m_addedTracks, TrackMap()));
    // Optimised videos were stored one by one; the store decides their artist and album ids.
    if (m_videosToOptimise.isEmpty() && !m_reloadAfterAdd)
        buildModels();
    else
        setMainValue();
    m_reloadAfterAdd = false;
    // Videos alone were added: the library opens where they are.
    if (m_added > 0 && !m_videosToOptimise.isEmpty() && m_videosToOptimise.size() == m_addTotal)
        emit sgShowLibraryTab(QStringLiteral("videos"));
    m_videosToOptimise.clear();
    emit sgCopyFinished(m_added);
    // The count is always told, on the library's line; a cancel or a file left out also in a box.
    const QString count = cancelled ? m_messages.addCancelled.arg(m_added).arg(m_addTotal)
                                    : MessageHandler::added(m_addedCounts.tracks, m_addedCounts.videos,
                                        int(m_addedCounts.playlists.size()));
    emit sgShowStatus(count);
    m_addStatus = count;
    QStringList lines;
    if (!m_setAside.isEmpty())
        lines << m_messages.videosSetAside + QLatin1Char('\n') + m_setAside.join(QLatin1Char('\n'));
    if (!m_addFailures.isEmpty()) {
        QStringList failures = m_addFailures.mid(0, 10);
        if (m_addFailures.size() > 10)
            failures << QStringLiteral("... and %1 more").arg(m_addFailures.size() - 10);
        lines << m_messages.copyFailed + QLatin1Char('\n') + failures.join(QLatin1Char('\n'));
    }
    if (cancelled || !lines.isEmpty())
        lines.prepend(count);
    m_setAside.clear();
    m_addFailures.clear();
    if (!lines.isEmpty())
        emit sgShowMessage(lines.join(QStringLiteral("\n\n")));
}
