#include "drive.h"

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

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

void Drive::GetDriveDetail()
{
    // Targets that have gone leave both lists in the same poll.
    const QList<platform::MountedVolume> removable = m_provider.removableVolumes();
    const auto isListedVolume = [&removable](const QString &path) {
        return std::any_of(removable.begin(), removable.end(),
            [&path](const platform::MountedVolume &v) { return v.rootPath == path; });
    };
    QList<DriveData *> dropped;
    for (const QString &path : QStringList(m_drivePaths)) {
        const DriveData *entry = listedEntry(path);
        const bool present
            = QFileInfo::exists(path) && (!entry || entry->isSystem() == 1 || isListedVolume(path));
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

    for (const platform::MountedVolume &volume : removable) {
        if (m_drivePaths.contains(volume.rootPath))
            continue;
        // A drive still settling reports changing sizes; it is listed by a later poll.
        platform::MountedVolume reads[5];
        for (platform::MountedVolume &read : reads)
            read = m_provider.volumeAt(volume.rootPath);
        if (reads[0].bytesTotal != reads[1].bytesTotal || reads[2].bytesTotal != reads[3].bytesTotal
            || reads[0].bytesTotal != reads[4].bytesTotal)
            return;
        const qint64 total = reads[0].bytesTotal, free = reads[4].bytesFree;
        m_drivePaths << volume.rootPath;
        m_driveMap.insert(m_nextDriveKey++,
            new DriveData(gib(total), gib(free), 0, free, gib(total - free), volume.rootPath, volume.label,
                volume.fileSystem, this));
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
}

void Drive::openDialog()
{
    m_chosenFolder.clear();
    const QList<DriveData *> old = m_folderMap.values();
    m_folderMap.clear();
    dropUnused(old);
    m_chosenFolder = folderChooser ? folderChooser()
                                   : QFileDialog::getExistingDirectory(nullptr, tr("Open Directory"),
                                       QStandardPaths::writableLocation(QStandardPaths::DesktopLocation),
                                       QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
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
