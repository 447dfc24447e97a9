#pragma once

#include <QString>
#include <QStringList>

// A FAT image file as a drive, written through a real FAT driver: fusefat, which needs root and
// /dev/fuse. Tests that need one skip with kSkipReason where canMount() says no.
namespace fatimage {

inline constexpr char kSkipReason[] = "needs root, /dev/fuse and fusefat to mount a FAT image";

bool canMount();
// A fresh image of `size` ("160M") made by mkfs.vfat with `mkfsArguments` ("-F", "32", ...).
bool make(const QString &image, const QString &size, const QStringList &mkfsArguments);
// Mounts the image at `folder` (made if missing) with fusefat's `options`.
bool mount(const QString &image, const QString &folder, const QStringList &options = {"-o", "rw+"});
void unmount(const QString &folder);

}  // namespace fatimage
