#include "manager.h"

#include "applog.h"
#include "combo.h"
#include "database.h"
#include "datamodels.h"
#include "ffmpeghandler.h"
#include "ituneslibrary.h"
#include "kivodb.h"
#include "qmlapplicationviewer.h"
#include "systeminfo.h"

#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHash>
#include <QQmlContext>
#include <QQuickItem>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>

namespace {

void clearModel(QList<QObject *> &list)
{
    qDeleteAll(list);
    list.clear();
}

}  // namespace

manager::manager(QObject *parent, bool storeChecked)
    : QObject(parent)
    , m_storeReady(storeChecked)
{
    connect(&m_searchWatcher, &QFutureWatcher<TrackMap>::finished, this, &manager::browsethread);
    connect(&m_copyWatcher, &QFutureWatcher<CopyResult>::finished, this, &manager::Copyfinished);
    connect(&m_removeWatcher, &QFutureWatcher<QStringList>::finished, this, &manager::removeFinished);
    connectConversion();
    m_graveyardTimer.setInterval(0);
    connect(&m_graveyardTimer, &QTimer::timeout, this, [this] { clearGraveyard(5000); });
    track_data::loadItunesArtworkIds();
    setMainValue();
}

manager::~manager()
{
    // The jobs work on members of this object; none may outlive it.
    m_scanner.cancelSearch = true;
    m_cancelCopy = true;
    ffmpeghandler::cancelTransfer();
    m_videoEncoding.onCanclePressed();
    m_searchWatcher.waitForFinished();
    m_transcodeWatcher.waitForFinished();
    m_copyWatcher.waitForFinished();
    m_removeWatcher.waitForFinished();
    m_videoEncoding.wait();
    for (QFutureWatcher<ModelLists> *job : std::as_const(m_modelJobs)) {
        job->waitForFinished();
        ModelLists lists = job->result();
        lists.generation = 0;
        takeModels(std::move(lists));
    }
    // The shown track lists are views of the rows, which own them.
    for (QList<QObject *> &rows : m_rows)
        bury(rows);
    for (QList<QObject *> *list : {&m_artistModel, &m_albumModel, &m_playlistModel, &m_browserModel})
        bury(*list);
    clearGraveyard(int(m_graveyard.size()));
}

qint16 manager::bitrateClass(qint16 bitrate)
{
    return ::bitrateClass(bitrate);
}

bool manager::init(QmlApplicationViewer *viewer, const QString &qmlFile)
{
    m_viewer = viewer;
    initContextProperties();
    if (!viewer->setMainQmlFile(qmlFile))
        return false;
    viewer->showMaximized();
    m_combo = new Combo(viewer->rootObject());
    return true;
}

