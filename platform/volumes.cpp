#include "volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace platform {

namespace {

QList<MountedVolume> systemMounts()
{
    QList<MountedVolume> volumes;
    for (const QStorageInfo &info : QStorageInfo::mountedVolumes()) {
        if (!info.isValid() || !info.isReady())
            continue;
        MountedVolume v;
        v.rootPath = info.rootPath();
        v.device = QString::fromLocal8Bit(info.device());
        v.fileSystem = QString::fromLatin1(info.fileSystemType());
        v.label = info.name();
        v.bytesTotal = info.bytesTotal();
        v.bytesFree = info.bytesFree();
        v.readOnly = info.isReadOnly();
        volumes << v;
    }
    return volumes;
}

std::optional<FileIdentity> systemStat(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{quint64(info.st_dev), quint64(info.st_rdev), S_ISBLK(info.st_mode)};
}

bool isRemovablePath(const QString &sysPath)
{
    return sysPath.contains(QLatin1String("/usb")) || sysPath.contains(QLatin1String("/mmc_host/"))
        || QFileInfo(sysPath).fileName().startsWith(QLatin1String("mmcblk"));
}

// Adds the whole disks under one block device's sysfs folder; false when one cannot be told.
bool collectDisks(const QString &folder, int depth, QStringList *disks)
{
    if (folder.isEmpty() || depth > 8)
        return false;
    const QDir slaves(folder + QStringLiteral("/slaves"));
    const QStringList below = slaves.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (!below.isEmpty()) {
        for (const QString &name : below) {
            if (!collectDisks(QFileInfo(slaves.filePath(name)).canonicalFilePath(), depth + 1, disks))
                return false;
        }
        return true;
    }
    // A partition's folder lies inside its disk's: .../block/sdb/sdb1.
    const QString disk = QFileInfo::exists(folder + QStringLiteral("/partition"))
        ? QFileInfo(folder).absolutePath()
        : folder;
    if (!disks->contains(disk))
        disks->append(disk);
    return true;
}

bool isUnder(const QString &path, const QString &root)
{
    return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

VolumeProvider::VolumeProvider(const QString &sysRoot, MountList mounts, StatReader stat)
    : m_sysRoot(sysRoot)
    , m_mounts(mounts ? std::move(mounts) : MountList(systemMounts))
    , m_stat(stat ? std::move(stat) : StatReader(systemStat))
{ }

QList<MountedVolume> VolumeProvider::mounted() const
{
    return m_mounts();
}

QList<MountedVolume> VolumeProvider::removableVolumes() const
{
    QList<MountedVolume> found;
    for (const MountedVolume &v : mounted()) {
        if (!v.readOnly && isRemovable(v.device))
            found << v;
    }
    return found;
}

MountedVolume VolumeProvider::volumeAt(const QString &rootPath) const
{
    for (const MountedVolume &v : mounted()) {
        if (v.rootPath == rootPath)
            return v;
    }
    return {};
}

MountedVolume VolumeProvider::volumeHolding(const QString &path) const
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString wanted
        = canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
    MountedVolume best;
    for (const MountedVolume &v : mounted()) {
        if (isUnder(wanted, v.rootPath) && v.rootPath.size() >= best.rootPath.size())
            best = v;
    }
    return best;
}

QString VolumeProvider::sysfsPath(const QString &device) const
{
    if (!device.startsWith(QLatin1String("/dev/")))
        return {};
    const QString name = QFileInfo(device).fileName();
    return QFileInfo(m_sysRoot + QStringLiteral("/class/block/") + name).canonicalFilePath();
}

bool VolumeProvider::isRemovable(const QString &device) const
{
    const QString path = sysfsPath(device);
    return !path.isEmpty() && isRemovablePath(path);
}

std::optional<FileIdentity> VolumeProvider::identity(const QString &path) const
{
    return m_stat(path);
}

QStringList VolumeProvider::diskFolders(quint64 device) const
{
    const QString node = m_sysRoot
        + QStringLiteral("/dev/block/%1:%2").arg(::major(dev_t(device))).arg(::minor(dev_t(device)));
    QStringList disks;
    if (!collectDisks(QFileInfo(node).canonicalFilePath(), 0, &disks))
        return {};
    return disks;
}

QStringList VolumeProvider::disksOf(quint64 device) const
{
    QStringList names;
    for (const QString &folder : diskFolders(device))
        names << QFileInfo(folder).fileName();
    return names;
}

QStringList VolumeProvider::disksHolding(const QString &path) const
{
    QString folder = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    for (;;) {
        if (const std::optional<FileIdentity> found = m_stat(folder))
            return disksOf(found->device);
        if (folder == QLatin1String("/") || folder.isEmpty())
            return {};
        folder = QFileInfo(folder).absolutePath();
    }
}

bool VolumeProvider::onRemovableDisks(quint64 device) const
{
    const QStringList disks = diskFolders(device);
    return !disks.isEmpty() && std::all_of(disks.begin(), disks.end(), isRemovablePath);
}

bool VolumeProvider::isMountedFrom(const QString &device, const QString &mountPath) const
{
    const std::optional<FileIdentity> mounted = m_stat(mountPath), node = m_stat(device);
    return mounted && node && node->blockDevice && node->rdev == mounted->device;
}

}  // namespace platform
