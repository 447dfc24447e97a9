#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <optional>

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

// What stat(2) says of a path: the number of the device holding its file system and, for a
// device node, the number of the device it stands for.
struct FileIdentity {
    quint64 device = 0;  // st_dev
    quint64 rdev = 0;  // st_rdev
    bool blockDevice = false;
};

class VolumeProvider
{
public:
    using MountList = std::function<QList<MountedVolume>()>;
    using StatReader = std::function<std::optional<FileIdentity>(const QString &path)>;

    // `sysRoot` is sysfs ("/sys"); `mounts` lists the mounted volumes with their sizes, the
    // system's mount table when empty; `stat` reads paths and device nodes, stat(2) when empty.
    // Tests give all three to fake a stick.
    explicit VolumeProvider(
        const QString &sysRoot = QStringLiteral("/sys"), MountList mounts = {}, StatReader stat = {});

    QList<MountedVolume> mounted() const;
    // The writable volumes on a USB bus or an SD/MMC card, in mount-table order.
    QList<MountedVolume> removableVolumes() const;
    // The volume mounted at `rootPath` as it is now (sizes read afresh); empty when it is gone.
    MountedVolume volumeAt(const QString &rootPath) const;
    // The volume that holds `path`: the longest mount path above it.
    MountedVolume volumeHolding(const QString &path) const;

    // True when the block device sits on a USB bus or is an SD/MMC card, by the mount table's name.
    bool isRemovable(const QString &device) const;

    // The whole disks under the block device with this number, by their sysfs folders: a
    // partition's disk, and through device-mapper or RAID the disks beneath ("sdb"). Empty when
    // they cannot be told.
    QStringList disksOf(quint64 device) const;
    // The whole disks under the file system that holds `path` (or its nearest existing folder),
    // told by the device number stat gives, not by the mount table's text; empty when unknown.
    QStringList disksHolding(const QString &path) const;
    // True when every disk under the block device with this number is on USB or an SD/MMC card.
    bool onRemovableDisks(quint64 device) const;
    // The file system mounted at `mountPath` is on `device`: the device node is a block device
    // standing for the device number that holds `mountPath`.
    bool isMountedFrom(const QString &device, const QString &mountPath) const;
    // What stat says of `path`; nothing when it cannot be read.
    std::optional<FileIdentity> identity(const QString &path) const;

private:
    QString sysfsPath(const QString &device) const;
    // The sysfs folders of the whole disks; empty when any of them cannot be told.
    QStringList diskFolders(quint64 device) const;

    QString m_sysRoot;
    MountList m_mounts;
    StatReader m_stat;
};

}  // namespace platform
