#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "datamodels.h"
#include "drive.h"

#include <QHash>

TrackMap manager::transferSelection() const
{
    TrackMap selection;
    for (const QList<QObject *> *rows : {&m_trackModel, &m_podcastModel, &m_audiobookModel, &m_videoModel}) {
        for (QObject *object : *rows) {
            const auto *row = static_cast<TrackDataModel *>(object);
            const auto it = m_library.constFind(row->trackid());
            if (row->selected() && it != m_library.constEnd())
                selection.insert(it.key(), it.value());
        }
    }
    // Entries carry their playlist, so the transfer lays out its folder and writes its file.
    for (const qint64 id : m_tickedEntries) {
        const auto it = m_library.constFind(id);
        if (it != m_library.constEnd())
            selection.insert(it.key(), it.value());
    }
    return selection;
}

void manager::exeRemoveTransfer(const QString &action)
{
    if (action != QLatin1String("transfer"))
        return;
    const TrackMap selection = transferSelection();
    if (selection.isEmpty()) {
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    writeLog(appLogFile(), QStringLiteral("Chosen for the transfer: "), QString::number(selection.size()));
    Drive::setTransferMap(selection);
    emit showTransferBrowser();
}

void manager::slSelectPlaylist(const QString &name, bool selected)
{
    for (const track &t : std::as_const(m_library)) {
        if (t.playlist != name)
            continue;
        if (selected)
            m_tickedEntries.insert(t.id);
        else
            m_tickedEntries.remove(t.id);
    }
    // The open playlist's lines show the change; their ticks now agree with the set.
    if (m_detailKind == QLatin1String("playlist") && m_detailName == name) {
        for (QObject *line : std::as_const(m_detailModel)) {
            if (QObject *tick = static_cast<DetailedDataModel *>(line)->row())
                tick->setProperty("selected", selected);
        }
    }
    syncTicks();
}

void manager::tickEntry(qint64 id, bool selected)
{
    if (m_tickedEntries.contains(id) == selected)
        return;
    if (selected)
        m_tickedEntries.insert(id);
    else
        m_tickedEntries.remove(id);
    syncTicks();
}

void manager::syncTicks()
{
    // A playlist row is ticked while every entry of it is.
    QHash<QString, QPair<int, int>> entries;  // playlist -> (entries, ticked)
    QSet<qint64> kept;
    for (const track &t : std::as_const(m_library)) {
        if (t.playlist.isEmpty())
            continue;
        QPair<int, int> &counts = entries[t.playlist];
        ++counts.first;
        if (m_tickedEntries.contains(t.id)) {
            ++counts.second;
            kept.insert(t.id);
        }
    }
    m_tickedEntries = std::move(kept);
    for (QObject *object : std::as_const(m_playlistModel)) {
        auto *list = static_cast<TrackList *>(object);
        const QPair<int, int> counts = entries.value(list->name());
        list->setSelected(counts.first > 0 && counts.first == counts.second);
    }
    slSelectionChanged();
}

void manager::slSelectionChanged()
{
    int ticked = int(m_tickedEntries.size());
    for (const QList<QObject *> *rows : {&m_trackModel, &m_podcastModel, &m_audiobookModel, &m_videoModel}) {
        for (QObject *object : *rows)
            ticked += static_cast<TrackDataModel *>(object)->selected() ? 1 : 0;
    }
    emit sgShowTicked(MessageHandler::ticked(ticked));
}
