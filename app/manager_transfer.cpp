#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "datamodels.h"
#include "drive.h"

#include <QHash>

TrackMap manager::transferSelection() const
{
    // Found by file and playlist, not by the row's id: the track may have been stored again under
    // a new id since its row was made.
    QSet<TickKey> wanted = m_tickedEntries;
    for (const QList<QObject *> *rows : {&m_trackModel, &m_podcastModel, &m_audiobookModel, &m_videoModel}) {
        for (QObject *object : *rows) {
            const auto *row = static_cast<TrackDataModel *>(object);
            if (row->selected())
                wanted.insert({row->filepath(), row->playlist()});
        }
    }
    // Entries carry their playlist, so the transfer lays out its folder and writes its file. Newest
    // first: until the library is read again, a track stored anew may still be there under its old id.
    TrackMap selection;
    for (auto it = m_library.cend(); !wanted.isEmpty() && it != m_library.cbegin();) {
        --it;
        if (wanted.remove(tickKey(*it)))
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
            m_tickedEntries.insert(tickKey(t));
        else
            m_tickedEntries.remove(tickKey(t));
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

void manager::tickEntry(const TickKey &entry, bool selected)
{
    if (m_tickedEntries.contains(entry) == selected)
        return;
    if (selected)
        m_tickedEntries.insert(entry);
    else
        m_tickedEntries.remove(entry);
    syncTicks();
}

void manager::syncTicks()
{
    // A playlist row is ticked while every entry of it is; an entry that left the library loses
    // its tick.
    QHash<QString, QPair<int, int>> entries;  // playlist -> (entries, ticked)
    QSet<TickKey> kept;
    for (const track &t : std::as_const(m_library)) {
        if (t.playlist.isEmpty())
            continue;
        QPair<int, int> &counts = entries[t.playlist];
        ++counts.first;
        if (m_tickedEntries.isEmpty())
            continue;
        TickKey key = tickKey(t);
        if (m_tickedEntries.contains(key)) {
            ++counts.second;
            kept.insert(std::move(key));
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
