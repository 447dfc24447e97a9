#pragma once

#include "drivedata.h"
#include "drivemessages.h"
#include "ffmpeghandler.h"
#include "formatter.h"
#include "track.h"
#include "volumes.h"

#include <QFutureWatcher>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>

class QQuickView;
struct SystemInfo;

// What the format job needs, taken on the main thread from the listed entry, so the job never
// reads the drive list the poll changes.
struct FormatJob {
    bool format = false;
    bool listedDrive = false;  // a listed stick or card, not a chosen folder
    QString mountPath;
    // Folders whose disks are never formatted: the system's root, the data and program folders.
    QStringList keptPaths;
    platform::FileSystemKind kind = platform::FileSystemKind::Fat32;
    // Filled by the guard:
    QString device;
    QString label;
};

struct FormatOutcome {
    bool formatted = false;
    QString refusal;  // the guard refused the format: nothing is formatted or transferred
    QString error;  // the format failed: nothing is transferred
    QString mountPath;  // where the target is mounted now
    qint64 bytesFree = 0;  // its free space now (a drive, not a chosen folder)
};

// What one poll read off the main thread: a slow or hung mount never holds the window.
struct DrivePoll {
    quint64 generation = 0;
    QStringList listed;  // the listed paths the poll looked at
    QStringList present;  // those of them that still exist
    QList<platform::MountedVolume> removable;
    QList<platform::MountedVolume> added;  // volumes not listed yet, with settled sizes
    bool unsettled = false;  // a new volume's size changed between reads: nothing is published
};

struct DrivePollLink;

// Serves the transfer-and-sync dialog: lists the removable drives and a chosen folder once a
// second while it is open, formats the chosen drive when asked, starts the transfer and turns its
// reports into progress and messages. The live one is made with the window; only it polls,
// formats and transfers. The transfer selection is one map shared by every Drive.
class Drive : public QObject
{
    Q_OBJECT

public:
    Drive();
    Drive(QQuickView *view, QObject *parent);
    ~Drive() override;

    // The Drive the library controller hands the selection to: the live one once it exists.
    static Drive *instance();
    static void setTransferMap(const TrackMap &tracks);
    static TrackMap transferMap();

    // True when the volume mounted at `path` sits on a USB bus or is an SD/MMC card.
    bool isUsbDrive(const QString &path) const;

    // Where the volumes come from, how format commands run and how a folder is chosen; tests
    // replace them.
    void setVolumeProvider(const platform::VolumeProvider &provider) { m_provider = provider; }
    platform::Formatter formatter;
    std::function<QString()> folderChooser;

    const QStringList &driveList() const { return m_drivePaths; }
    QList<QObject *> drivedetails() const;
    bool isPolling() const { return m_pollTimer.isActive(); }
    bool isBusy() const
    {
        return m_formatPending || m_formatWatcher.isRunning() || m_transferWatcher.isRunning();
    }
    // Closing: stops the transfer asked for or running, at its next chunk; waits for nothing.
    void stopJobs();

signals:
    void showDrivesData(QVariant driveData);
    void showMessageBox(QVariant message);
    void sgShowTransferProgress();
    void sgHideTransferProgress();
    void sgUpdateTransferProgress(QVariant total, QVariant count, QVariant file);
    void sgShowFormatWait();
    void sgHideFormatWait();
    // The transfer this Drive started has ended, however it ended.
    void sgTransferEnded(TransferReport report);
    // A poll's reading has been taken into the lists.
    void drivesRead();
    // The folder chooser has closed with this folder, or with none when it was cancelled: a folder
    // listed already looks the same in the lists either way.
    void sgFolderChosen(QVariant folder);

public slots:
    // 1 starts polling with empty lists, 0 stops it and publishes the emptied lists.
    void timerexe(int flag);
    // Starts one reading of the drives on a thread of its own, unless one is still reading; the
    // lists change and are published when it reports (drivesRead).
    void GetDriveDetail();
    QString createDriveName(const QString &Name);
    void ContinueDrive(
        const QString &drive, int format, int overwriteall, int overwritenewer, int overwritequality);
    void openDialog();
    void count();
    void slOneFileCopyed(const QString &fileName);
    void slOneFileTranscoded(const QString &fileName);
    void slWritingToDrive();
    void slArranging(const QString &folderName);
    void slDiskFull();
    void slProgressStoped(int flagStop);
    void slDriveRemoved();
    void finishFormatDrive();
    void slTransferFinished(const TransferReport &report);

private:
    FormatOutcome formatDrive(FormatJob job) const;
    // Why the target may not be formatted; "" when it may, with `job` filled. Reads the mount
    // table and sysfs: runs in the format job, never on the main thread.
    QString formatRefusal(FormatJob *job) const;
    static DrivePoll readDrives(const platform::VolumeProvider &provider, const QStringList &listed);
    void takePoll(const DrivePoll &poll);
    // The poll thread no longer reports to this object.
    void detachPoll();
    DriveData *listedEntry(const QString &path) const;
    void clearLists();
    // Lists `folder` (none when empty) as the chosen folder from the next poll on.
    void offerFolder(const QString &folder);
    // Deletes the entries that neither list holds any more.
    void dropUnused(const QList<DriveData *> &candidates);
    void publish();

    QPointer<QQuickView> m_view;
    QString m_drive;
    int m_overwriteall = 0;
    int m_overwritenewer = 0;
    int m_overwritequality = 0;
    // The request in hand, made when the user asked: its system copy and its stop.
    transferDetail m_request;
    // From the format job's start until its end is taken in, where the transfer starts: the job
    // may have finished before its end is told, and the request is still in hand then.
    bool m_formatPending = false;

    platform::VolumeProvider m_provider;
    QTimer m_pollTimer;
    QString m_chosenFolder;
    QString m_lastFolder;  // chosen through "Open Directory", offered again while the program runs
    QStringList m_drivePaths;
    QMap<qint64, DriveData *> m_driveMap;
    QMap<qint64, DriveData *> m_folderMap;
    qint64 m_nextDriveKey = 1;
    std::shared_ptr<DrivePollLink> m_pollLink;
    bool m_pollRunning = false;
    quint64 m_pollGeneration = 0;
    QFutureWatcher<FormatOutcome> m_formatWatcher;
    QFutureWatcher<TransferReport> m_transferWatcher;
    ffmpeghandler m_transferHandler;
    DriveMessages m_messages;
    int m_transferTotal = 0;
    int m_transferDone = 0;
};
