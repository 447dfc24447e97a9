#include "drive.h"

#include "applog.h"

#include <QDebug>
#include <QFileInfo>
#include <QPointer>
#include <QQmlContext>
#include <QQuickView>

#include <iostream>

namespace {

TrackMap &sharedTransferMap()
{
    static TrackMap map;
    return map;
}

QPointer<Drive> &liveDrive()
{
    static QPointer<Drive> drive;
    return drive;
}

}  // namespace

Drive::Drive() = default;

Drive::Drive(QQuickView *view, QObject *parent)
    : QObject(parent)
    , m_view(view)
{
    liveDrive() = this;
    connect(&m_pollTimer, &QTimer::timeout, this, &Drive::GetDriveDetail);
    m_pollTimer.setInterval(1000);
    connect(&m_transferHandler, &ffmpeghandler::incrementProgress, this, &Drive::slOneFileCopyed,
        Qt::QueuedConnection);
    connect(&m_transferHandler, &ffmpeghandler::sgFiletranscoded, this, &Drive::slOneFileTranscoded,
        Qt::QueuedConnection);
    connect(&m_transferHandler, &ffmpeghandler::sgWritingToDrive, this, &Drive::slWritingToDrive,
        Qt::QueuedConnection);
    connect(&m_transferHandler, &ffmpeghandler::sgArranging, this, &Drive::slArranging, Qt::QueuedConnection);
    connect(&m_transferHandler, &ffmpeghandler::sgDiskFull, this, &Drive::slDiskFull, Qt::QueuedConnection);
    connect(&m_transferHandler, &ffmpeghandler::sgDriveRemoved, this, &Drive::slDriveRemoved,
        Qt::QueuedConnection);
    // The end is taken from the job's own finish, so the drive is free again when it is told.
    connect(&m_transferWatcher, &QFutureWatcher<TransferReport>::finished, this,
        [this] { slTransferFinished(m_transferWatcher.result()); });
    connect(&m_formatWatcher, &QFutureWatcher<FormatOutcome>::finished, this, &Drive::finishFormatDrive);
}

Drive::~Drive()
{
    detachPoll();
    // The jobs use this object's handler and formatter; neither may outlive it. The transfer
    // ends at its next chunk, so the wait is short.
    stopJobs();
    m_formatWatcher.waitForFinished();
    m_transferWatcher.waitForFinished();
    m_pollTimer.stop();
}

Drive *Drive::instance()
{
    if (liveDrive())
        return liveDrive();
    static Drive idle;
    return &idle;
}

void Drive::setTransferMap(const TrackMap &tracks)
{
    sharedTransferMap() = tracks;
}

TrackMap Drive::transferMap()
{
    return sharedTransferMap();
}

QList<QObject *> Drive::drivedetails() const
{
    QList<QObject *> list;
    for (DriveData *data : m_driveMap)
        list << data;
    return list;
}

void Drive::dropUnused(const QList<DriveData *> &candidates)
{
    for (DriveData *data : candidates) {
        // The chosen folder's entry stands in both maps until the dialog replaces it.
        if (!m_driveMap.values().contains(data) && !m_folderMap.values().contains(data))
            data->deleteLater();
    }
}

void Drive::clearLists()
{
    // A poll still reading reports lists that are gone.
    ++m_pollGeneration;
    const QList<DriveData *> listed = m_driveMap.values();
    m_driveMap.clear();
    m_drivePaths.clear();
    dropUnused(listed);
}

void Drive::timerexe(int flag)
{
    if (flag == 0) {
        m_pollTimer.stop();
        clearLists();
        publish();
        std::cout << "timmer stoped" << std::endl;
    } else if (flag == 1) {
        m_nextDriveKey = 1;
        writeLog(appLogFile(), QStringLiteral("Launching Transfer and Sync Dialog"));
        std::cout << "timmer starts now" << std::endl;
        clearLists();
        // The folder chosen last is offered again, as long as it is there.
        offerFolder(QFileInfo(m_lastFolder).isDir() ? m_lastFolder : QString());
        m_pollTimer.start();
    }
}

void Drive::count() { }

void Drive::slOneFileCopyed(const QString &fileName)
{
    ++m_transferDone;
    emit sgUpdateTransferProgress(m_transferTotal, m_transferDone, fileName);
    if (m_transferDone == m_transferTotal)
        timerexe(0);
}

void Drive::slOneFileTranscoded(const QString &fileName)
{
    qDebug() << fileName << "File Transcodec";
}

// The window says so until the end message, so the drive is not pulled meanwhile.
void Drive::slWritingToDrive()
{
    emit sgUpdateTransferProgress(m_transferTotal, m_transferDone, m_messages.writingToDrive);
}

// Moving a large folder's files takes a while after its last file was counted.
void Drive::slArranging(const QString &folderName)
{
    emit sgUpdateTransferProgress(m_transferTotal, m_transferDone, m_messages.arranging.arg(folderName));
}

// The message, with what arrived, comes with the run's end.
void Drive::slDiskFull()
{
    emit sgUpdateTransferProgress(1, 1, QString());
}

void Drive::slDriveRemoved()
{
    emit sgHideTransferProgress();
}

void Drive::slProgressStoped(int)
{
    stopJobs();
}

void Drive::stopJobs()
{
    ffmpeghandler::cancelTransfer(m_request);
}

void Drive::slTransferFinished(const TransferReport &report)
{
    // The dialog closed when the transfer began; nothing is left to list drives for.
    emit sgHideTransferProgress();
    if (m_pollTimer.isActive())
        timerexe(0);
    emit showMessageBox(m_messages.endOfTransfer(report, m_transferTotal, appLogFile()->fileName));
    emit sgTransferEnded(report);
}

void Drive::publish()
{
    if (!m_view)
        return;
    QQmlContext *context = m_view->rootContext();
    context->setContextProperty(QStringLiteral("driveList"), QVariant::fromValue(m_drivePaths));
    context->setContextProperty(QStringLiteral("drivedetails"), QVariant::fromValue(drivedetails()));
}
