#pragma once

#include <QList>
#include <QString>

#include <functional>

// The removable drives a transfer may target: mounted file systems on a USB bus or an SD/MMC
// card, as the mount table and sysfs tell. Nothing else in the program knows these details.
namespace platform {

struct MountedVolume {
    QString rootPath;  // where it is mounted: the text that names the drive everywhere else
    QString device;  // "/dev/sdb1"
    QString fileSystem;  // "vfat", "exfat", "ntfs3", ...
    QString label;
    qint64 bytesTotal = 0;
    qint64 bytesFree = 0;
    bool readOnly = false;
};

class VolumeProvider
{
public:
    using MountList = std::function<QList<MountedVolume>()>;

    // `sysRoot` is sysfs ("/sys"); `mounts` lists the mounted volumes with their sizes, the
    // system's mount table when empty. Tests give both to fake a stick.
    explicit VolumeProvider(const QString &sysRoot = QStringLiteral("/sys"), MountList mounts = {});

    QList<MountedVolume> mounted() const;
    // The writable volumes on a USB bus or an SD/MMC card, in mount-table order.
    QList<MountedVolume> removableVolumes() const;
    // The volume mounted at `rootPath` as it is now (sizes read afresh); empty when it is gone.
    MountedVolume volumeAt(const QString &rootPath) const;
    // The volume that holds `path`: the longest mount path above it.
    MountedVolume volumeHolding(const QString &path) const;

    // True when the block device sits on a USB bus or is an SD/MMC card.
    bool isRemovable(const QString &device) const;
    // The whole disk a block device belongs to ("sdb" for "/dev/sdb1"); "" when sysfs has none.
    QString diskOf(const QString &device) const;

private:
    QString sysfsPath(const QString &device) const;

    QString m_sysRoot;
    MountList m_mounts;
};

}  // namespace platform
