#include "volumes.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

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

bool isUnder(const QString &path, const QString &root)
{
    return path == root || root == QLatin1String("/") || path.startsWith(root + QLatin1Char('/'));
}

}  // namespace

VolumeProvider::VolumeProvider(const QString &sysRoot, MountList mounts)
    : m_sysRoot(sysRoot)
    , m_mounts(mounts ? std::move(mounts) : MountList(systemMounts))
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
    if (path.isEmpty())
        return false;
    return path.contains(QLatin1String("/usb")) || path.contains(QLatin1String("/mmc_host/"))
        || QFileInfo(device).fileName().startsWith(QLatin1String("mmcblk"));
}

QString VolumeProvider::diskOf(const QString &device) const
{
    const QString path = sysfsPath(device);
    if (path.isEmpty())
        return {};
    // A partition's sysfs folder lies inside its disk's: .../block/sdb/sdb1.
    const QFileInfo info(path);
    const QString parent = info.dir().dirName();
    return parent == QLatin1String("block") ? info.fileName() : parent;
}

}  // namespace platform
