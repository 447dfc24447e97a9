#include "manager.h"

#include "apimanager.h"
#include "storewriter.h"

#include "applog.h"
#include "combo.h"
#include "database.h"
#include "datamodels.h"
#include "drive.h"
#include "ffmpeghandler.h"
#include "kivodb.h"
#include "qmlapplicationviewer.h"
#include "systeminfo.h"

#include <QDir>
#include <QGuiApplication>
#include <QHash>
#include <QQmlContext>
#include <QQuickItem>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>

manager::manager(QObject *parent, bool storeChecked)
    : QObject(parent)
    , m_storeReady(storeChecked)
{
    connect(&m_searchWatcher, &QFutureWatcher<ScanResult>::finished, this, &manager::browsethread);
    connect(&m_copyWatcher, &QFutureWatcher<CopyResult>::finished, this, &manager::Copyfinished);
    connect(&m_removeWatcher, &QFutureWatcher<QStringList>::finished, this, &manager::removeFinished);
    connectConversion();
    connectRepair();
    m_graveyardTimer.setInterval(0);
    connect(&m_graveyardTimer, &QTimer::timeout, this, [this] { clearGraveyard(5000); });
    track_data::loadItunesArtworkIds();
    setMainValue();
}

manager::~manager()
{
    // The jobs work on members of this object; none may outlive it.
    m_scanner.cancelSearch = true;
    m_addStop->raise();
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
    for (QList<QObject *> *list :
        {&m_artistModel, &m_albumModel, &m_playlistModel, &m_browserModel, &m_detailModel})
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
    // The window has its size before the front end is made, so nothing is first laid out at a
    // size that is not yet known; 1024 x 600 is the least every page is made for.
    const QSize least(1024, 600);
    QSize size(1280, 800);
    if (const QScreen *screen = viewer->screen())
        size = size.boundedTo(screen->availableSize()).expandedTo(least);
    viewer->setMinimumSize(least);
    viewer->resize(size);
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
        publishDetail();
    } catch (...) {
        writeLog(appLogFile(), QStringLiteral("Exception in initContextProperties"),
            QStringLiteral(" manager.cpp"));
    }
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
    m_addStop = std::make_shared<StopToken>();
    m_copying = true;
    m_addTotal = int(tracks.size());
    m_added = 0;
    m_addFailures.clear();
    m_setAside.clear();
    m_adding.clear();
    m_toCopy.clear();
    m_addedCounts = {};
    // A file met as an album track and as playlist entries is copied, and converted, once: its
    // entries share the track's place in the library (the first entry's when no track has it).
    QHash<QString, QString> placeOf;
    for (const bool entries : {false, true}) {
        for (track t : tracks) {
            if (t.playlist.isEmpty() == entries)
                continue;
            if (t.originalPath.isEmpty())
                t.originalPath = t.filepath;
            const QString own = libraryFolderFor(t) + QLatin1Char('/') + QFileInfo(t.originalPath).fileName();
            // A video is optimised into a file of its own, which no entry shares.
            if (t.isVideo) {
                t.filepath = own;
            } else {
                QString &place = placeOf[QDir::cleanPath(t.originalPath)];
                if (place.isEmpty())
                    place = own;
                t.filepath = place;
            }
            m_toCopy.insert(t.filepath);
            m_adding.insert(t.id, t);
        }
    }
    emit sgUpdateCopyProgress(0, m_addTotal);
    addToMainObjectThreadFinished();
}

void manager::Copyfinished()
{
    CopyResult result = m_copyWatcher.result();
    writeLog(appLogFile(), QStringLiteral("Copy finished, added: "), QString::number(result.added.size()));
    for (const track &t : std::as_const(result.added)) {
        countAdded(t);
        m_addedTracks.insert(t.id, t);
    }
    m_addFailures += result.failures;
    // The store decides the artist, album and playlist ids, so the map is the one read back from it.
    if (result.libraryLoaded)
        m_library = std::move(result.library);
    else
        m_reloadAfterAdd = true;
    if (!m_videosToOptimise.isEmpty() && !result.cancelled && !m_addStop->stopped()) {
        startVideoOptimising();
        return;
    }
    finishAdd(result.cancelled || m_addStop->stopped());
}

void manager::slCancelCopy()
{
    // The add's own stop: a transfer or a scan running beside it goes on.
    m_addStop->raise();
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
    // A repair in flight neither stores nor writes these files again.
    if (m_repair)
        m_repair->forgetFiles(paths);
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

void manager::saveData()
{
    if (m_saved)
        return;
    m_saved = true;
    stopAllJobs();
    stopRepairForClosing();
    // Pool jobs may still be writing to the store or the log; let them end first. Each was
    // stopped above and ends at its next chunk or check, so this is short.
    m_searchWatcher.waitForFinished();
    m_transcodeWatcher.waitForFinished();
    m_videoEncoding.wait();
    m_copyWatcher.waitForFinished();
    m_removeWatcher.waitForFinished();
    QThreadPool::globalInstance()->waitForDone();
    writeLog(appLogFile(), QStringLiteral("Closed KiVO"));
    closeLogFile(appLogFile());
}

void manager::stopAllJobs()
{
    m_scanner.cancelSearch = true;
    m_addStop->raise();
    if (m_videoEncoding.isRunning())
        slCancelVideOptimising();
    Drive::instance()->stopJobs();
}

void manager::exeClose()
{
    // The window goes first: the jobs are told to stop at once, and what is left of them ends
    // out of the user's sight.
    stopAllJobs();
    if (m_viewer)
        m_viewer->close();
    saveData();
    QCoreApplication::quit();
}
