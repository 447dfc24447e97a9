#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "datamodels.h"
#include "ffmpeghandler.h"
#include "ituneslibrary.h"
#include "qmlapplicationviewer.h"
#include "systeminfo.h"
#include "textorder.h"

#include <QCollator>
#include <QDir>
#include <QFileDialog>
#include <QQmlContext>
#include <QStandardPaths>
#include <QtConcurrent>

#include <algorithm>
#include <vector>

namespace {

// What tells a track of the library from another: the names and the length, which survive the
// copy (and the conversion) into the library where the path does not.
QString sameTrackKey(const track &t)
{
    return t.artistname.toCaseFolded() + QChar(0x1f) + t.albumname.toCaseFolded() + QChar(0x1f)
        + t.trackname.toCaseFolded() + QChar(0x1f) + QString::number(qRound64(t.duration));
}

// The scan's own account of what it left out, read on its thread once it has ended.
ScanResult withSkips(ScanResult result, const track_data &scanner)
{
    result.skipped = scanner.skipped;
    result.stopped = scanner.stopped;
    return result;
}

}  // namespace

ScanResult manager::orderScan(TrackMap tracks, const TrackMap &library)
{
    ScanResult result;
    const QCollator collator = nameCollator();
    struct Entry {
        QCollatorSortKey album;
        qint16 disc;
        qint16 number;
        QCollatorSortKey title;
        qint64 id;
    };
    std::vector<Entry> entries;
    entries.reserve(std::size_t(tracks.size()));
    for (const track &t : std::as_const(tracks))
        entries.push_back({collator.sortKey(t.albumname), t.reservedShort1, t.tracknumber,
            collator.sortKey(t.trackname), t.id});
    std::stable_sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        if (const int c = a.album.compare(b.album))
            return c < 0;
        if (a.disc != b.disc)
            return a.disc < b.disc;
        if (a.number != b.number)
            return a.number < b.number;
        return a.title.compare(b.title) < 0;
    });
    result.order.reserve(qsizetype(entries.size()));
    for (const Entry &entry : entries)
        result.order << entry.id;

    if (!library.isEmpty()) {
        QSet<QString> held;
        for (const track &t : library)
            held.insert(sameTrackKey(t));
        for (const track &t : std::as_const(tracks)) {
            if (held.contains(sameTrackKey(t)))
                result.inLibrary.insert(t.id);
        }
    }
    result.tracks = std::move(tracks);
    return result;
}

void manager::publishBrowser()
{
    if (m_viewer)
        m_viewer->rootContext()->setContextProperty(
            QStringLiteral("browserModel"), QVariant::fromValue(m_browserModel));
}