void manager::initContextProperties()
{
    if (!m_viewer)
        return;
    QQmlContext *context = m_viewer->rootContext();
    try {
        QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
        settings.beginGroup(QStringLiteral("MainWindows"));
        context->setContextProperty(QStringLiteral("SelectedModelName"),
            settings.value(QStringLiteral("ModelName"), QStringLiteral("Select")).toString());
        context->setContextProperty(QStringLiteral("SelectedModelYearValue"),
            settings.value(QStringLiteral("ModelYearValue"), QStringLiteral("Select")).toString());
        settings.endGroup();

        for (const auto &text : MessageHandler::displayTexts())
            context->setContextProperty(text.first, text.second);
        context->setContextProperty(QStringLiteral("vehicleList"), Combo::vehicleList());
        context->setContextProperty(QStringLiteral("isDB"), kivoDB().libraryHasAlbums());
        context->setContextProperty(QStringLiteral("libraryLoadingAtStart"), m_modelsPending);
        context->setContextProperty(QStringLiteral("videoOptimisation"), m_videoProgress);
        context->setContextProperty(QStringLiteral("onMac"), false);
        const QScreen *screen = QGuiApplication::primaryScreen();
        context->setContextProperty(QStringLiteral("screenWidth"), screen ? screen->size().width() : 1280);
        // The drive code replaces these at its first poll.
        context->setContextProperty(QStringLiteral("driveList"), QStringList());
        context->setContextProperty(QStringLiteral("drivedetails"), QVariant::fromValue(QList<QObject *>()));
        publishModels();
        publishBrowser();
    } catch (...) {
        writeLog(appLogFile(), QStringLiteral("Exception in initContextProperties"),
            QStringLiteral(" manager.cpp"));
    }
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
    // The video switch is read before anything is parsed, so the iTunes import obeys it too.
    m_scanner.systemVideoSupported = Combo::systemInfo()->video.supported;
    m_scanner.videoSupported();
    m_scanner.clearProtectedFiles();
    m_scanner.cancelSearch = false;
    track_data *scanner = &m_scanner;

    QFuture<TrackMap> job;
    if (display == DisplayItunes) {
        const QString library = QStandardPaths::writableLocation(QStandardPaths::MusicLocation)
            + QStringLiteral("/iTunes/iTunes Music Library.xml");
        if (!QFileInfo::exists(library)) {
            writeLog(appLogFile(), QStringLiteral("No iTunes library at "), library);
            refreshBrowser();
            emit sgShowBrowser(m_displayType);
            return;
        }
        job = QtConcurrent::run([scanner, library] {
            track_data::setPersistentIdMap(readAlbumPersistentIds(library));
            return scanner->importItunes(parseItunesLibraryXml(library), TrackMap());
        });
    } else {
        job = QtConcurrent::run([scanner, folder] { return scanner->scanFolder(QDir(folder)); });
    }
    m_searching = true;
    m_searchWatcher.setFuture(job);
    emit sgShowSearchProgress(QStringLiteral("Searching Files"));
}

void manager::browsethread()
{
    m_searching = false;
    m_browseMap = m_searchWatcher.future().resultCount() > 0 ? m_searchWatcher.result() : TrackMap();
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
    emit sgShowBrowser(m_displayType);
}

void manager::refreshBrowser()
{
    QList<QObject *> rows;
    rows.reserve(m_browseMap.size());
    for (const track &t : std::as_const(m_browseMap))
        rows << trackRow(t);
    std::swap(m_browserModel, rows);
    publishBrowser();
    clearModel(rows);
}

