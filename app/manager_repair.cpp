#include "manager.h"

#include "apimanager.h"
#include "applog.h"
#include "kivodb.h"

#include <QCoreApplication>

void manager::connectRepair()
{
    m_repair = ApiManager::create();
    connect(m_repair, &ApiManager::updateTrackToManager, this, &manager::updateMainObjectMgr);
    connect(m_repair, &ApiManager::UpdateProgress, this, &manager::UpdateAPIProgress);
}

void manager::startRepair(const TrackMap &tracks)
{
    // The web is asked only when it can be reached; the run checks again before each request.
    if (!m_repair || tracks.isEmpty() || !ApiManager::isOnline())
        return;
    m_repairTotal = qint64(tracks.size());
    m_repairDone = 0;
    emit sgUpdateRepairProgress(0, m_repairTotal);
    m_repair->setDoUpdate(true);
    m_repair->startOptimisation(tracks);
}

void manager::slPopulateAdvancedSettings()
{
    if (m_repair)
        m_repair->setDoUpdate(false);
}

void manager::collectMediaToUpdate(const QVariant &trackIds)
{
    TrackMap chosen;
    for (const QVariant &id : trackIds.toList()) {
        const auto it = m_library.constFind(id.toLongLong());
        if (it != m_library.constEnd() && !it->isVideo)
            chosen.insert(it.key(), it.value());
    }
    if (!m_repair)
        return;
    if (chosen.isEmpty()) {
        m_repair->setDoUpdate(true);
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    m_repairTotal = qint64(chosen.size());
    m_repairDone = 0;
    emit sgUpdateRepairProgress(0, m_repairTotal);
    m_repair->setDoUpdate(true);
    m_repair->startOptimisationSelected(chosen);
}

void manager::cancelOptimization()
{
    if (m_repair)
        m_repair->cancelOptimization();
}

void manager::slPauseRepair(bool paused)
{
    if (m_repair)
        m_repair->setDoUpdate(!paused);
}

void manager::stopRepairForClosing()
{
    if (!m_repair)
        return;
    m_repair->stopOptimisation();
    // The last repaired tracks are still queued to this object: store them before the store closes.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void manager::UpdateAPIProgress(qint64 done, qint64 total)
{
    m_repairDone = done;
    m_repairTotal = total;
    emit sgUpdateRepairProgress(done, total);
}

void manager::updateMainObjectMgr(track t)
{
    if (t.id < 1) {
        m_repairDone = m_repairTotal = 0;
        emit sgUpdateRepairProgress(0, 0);
        if (!m_saved)
            setMainValue();
        return;
    }
    storeInLibrary(t);
}

void manager::storeInLibrary(const track &changed)
{
    track t = changed;
    qint64 newId = 0;
    if (!kivoDB().insertTrackSingle(t, &newId)) {
        writeLog(appLogFile(), QStringLiteral("Track not stored: "),
            t.filepath + QStringLiteral(" ") + kivoDB::lastError());
        return;
    }
    // The store files the row under the artist and album its texts name now.
    qint64 artistId = 0, albumId = 0;
    if (kivoDB().trackRowIds(newId, &artistId, &albumId)) {
        t.artist_id = artistId;
        t.album_id = albumId;
        t.playlistId = t.playlist.isEmpty() ? 0 : albumId;
    }
    // The stored row replaced the old one under a new id.
    m_library.remove(t.id);
    t.id = newId;
    m_library.insert(t.id, t);
}
