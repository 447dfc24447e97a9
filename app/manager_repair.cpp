#include "manager.h"

#include "apimanager.h"
#include "applog.h"
#include "kivodb.h"
#include "storewriter.h"

#include <QCoreApplication>

namespace {

QString counted(qint64 n, const char *one, const char *many)
{
    return QString::number(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

// What the window says when a run ends; `afterAdd` words it as a note to the add's own line.
QString repairEndText(const RepairSummary &summary, qint64 unstored, bool afterAdd)
{
    QString text;
    if (summary.stopped)
        text = QStringLiteral("Repair stopped: %1 of %2 tracks completed")
                   .arg(summary.done)
                   .arg(summary.total);
    else
        text
            = (afterAdd ? QStringLiteral("Repair: filled %1, %2, %3 and %4")
                        : QStringLiteral("Repair finished: filled %1, %2, %3 and %4"))
                  .arg(counted(summary.titles, "title", "titles"),
                      counted(summary.artists, "artist", "artists"),
                      counted(summary.albums, "album", "albums"), counted(summary.covers, "cover", "covers"));
    if (!summary.hostsGivenUp.isEmpty())
        text += QStringLiteral(". Not asked again in this run: ")
            + summary.hostsGivenUp.join(QStringLiteral(", "));
    if (unstored > 0)
        text += QStringLiteral(". ") + counted(unstored, "update", "updates")
            + QStringLiteral(" could not be stored");
    return text;
}

}  // namespace

void manager::connectRepair()
{
    if (!m_storeWriter)
        m_storeWriter = std::make_unique<StoreWriter>();
    m_repair = ApiManager::create();
    connect(m_repair, &ApiManager::updateTrackToManager, this, &manager::updateMainObjectMgr);
    connect(m_repair, &ApiManager::repairEnded, this, &manager::repairEnded);
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
    m_repairChosen = true;
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
    if (m_repair) {
        m_repair->stopOptimisation();
        // The last repaired tracks are still queued to this object: they go to the writer first.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    if (m_storeWriter) {
        // A library file another program keeps locked holds the closing up only briefly.
        m_storeWriter->close();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
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
        // Shown once the run's last updates are stored: the writer keeps their order.
        m_storeWriter->submit(StoreWriter::Job(), this, [this](bool) {
            if (!m_saved)
                setMainValue();
        });
        return;
    }
    storeInLibrary(t);
}

void manager::repairEnded(const RepairSummary &summary)
{
    const bool chosen = std::exchange(m_repairChosen, false);
    // Told once the run's last updates are stored: the writer keeps their order, so the count of
    // those it could not store is whole.
    m_storeWriter->submit(StoreWriter::Job(), this, [this, summary, chosen](bool) {
        const qint64 unstored = std::exchange(m_repairUnstored, 0);
        // A run after an add that has nothing to tell leaves the add's own count on the line.
        if (!chosen && !summary.stopped && summary.hostsGivenUp.isEmpty() && unstored == 0
            && summary.titles + summary.artists + summary.albums + summary.covers == 0)
            return;
        // After an add its count stays on the line, and the repair's note joins it.
        const bool afterAdd = !chosen && !m_addStatus.isEmpty();
        const QString note = repairEndText(summary, unstored, afterAdd);
        writeLog(appLogFile(), note);
        emit sgShowStatus(afterAdd ? m_addStatus + QLatin1Char(' ') + note : note);
    });
}

// The row keeps its id, so the window's rows, ticks and searches go on naming it. A track removed
// meanwhile stays removed.
void manager::storeInLibrary(const track &changed)
{
    if (!m_library.contains(changed.id))
        return;
    struct Stored {
        bool gone = false;
        qint64 artistId = 0;
        qint64 albumId = 0;
    };
    const auto stored = std::make_shared<Stored>();
    const track t = changed;
    m_storeWriter->submit(
        [t, stored] {
            kivoDB store;
            const bool ok = store.updateTrack(t, &stored->gone);
            if (ok)
                store.trackRowIds(t.id, &stored->artistId, &stored->albumId);
            if (!ok && !stored->gone && !kivoDB::lastFailureBusy())
                writeLog(appLogFile(), QStringLiteral("Track not stored: "),
                    t.filepath + QStringLiteral(" ") + kivoDB::lastError());
            return stored->gone ? StoreWriter::Outcome::Failed : StoreWriter::outcomeOf(ok);
        },
        this,
        [this, t, stored](bool ok) {
            if (!ok && !stored->gone)
                ++m_repairUnstored;
            const auto it = m_library.find(t.id);
            if (!ok || it == m_library.end())
                return;
            track kept = t;
            // The store files the row under the artist and album its texts name now.
            kept.artist_id = stored->artistId;
            kept.album_id = stored->albumId;
            kept.playlistId = kept.playlist.isEmpty() ? 0 : stored->albumId;
            *it = kept;
        },
        t.filepath);
}