void manager::slCancelSearch()
{
    m_scanner.cancelSearch = true;
    ffmpeghandler::cancelTransfer();
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

void manager::slAddToLibrary(bool all)
{
    if (m_copying)
        return;
    if (!m_storeReady || Database::storeIsReadOnly()) {
        emit sgShowMessage(m_storeReady ? m_messages.readOnlyLibrary : m_messages.libraryOpening);
        return;
    }
    const QList<track> tracks = selectedBrowserTracks(all);
    if (tracks.isEmpty()) {
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    writeLog(appLogFile(), QStringLiteral("Add to library: "), QString::number(tracks.size()));
    m_cancelCopy = false;
    m_copying = true;
    m_addTotal = int(tracks.size());
    m_added = 0;
    m_addFailures.clear();
    m_setAside.clear();
    m_adding.clear();
    m_toCopy.clear();
    for (track t : tracks) {
        if (t.originalPath.isEmpty())
            t.originalPath = t.filepath;
        t.filepath = libraryFolderFor(t) + QLatin1Char('/') + QFileInfo(t.originalPath).fileName();
        m_toCopy << t.filepath;
        m_adding.insert(t.id, t);
    }
    emit sgUpdateCopyProgress(0, m_addTotal);
    addToMainObjectThreadFinished();
}

void manager::Copyfinished()
{
    CopyResult result = m_copyWatcher.result();
    writeLog(appLogFile(), QStringLiteral("Copy finished, added: "), QString::number(result.added.size()));
    m_added += int(result.added.size());
    m_addFailures += result.failures;
    // The store decides the artist, album and playlist ids, so the map is the one read back from it.
    if (result.libraryLoaded)
        m_library = std::move(result.library);
    else
        m_reloadAfterAdd = true;
    if (!m_videosToOptimise.isEmpty() && !result.cancelled && !m_cancelCopy) {
        startVideoOptimising();
        return;
    }
    finishAdd(result.cancelled || m_cancelCopy);
}

void manager::slCancelCopy()
{
    m_cancelCopy = true;
    ffmpeghandler::cancelTransfer();
    if (m_videoEncoding.isRunning())
        slCancelVideOptimising();
}

QStringList manager::removeAll(const QStringList &paths)
{
    QStringList removed;
    kivoDB store;
    for (const QString &path : paths) {
        if (store.deleteTrackByPath(QSqlDatabase(), path))
            removed << path;
        else
            writeLog(appLogFile(), QStringLiteral("Remove failed: "),
                path + QStringLiteral(" ") + kivoDB::lastError());
    }
    return removed;
}

void manager::slRemoveFromLibrary(const QVariant &trackIds)
{
    if (m_removing || m_copying)
        return;
    if (!m_storeReady || Database::storeIsReadOnly()) {
        emit sgShowMessage(m_storeReady ? m_messages.readOnlyLibrary : m_messages.libraryOpening);
        return;
    }
    QStringList paths;
    for (const QVariant &id : trackIds.toList()) {
        const auto it = m_library.constFind(id.toLongLong());
        if (it != m_library.constEnd() && !paths.contains(it->filepath))
            paths << it->filepath;
    }
    if (paths.isEmpty()) {
        emit sgShowMessage(m_messages.noMediaSelected);
        return;
    }
    m_removing = true;
    m_removeWatcher.setFuture(QtConcurrent::run(&manager::removeAll, paths));
}

void manager::removeFinished()
{
    m_removing = false;
    const QStringList removed = m_removeWatcher.result();
    const QSet<QString> gone(removed.cbegin(), removed.cend());
    for (auto it = m_library.begin(); it != m_library.end();) {
        if (gone.contains(it->filepath))
            it = m_library.erase(it);
        else
            ++it;
    }
    writeLog(appLogFile(), QStringLiteral("Removed from library: "), QString::number(removed.size()));
    buildModels();
}

void manager::slSearchLibrary(const QString &text)
{
    m_searchText = text.trimmed();
    startModelJob(Build::Search);
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
    // The stored row replaced the old one under a new id.
    m_library.remove(t.id);
    t.id = newId;
    m_library.insert(t.id, t);
}

void manager::updateMainObjectMgr(track t)
{
    if (t.id < 1) {
        m_repairDone = m_repairTotal = 0;
        setMainValue();
        emit sgUpdateRepairProgress(0, 0);
        return;
    }
    storeInLibrary(t);
    UpdateAPIProgress();
}

void manager::UpdateAPIProgress()
{
    if (m_repairDone + 1 < m_repairTotal)
        ++m_repairDone;
    emit sgUpdateRepairProgress(m_repairDone, m_repairTotal);
}

void manager::saveData()
{
    if (m_saved)
        return;
    m_saved = true;
    m_scanner.cancelSearch = true;
    m_cancelCopy = true;
    ffmpeghandler::cancelTransfer();
    if (m_videoEncoding.isRunning())
        slCancelVideOptimising();
    // Pool jobs may still be writing to the store or the log; let them end first.
    m_searchWatcher.waitForFinished();
    m_transcodeWatcher.waitForFinished();
    m_videoEncoding.wait();
    m_copyWatcher.waitForFinished();
    m_removeWatcher.waitForFinished();
    QThreadPool::globalInstance()->waitForDone();
    writeLog(appLogFile(), QStringLiteral("Closed KiVO"));
    closeLogFile(appLogFile());
}

void manager::exeClose()
{
    saveData();
    if (m_viewer)
        m_viewer->close();
    QCoreApplication::quit();
}
