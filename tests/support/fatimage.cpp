#include "fatimage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace fatimage {

bool canMount()
{
    return QFile::exists("/dev/fuse") && !QStandardPaths::findExecutable("fusefat").isEmpty()
        && getuid() == 0;
}

bool make(const QString &image, const QString &size, const QStringList &mkfsArguments)
{
    // fusefat leaves the FAT's second entry in a state mtools complains of; the files are fine.
    qputenv("MTOOLS_SKIP_CHECK", "1");
    QFile::remove(image);
    return QProcess::execute("truncate", {"-s", size, image}) == 0
        && QProcess::execute("mkfs.vfat", QStringList(mkfsArguments) << image) == 0;
}

bool mount(const QString &image, const QString &folder, const QStringList &options)
{
    QDir().mkpath(folder);
    return QProcess::execute("fusefat", QStringList(options) << image << folder) == 0;
}

void unmount(const QString &folder)
{
    QProcess::execute("fusermount", {"-u", folder});
}

}  // namespace fatimage
