#include "qmain.h"

#include "applog.h"
#include "apppaths.h"
#include "combo.h"
#include "database.h"
#include "drive.h"
#include "manager.h"
#include "messagehandler.h"
#include "processmemory.h"
#include "qmlapplicationviewer.h"
#include "swupdater.h"
#include "systeminfo.h"
#include "track.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QMessageBox>
#include <QQuickItem>
#include <QThreadPool>

#include <algorithm>

namespace {

// Enough for the deepest work that waits on work of its own in the shared pool.
constexpr int kLeastPoolThreads = 4;

}  // namespace

KivoApplication::KivoApplication()
{
    platform::limitMemoryArenas();
}

KivoApplication::~KivoApplication()
{
    shutdown();
}

QString KivoApplication::lockFilePath()
{
    return QDir(AppPaths().dataDir).filePath(QStringLiteral("UniqueID.lock"));
}

QString KivoApplication::debugLogPath()
{
    return QDir(AppPaths().dataDir).filePath(QStringLiteral("debug.log"));
}

QString KivoApplication::frontEndPath(const QString &qmlFile, const QString &programDir)
{
    if (QFileInfo(qmlFile).isAbsolute() || QFileInfo::exists(qmlFile))
        return qmlFile;
    QStringList folders{programDir, programDir + QStringLiteral("/../share/kivo")};
#ifdef KIVO_INSTALL_DATADIR
    folders << QStringLiteral(KIVO_INSTALL_DATADIR);
#endif
    for (const QString &folder : std::as_const(folders)) {
        const QString candidate = QDir::cleanPath(folder + QLatin1Char('/') + qmlFile);
        if (!folder.isEmpty() && QFileInfo::exists(candidate))
            return candidate;
    }
    return qmlFile;
}

KivoApplication::Result KivoApplication::start(const StartOptions &options)
{
    const auto showError = options.showError ? options.showError : [](const QString &text) {
        QMessageBox::critical(nullptr, QStringLiteral("KiVO"), text);
    };

    // Work on the shared pool waits for work it hands the same pool (an add's scan for its reads
    // and covers): on a machine of one core the pool's one thread would wait for itself.
    QThreadPool *const pool = QThreadPool::globalInstance();
    pool->setMaxThreadCount(std::max(kLeastPoolThreads, pool->maxThreadCount()));

    // The instance test comes before the logs are touched: a second instance must not wipe the
    // logs of the one already running.
    QDir().mkpath(AppPaths().dataDir);
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0)) {
        const bool openAnother = options.askOpenAnother
            ? options.askOpenAnother()
            : QMessageBox::question(nullptr, QStringLiteral("KiVO"),
                  QStringLiteral("One instance is already running. Do you want to open another?"))
                == QMessageBox::Yes;
        if (!openAnother)
            return Result::Declined;
        m_secondInstance = true;
    }

    const QString logPath = debugLogPath();
    if (!m_secondInstance)
        QFile::remove(logPath);
    setLogFile(appLogFile(), logPath, !m_secondInstance);
    writeLog(appLogFile(), QStringLiteral("Start KiVO"));

    registerTrackMetaTypes();
    initKivoResources();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":resources/logos/corvane_app_logo.png")));
    m_viewer = std::make_unique<QmlApplicationViewer>();

    m_database = std::make_unique<Database>();
    // A file open() could not check yet is checked, and only then set up, by the first load.
    if (!m_database->open(QStringLiteral("KivoData"), true)
        || (m_database->isChecked() && !m_database->initStructure())) {
        const QString text = MessageHandler().databaseFailed + QLatin1Char('\n') + m_database->lastError();
        writeLog(appLogFile(), QStringLiteral("Start-up stopped: "), text);
        showError(text);
        return Result::DatabaseFailed;
    }

    m_manager = std::make_unique<manager>(nullptr, m_database->isChecked());
    QObject::connect(
        m_manager.get(), &manager::sgStoreDamaged, m_manager.get(), [this, showError](const QString &text) {
            m_storeFailure = text;
            writeLog(appLogFile(), QStringLiteral("Start-up stopped: "), text);
            showError(text);
            if (m_viewer)
                m_viewer->close();
            QCoreApplication::exit(1);
        });
    const QString programDir
        = options.programDir.isEmpty() ? QCoreApplication::applicationDirPath() : options.programDir;
    if (!m_manager->init(m_viewer.get(), frontEndPath(options.qmlFile, programDir))) {
        showError(m_viewer->errorText());
        return Result::FrontEndFailed;
    }
    m_drive = std::make_unique<Drive>(m_viewer.get(), nullptr);
    connectRoot();
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, m_manager.get(), &manager::saveData);
    m_viewer->show();
    // The first page is chosen only now, when the root's signals reach their slots.
    QMetaObject::invokeMethod(m_viewer->rootObject(), "slStart");
    if (m_database->isReadOnly())
        QMetaObject::invokeMethod(
            m_viewer->rootObject(), "showmessageBox", Q_ARG(QVariant, MessageHandler().readOnlyLibrary));
    if (options.checkForUpdates)
        SwUpdater::startupCheck();
    return Result::Started;
}