void manager::searchInMediaSource(const QString &source)
{
    if (m_searching) {
        writeLog(appLogFile(), QStringLiteral("Find Completed, "), source);
        return;
    }

    QString folder;
    int display = DisplayMusic;
    if (source == QLatin1String("mymusic")) {
        folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    } else if (source == QLatin1String("myvideos")) {
        folder = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        display = DisplayVideos;
    } else if (source == QLatin1String("mypictures")) {
        folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        display = DisplayPictures;
    } else if (source == QLatin1String("browse")) {
        folder = folderChooser ? folderChooser()
                               : QFileDialog::getExistingDirectory(nullptr, tr("Open Directory"),
                                   QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
        display = DisplayFolder;
    } else if (source == QLatin1String("itunes")) {
        display = DisplayItunes;
    } else {
        writeLog(appLogFile(), QStringLiteral("Unknown media source: "), source);
        return;
    }
    if (display != DisplayItunes && folder.isEmpty())
        return;

    writeLog(appLogFile(), QStringLiteral("Search media in "), source);
    m_browseMap.clear();
    m_displayType = display;
    const SystemInfo systemCopy = Combo::systemInfoCopy();
    const SystemInfo *system = &systemCopy;
    // The video switch is read before anything is parsed, so the iTunes import obeys it too.
    m_scanner.systemVideoSupported = system->video.supported;
    m_scanner.videoSupported();
    m_scanner.clearProtectedFiles();
    m_scanner.cancelSearch = false;
    track_data *scanner = &m_scanner;

    if (display == DisplayVideos && !system->video.supported) {
        writeLog(appLogFile(), QStringLiteral("No video search: the car plays no video"));
        showEmptyBrowser(m_messages.noVideo.arg(
            system->vehicle.isEmpty() ? QStringLiteral("chosen vehicle") : system->vehicle));
        return;
    }
    QFuture<ScanResult> job;
    const TrackMap library = m_library;
    if (display == DisplayItunes) {
        const QString itunes = QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
            + QStringLiteral("/iTunes/iTunes Music Library.xml");
        if (!QFileInfo::exists(itunes)) {
            writeLog(appLogFile(), QStringLiteral("No iTunes library at "), itunes);
            showEmptyBrowser(m_messages.noItunesLibrary.arg(QDir::toNativeSeparators(itunes)));
            return;
        }
        job = QtConcurrent::run([scanner, itunes, library] {
            track_data::setPersistentIdMap(readAlbumPersistentIds(itunes));
            return withSkips(
                orderScan(scanner->importItunes(parseItunesLibraryXml(itunes), TrackMap()), library),
                *scanner);
        });
    } else {
        if (!QFileInfo(folder).isDir()) {
            writeLog(appLogFile(), QStringLiteral("No such folder: "), folder);
            showEmptyBrowser(m_messages.noFolder.arg(QDir::toNativeSeparators(folder)));
            return;
        }
        job = QtConcurrent::run([scanner, folder, library] {
            return withSkips(orderScan(scanner->scanFolder(QDir(folder)), library), *scanner);
        });
    }
    m_searching = true;
    m_searchWatcher.setFuture(job);
    emit sgShowSearchProgress(QStringLiteral("Searching Files"));
}

void manager::showEmptyBrowser(const QString &reason)
{
    m_browseOrder.clear();
    m_browseInLibrary.clear();
    refreshBrowser();
    emit sgBrowserNote(reason);
    emit sgShowBrowser(m_displayType);
}

void manager::browsethread()
{
    m_searching = false;
    ScanResult result = m_searchWatcher.future().resultCount() > 0 ? m_searchWatcher.result() : ScanResult();
    m_browseMap = std::move(result.tracks);
    m_browseOrder = std::move(result.order);
    m_browseInLibrary = std::move(result.inLibrary);
    writeLog(
        appLogFile(), QStringLiteral("Search finished, files found: "), QString::number(m_browseMap.size()));
    emit sgHideSearchProgress();
    refreshBrowser();
    const QStringList protectedFiles = m_scanner.protectedFiles();
    if (!protectedFiles.isEmpty()) {
        QStringList names;
        for (const QString &path : protectedFiles)
            names << QFileInfo(path).fileName();
        emit sgShowMessage(m_messages.protectedMedia + QLatin1Char('\n') + names.join(QLatin1Char('\n')));
    }
    emit sgBrowserNote(
        m_messages.scanNote(result.skipped, int(m_browseMap.size()), result.stopped, QString()));
    emit sgShowBrowser(m_displayType);
}

void manager::refreshBrowser()
{
    QList<QObject *> rows;
    rows.reserve(m_browseMap.size());
    // The order comes with the scan; tracks it does not name (none, normally) follow in key order.
    QSet<qint64> placed;
    for (const qint64 id : std::as_const(m_browseOrder)) {
        const auto it = m_browseMap.constFind(id);
        if (it == m_browseMap.cend() || placed.contains(id))
            continue;
        placed.insert(id);
        TrackDataModel *row = trackRow(*it);
        row->setInLibrary(m_browseInLibrary.contains(id));
        rows << row;
    }
    for (const track &t : std::as_const(m_browseMap)) {
        if (!placed.contains(t.id))
            rows << trackRow(t);
    }
    std::swap(m_browserModel, rows);
    publishBrowser();
    qDeleteAll(rows);
}

void manager::slCancelSearch()
{
    // The scan's own stop: an add or a transfer running beside it goes on.
    m_scanner.cancelSearch = true;
}

void manager::slSelectBrowserItem(const QVariant &trackId, bool selected)
{
    const qint64 id = trackId.toLongLong();
    for (QObject *object : std::as_const(m_browserModel)) {
        auto *row = static_cast<TrackDataModel *>(object);
        if (row->trackid() == id)
            row->setSelected(selected);
    }
}

void manager::slSelectAllBrowserItems(bool selected)
{
    for (QObject *object : std::as_const(m_browserModel))
        static_cast<TrackDataModel *>(object)->setSelected(selected);
}

QList<track> manager::selectedBrowserTracks(bool all) const
{
    QList<track> tracks;
    for (QObject *object : m_browserModel) {
        const auto *row = static_cast<TrackDataModel *>(object);
        if (all || row->selected()) {
            const auto it = m_browseMap.constFind(row->trackid());
            if (it != m_browseMap.constEnd())
                tracks << it.value();
        }
    }
    return tracks;
}
