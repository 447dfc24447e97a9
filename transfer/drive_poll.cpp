#include "drive.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include <mutex>
#include <thread>

namespace {

QString gib(qint64 bytes)
{
    return QString::number(double(bytes) / double(1LL << 30), 'f', 2);
}

}  // namespace

bool Drive::isUsbDrive(const QString &path) const
{
    return m_provider.isRemovable(m_provider.volumeAt(path).device);
}

// How the poll thread reaches its Drive: the Drive clears `owner` when it goes, under the lock
// the thread holds while it posts the result.
struct DrivePollLink {
    std::mutex lock;
    Drive *owner = nullptr;
};

void Drive::detachPoll()
{
    if (!m_pollLink)
        return;
    const std::lock_guard<std::mutex> hold(m_pollLink->lock);
    m_pollLink->owner = nullptr;
}

void Drive::GetDriveDetail()
{
    // One reading at a time: a hung mount holds one thread, never one more per second.
    if (m_pollRunning)
        return;
    if (!m_pollLink) {
        m_pollLink = std::make_shared<DrivePollLink>();
        m_pollLink->owner = this;
    }
    m_pollRunning = true;
    QStringList listed = m_drivePaths;
    listed.removeAll(QStringLiteral("No Drive"));
    // Its own thread, not the pool: a mount that never answers must not hold a pool thread, nor
    // the program's exit, which waits for the pool.
    std::thread([link = m_pollLink, provider = m_provider, listed, generation = m_pollGeneration] {
        DrivePoll poll = readDrives(provider, listed);
        poll.generation = generation;
        const std::lock_guard<std::mutex> hold(link->lock);
        if (Drive *owner = link->owner)
            QMetaObject::invokeMethod(
                owner, [owner, poll] { owner->takePoll(poll); }, Qt::QueuedConnection);
    }).detach();
}

DrivePoll Drive::readDrives(const platform::VolumeProvider &provider, const QStringList &listed)
{
    DrivePoll poll;
    poll.listed = listed;
    for (const QString &path : listed) {
        if (QFileInfo::exists(path))
            poll.present << path;
    }
    poll.removable = provider.removableVolumes();
    for (const platform::MountedVolume &volume : std::as_const(poll.removable)) {
        if (listed.contains(volume.rootPath))
            continue;
        // A drive still settling reports changing sizes; it is listed by a later poll.
        platform::MountedVolume reads[5];
        for (platform::MountedVolume &read : reads)
            read = provider.volumeAt(volume.rootPath);
        if (reads[0].bytesTotal != reads[1].bytesTotal || reads[2].bytesTotal != reads[3].bytesTotal
            || reads[0].bytesTotal != reads[4].bytesTotal) {
            poll.unsettled = true;
            return poll;
        }
        platform::MountedVolume added = volume;
        added.bytesTotal = reads[0].bytesTotal;
        added.bytesFree = reads[4].bytesFree;
        poll.added << added;
    }
    return poll;
}

void Drive::takePoll(const DrivePoll &poll)
{
    m_pollRunning = false;
    if (poll.generation != m_pollGeneration) {
        emit drivesRead();
        return;
    }
    // Targets that have gone leave both lists in the same poll.
    const auto isListedVolume = [&poll](const QString &path) {
        return std::any_of(poll.removable.begin(), poll.removable.end(),
            [&path](const platform::MountedVolume &v) { return v.rootPath == path; });
    };
    QList<DriveData *> dropped;
    for (const QString &path : QStringList(m_drivePaths)) {
        // A path listed after the reading began is judged by the next poll.
        if (path != QLatin1String("No Drive") && !poll.listed.contains(path))
            continue;
        const DriveData *entry = listedEntry(path);
        const bool present
            = poll.present.contains(path) && (!entry || entry->isSystem() == 1 || isListedVolume(path));
        if (present)
            continue;
        for (auto it = m_driveMap.begin(); it != m_driveMap.end();) {
            if (it.value()->driveletter() == path) {
                dropped << it.value();
                it = m_driveMap.erase(it);
            } else {
                ++it;
            }
        }
        m_drivePaths.removeAll(path);
    }
    dropUnused(dropped);

    for (const platform::MountedVolume &volume : poll.added) {
        if (m_drivePaths.contains(volume.rootPath))
            continue;
        const qint64 total = volume.bytesTotal, free = volume.bytesFree;
        m_drivePaths << volume.rootPath;
        m_driveMap.insert(m_nextDriveKey++,
            new DriveData(gib(total), gib(free), 0, free, gib(total - free), volume.rootPath, volume.label,
                volume.fileSystem, this));
    }
    if (poll.unsettled) {
        emit drivesRead();
        return;
    }

    if (!m_chosenFolder.isEmpty() && !m_drivePaths.contains(m_chosenFolder)) {
        qDebug() << m_chosenFolder + QStringLiteral("...");
        m_drivePaths << m_chosenFolder;
        for (DriveData *data : std::as_const(m_folderMap))
            m_driveMap.insert(m_nextDriveKey++, data);
    }
    if (m_drivePaths.isEmpty())
        m_drivePaths << QStringLiteral("No Drive");
    publish();
    emit drivesRead();
}

void Drive::openDialog()
{
    m_chosenFolder.clear();
    const QString chosen = folderChooser
        ? folderChooser()
        : QFileDialog::getExistingDirectory(nullptr, tr("Open Directory"),
            m_lastFolder.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::DesktopLocation)
                                   : m_lastFolder,
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    offerFolder(chosen);
    if (!chosen.isEmpty())
        m_lastFolder = chosen;
    emit sgFolderChosen(chosen);
}

void Drive::offerFolder(const QString &folder)
{
    const QList<DriveData *> old = m_folderMap.values();
    m_folderMap.clear();
    dropUnused(old);
    m_chosenFolder = folder;
    if (m_chosenFolder.isEmpty())
        return;
    m_folderMap.insert(m_driveMap.size() + 1,
        new DriveData(
            QString(), QString(), 1, 0, QString(), m_chosenFolder, QString(), m_chosenFolder, this));
}

QString Drive::createDriveName(const QString &Name)
{
    QString name = Name;
    while (m_drivePaths.contains(name))
        name += QLatin1Char('1');
    return name;
}

DriveData *Drive::listedEntry(const QString &path) const
{
    DriveData *found = nullptr;
    for (DriveData *data : m_driveMap) {
        if (data->driveletter() == path)
            found = data;
    }
    return found;
}