void KivoApplication::join(
    QObject *sender, const char *signal, QObject *receiver, const char *slot, Qt::ConnectionType type)
{
    ++m_connectionCount;
    if (QObject::connect(sender, signal, receiver, slot, type))
        return;
    const QString line
        = QStringLiteral("%1 %2 -> %3 %4")
              .arg(QString::fromLatin1(sender->metaObject()->className()), QString::fromLatin1(signal + 1),
                  QString::fromLatin1(receiver->metaObject()->className()), QString::fromLatin1(slot + 1));
    m_failedConnections << line;
    writeLog(appLogFile(), QStringLiteral("Connection failed: "), line);
}

void KivoApplication::connectRoot()
{
    QObject *root = m_viewer->rootObject();
    manager *mgr = m_manager.get();
    Combo *combo = mgr->combo();

    join(root, SIGNAL(sgVehicleChosen(QString, QString, QString, int)), combo,
        SLOT(slVehicleChosen(QString, QString, QString, int)));
    join(root, SIGNAL(sgCheckMediaLibrary(int)), combo, SLOT(slCheckMediaLibrary(int)));
    join(root, SIGNAL(sgRefreshMain()), mgr, SLOT(setMainValue()));
    join(root, SIGNAL(sgClose()), mgr, SLOT(exeClose()));

    join(root, SIGNAL(sgSearchInMediaSource(QString)), mgr, SLOT(searchInMediaSource(QString)));
    join(root, SIGNAL(sgCancelSearch()), mgr, SLOT(slCancelSearch()));
    join(root, SIGNAL(sgSelectAllBrowserItems(bool)), mgr, SLOT(slSelectAllBrowserItems(bool)));
    join(root, SIGNAL(sgAddToLibrary(bool)), mgr, SLOT(slAddToLibrary(bool)));
    join(root, SIGNAL(sgCancelCopy()), mgr, SLOT(slCancelCopy()));
    join(root, SIGNAL(sgRemoveFromLibrary(QVariant)), mgr, SLOT(slRemoveFromLibrary(QVariant)));
    join(root, SIGNAL(sgSearchLibrary(QString)), mgr, SLOT(slSearchLibrary(QString)));
    join(root, SIGNAL(sgPopulateAdvancedSettings()), mgr, SLOT(slPopulateAdvancedSettings()));
    join(root, SIGNAL(sgCollectMediaToUpdate(QVariant)), mgr, SLOT(collectMediaToUpdate(QVariant)));
    join(root, SIGNAL(sgCancelOptimization()), mgr, SLOT(cancelOptimization()));
    join(root, SIGNAL(sgPauseRepair(bool)), mgr, SLOT(slPauseRepair(bool)));
    join(root, SIGNAL(sgOpenDetail(QString, QString)), mgr, SLOT(slOpenDetail(QString, QString)));
    join(root, SIGNAL(sgConfirmRemove(QVariant)), mgr, SLOT(slConfirmRemove(QVariant)));
    join(root, SIGNAL(sgSelectPlaylist(QString, bool)), mgr, SLOT(slSelectPlaylist(QString, bool)));
    join(root, SIGNAL(sgSelectionChanged()), mgr, SLOT(slSelectionChanged()));

    join(mgr, SIGNAL(sgShowMessage(QVariant)), root, SLOT(showmessageBox(QVariant)));
    join(mgr, SIGNAL(sgShowSearchProgress(QVariant)), root, SLOT(slShowSearchProgress(QVariant)));
    join(mgr, SIGNAL(sgHideSearchProgress()), root, SLOT(slHideSearchProgress()));
    join(mgr, SIGNAL(sgShowBrowser(QVariant)), root, SLOT(slShowBrowser(QVariant)));
    join(mgr, SIGNAL(sgUpdateCopyProgress(QVariant, QVariant)), root,
        SLOT(slUpdateCopyProgress(QVariant, QVariant)));
    join(mgr, SIGNAL(sgCopyFinished(QVariant)), root, SLOT(slCopyFinished(QVariant)));
    join(mgr, SIGNAL(sgUpdateTranscodingCounter(QVariant, QVariant)), root,
        SLOT(slUpdateTranscodingCounter(QVariant, QVariant)));
    join(mgr, SIGNAL(sgUpdateConversionProgress(QVariant, QVariant, QVariant, QVariant)), root,
        SLOT(slUpdateConversionProgress(QVariant, QVariant, QVariant, QVariant)));
    join(mgr, SIGNAL(sgUpdateRepairProgress(QVariant, QVariant)), root,
        SLOT(slUpdateRepairProgress(QVariant, QVariant)));
    join(mgr, SIGNAL(sgLibraryChanged(QVariant)), root, SLOT(slLibraryChanged(QVariant)));
    join(mgr, SIGNAL(sgLibraryLoading(QVariant)), root, SLOT(slLibraryLoading(QVariant)));
    join(mgr, SIGNAL(sgBrowserNote(QVariant)), root, SLOT(slBrowserNote(QVariant)));
    join(mgr, SIGNAL(sgShowStatus(QVariant)), root, SLOT(slShowStatus(QVariant)));
    join(mgr, SIGNAL(sgShowLibraryTab(QVariant)), root, SLOT(slShowLibraryTab(QVariant)));
    join(mgr, SIGNAL(sgShowDetail(QVariant, QVariant)), root, SLOT(slShowDetail(QVariant, QVariant)));
    join(mgr, SIGNAL(sgAskRemoval(QVariant, QVariant)), root, SLOT(slAskRemoval(QVariant, QVariant)));
    join(mgr, SIGNAL(sgShowTicked(QVariant)), root, SLOT(slShowTicked(QVariant)));
    join(root, SIGNAL(exeRemoveTransfer(QString)), mgr, SLOT(exeRemoveTransfer(QString)));
    join(mgr, SIGNAL(showTransferBrowser()), root, SLOT(showTransferBrowser()));

    Drive *drive = m_drive.get();
    join(root, SIGNAL(transferTomedia(int)), drive, SLOT(timerexe(int)));
    join(root, SIGNAL(sgProgressStoped(int)), drive, SLOT(slProgressStoped(int)));
    join(root, SIGNAL(continueDrive(QString, int, int, int, int)), drive,
        SLOT(ContinueDrive(QString, int, int, int, int)));
    join(root, SIGNAL(transferandSyncDialog()), drive, SLOT(openDialog()));
    join(drive, SIGNAL(showMessageBox(QVariant)), root, SLOT(showmessageBox(QVariant)));
    join(drive, SIGNAL(sgUpdateTransferProgress(QVariant, QVariant, QVariant)), root,
        SLOT(slUpdateTransferProgress(QVariant, QVariant, QVariant)));
    join(drive, SIGNAL(sgFolderChosen(QVariant)), root, SLOT(slFolderChosen(QVariant)));
    join(drive, SIGNAL(sgShowFormatWait()), root, SLOT(slShowLoading()));
    join(drive, SIGNAL(sgHideFormatWait()), root, SLOT(slHideLoading()));
    join(drive, SIGNAL(sgShowTransferProgress()), root, SLOT(slShowTransferProgress()), Qt::DirectConnection);
    // The drive tells the count only with the first file done, which may take seconds; the box
    // shows how many are coming from the moment it opens. The transfer takes the whole selection.
    QObject::connect(drive, &Drive::sgShowTransferProgress, root, [root] {
        QMetaObject::invokeMethod(root, "slUpdateTransferProgress",
            Q_ARG(QVariant, int(Drive::transferMap().size())), Q_ARG(QVariant, 0),
            Q_ARG(QVariant, QString()));
    });
    join(drive, SIGNAL(sgHideTransferProgress()), root, SLOT(slhideTransferProgress()), Qt::DirectConnection);
}

void KivoApplication::shutdown()
{
    if (m_manager)
        m_manager->saveData();
    m_drive.reset();
    m_manager.reset();
    m_viewer.reset();
    if (m_database)
        m_database->close();
    m_database.reset();
    if (m_lock && !m_secondInstance)
        m_lock->unlock();
    m_lock.reset();
}

int qMain(int argc, char *argv[])
{
    QApplication app(argc, argv);
    KivoApplication kivo;
    switch (kivo.start()) {
    case KivoApplication::Result::Started:
        break;
    case KivoApplication::Result::Declined:
        return 0;
    default:
        return 1;
    }
    const int code = app.exec();
    kivo.shutdown();
    return code;
}
