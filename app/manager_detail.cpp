#include "manager.h"

#include "applog.h"
#include "database.h"
#include "datamodels.h"
#include "kivodb.h"
#include "qmlapplicationviewer.h"
#include "textorder.h"

#include <QDir>
#include <QHash>
#include <QQmlContext>

#include <algorithm>
#include <vector>

void manager::slOpenDetail(const QString &kind, const QString &name)
{
    const bool known = kind == QLatin1String("artist") || kind == QLatin1String("album")
        || kind == QLatin1String("playlist");
    m_detailKind = known ? kind : QString();
    m_detailName = known ? name : QString();
    buildDetail();
    if (known)
        emit sgShowDetail(name, kind);
}

void manager::buildDetail()
{
    QList<QObject *> lines;
    if (!m_detailKind.isEmpty()) {
        const bool playlist = m_detailKind == QLatin1String("playlist");
        const bool artist = m_detailKind == QLatin1String("artist");
        const QString key = m_detailName.toCaseFolded();
        // The artist and album views count the tracks of the Tracks tab, grouped by name without
        // case; a playlist holds its entries, in the order they were stored.
        std::vector<const track *> chosen;
        for (const track &t : std::as_const(m_library)) {
            if (playlist ? t.playlist == m_detailName
                         : rowKind(t) == 0 && (artist ? t.artistname : t.albumname).toCaseFolded() == key)
                chosen.push_back(&t);
        }
        if (!playlist) {
            const QCollator collator = nameCollator();
            std::stable_sort(chosen.begin(), chosen.end(), [&](const track *a, const track *b) {
                if (artist) {
                    if (const int c = collator.compare(a->albumname, b->albumname))
                        return c < 0;
                }
                if (a->tracknumber != b->tracknumber)
                    return a->tracknumber < b->tracknumber;
                return collator.compare(a->trackname, b->trackname) < 0;
            });
        }
        // A line of an artist or album ticks the library's own row, so Remove and Transfer see it.
        QHash<qint64, QObject *> rowOf;
        if (!playlist) {
            for (int i = 0; i < m_rowIds[0].size() && i < m_rows[0].size(); ++i)
                rowOf.insert(m_rowIds[0].at(i), m_rows[0].at(i));
        }
        for (const track *t : chosen) {
            // A playlist entry has no row in the tabs; its line holds a tick of its own.
            TrackDataModel *tick = nullptr;
            if (playlist) {
                tick = new TrackDataModel;
                tick->setTrackid(t->id);
                tick->setSelected(m_tickedEntries.contains(tickKey(*t)));
            }
            auto *line = new DetailedDataModel(tick ? tick : rowOf.value(t->id));
            if (tick) {
                tick->setParent(line);
                connect(tick, &TrackDataModel::selectedChanged, this,
                    [this, tick, entry = tickKey(*t)] { tickEntry(entry, tick->selected()); });
            }
            line->setTrackid(t->id);
            line->setTrackname(t->trackname);
            // A playlist entry's album is the playlist itself.
            line->setSubtitle(artist ? t->albumname : t->artistname);
            line->setTracknumber(t->tracknumber);
            line->setDuration(durationText(t->duration));
            line->setCover(t->cover);
            lines << line;
        }
    }
    std::swap(m_detailModel, lines);
    publishDetail();
    bury(lines);
}

void manager::publishDetail()
{
    if (m_viewer)
        m_viewer->rootContext()->setContextProperty(
            QStringLiteral("detailModel"), QVariant::fromValue(m_detailModel));
}

void manager::slConfirmRemove(const QVariant &trackIds)
{
    if (m_removing || m_copying)
        return;
    if (!m_storeReady || Database::storeIsReadOnly()) {
        emit sgShowMessage(m_storeReady ? m_messages.readOnlyLibrary : m_messages.libraryOpening);
        return;
    }
    QVariantList ids;
    QSet<QString> paths;
    for (const QVariant &id : trackIds.toList()) {
        const auto it = m_library.constFind(id.toLongLong());
        if (it == m_library.constEnd())
            continue;
        ids << it.key();
        paths.insert(QDir::cleanPath(it->filepath));
    }
    if (ids.isEmpty()) {
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    // Only copies inside the library folder are deleted; the user's own files are not.
    const QString root = QDir::cleanPath(kivoDB::libraryRoot()) + QLatin1Char('/');
    const int files = int(std::count_if(
        paths.cbegin(), paths.cend(), [&root](const QString &path) { return path.startsWith(root); }));
    emit sgAskRemoval(MessageHandler::removalQuestion(int(ids.size()), files), ids);
}
