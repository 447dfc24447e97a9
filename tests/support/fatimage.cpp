#include "fatimage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

#include <signal.h>
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

namespace {

// The process id of the fusefat one of whose arguments is `path` (an image or a mount folder);
// 0 when none runs.
qint64 fusefatOf(const QString &path)
{
    const QByteArray wanted = QFileInfo(path).absoluteFilePath().toLocal8Bit();
    QDirIterator it("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bool number = false;
        const qint64 pid = it.fileName().toLongLong(&number);
        QFile cmdline(it.filePath() + "/cmdline");
        if (!number || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = cmdline.readAll().split('\0');
        if (arguments.isEmpty() || !arguments.first().endsWith("fusefat"))
            continue;
        for (const QByteArray &argument : arguments) {
            if (!argument.isEmpty()
                && QFileInfo(QString::fromLocal8Bit(argument)).absoluteFilePath().toLocal8Bit() == wanted)
                return pid;
        }
    }
    return 0;
}

// Waits until the process is gone from /proc: on a busy machine that may take a while, and a
// mount meanwhile would have two writers. Bounded, for a process that never ends.
void awaitEnd(qint64 pid)
{
    for (int i = 0; pid > 0 && i < 6000 && QFileInfo::exists(QString("/proc/%1").arg(pid)); ++i)
        QThread::msleep(10);
}

}  // namespace

void unmount(const QString &folder)
{
    const qint64 pid = fusefatOf(folder);
    // A mount whose fusefat was killed is cleared only lazily.
    if (QProcess::execute("fusermount", {"-u", folder}) != 0)
        QProcess::execute("fusermount", {"-u", "-z", folder});
    // Its fusefat writes the image's last state as it ends: a mount of the same image before that
    // would have two writers.
    awaitEnd(pid);
}

bool pull(const QString &image)
{
    const qint64 pid = fusefatOf(image);
    if (pid == 0)
        return false;
    ::kill(pid_t(pid), SIGKILL);
    awaitEnd(pid);
    return true;
}

QList<Slot> slotsOf(const QString &image, const QString &folder)
{
    QFile file(image);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray boot = file.read(512);
    if (boot.size() < 512)
        return {};
    const auto u16 = [](const char *p) { return qFromLittleEndian<quint16>(p); };
    const auto u32 = [](const char *p) { return qFromLittleEndian<quint32>(p); };
    const quint32 bytesPerSector = u16(boot.constData() + 11), perCluster = quint8(boot[13]);
    const quint32 reserved = u16(boot.constData() + 14), fats = quint8(boot[16]);
    // FAT16 gives the size of its FATs in the first place, and keeps its top folder in a fixed
    // place of its own before the clusters.
    const bool fat16 = u16(boot.constData() + 22) != 0;
    const quint32 fatSectors = fat16 ? u16(boot.constData() + 22) : u32(boot.constData() + 36);
    const qint64 fatStart = qint64(reserved) * bytesPerSector;
    const qint64 rootStart = (qint64(reserved) + qint64(fats) * fatSectors) * bytesPerSector;
    const qint64 rootBytes = fat16 ? qint64(u16(boot.constData() + 17)) * 32 : 0;
    const qint64 dataStart = rootStart + (rootBytes + bytesPerSector - 1) / bytesPerSector * bytesPerSector;
    const qint64 clusterBytes = qint64(perCluster) * bytesPerSector;
    const quint32 rootCluster = fat16 ? 0 : u32(boot.constData() + 44);
    const quint32 end = fat16 ? 0xFFF8 : 0x0FFFFFF8;
    const auto entries = [&](quint32 cluster) {
        QList<Slot> found;
        QString longName;
        int index = 0;
        const bool fixedRoot = fat16 && cluster == 0;
        for (int guard = 0; (fixedRoot || (cluster >= 2 && cluster < end)) && guard < 65536; ++guard) {
            file.seek(fixedRoot ? rootStart : dataStart + (qint64(cluster) - 2) * clusterBytes);
            const QByteArray data = file.read(fixedRoot ? rootBytes : clusterBytes);
            for (qint64 at = 0; at + 32 <= data.size(); at += 32, ++index) {
                const char *e = data.constData() + at;
                if (quint8(e[0]) == 0)
                    return found;
                if (quint8(e[0]) == 0xE5) {
                    longName.clear();
                    continue;
                }
                if (quint8(e[11]) == 0x0F) {
                    QString part;
                    for (const int o : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
                        const quint16 unit = u16(e + o);
                        if (unit == 0 || unit == 0xFFFF)
                            break;
                        part += QChar(unit);
                    }
                    longName = part + longName;
                    continue;
                }
                Slot slot;
                slot.name = longName.isEmpty() ? QString::fromLatin1(e, 8).trimmed()
                        + (QByteArray(e + 8, 3).trimmed().isEmpty()
                                ? QString()
                                : "." + QString::fromLatin1(e + 8, 3).trimmed())
                                               : longName;
                slot.index = index;
                slot.cluster = (fat16 ? 0 : quint32(u16(e + 20)) << 16) | u16(e + 26);
                slot.folder = (quint8(e[11]) & 0x10) != 0;
                longName.clear();
                if (slot.name != "." && slot.name != "..")
                    found << slot;
            }
            if (fixedRoot)
                return found;
            if (fat16) {
                file.seek(fatStart + qint64(cluster) * 2);
                cluster = u16(file.read(2).constData());
            } else {
                file.seek(fatStart + qint64(cluster) * 4);
                cluster = u32(file.read(4).constData()) & 0x0FFFFFFF;
            }
        }
        return found;
    };
    quint32 cluster = rootCluster;
    for (const QString &part : folder.split('/', Qt::SkipEmptyParts)) {
        const QList<Slot> here = entries(cluster);
        cluster = 1;
        for (const Slot &slot : here) {
            if (slot.folder && slot.name.compare(part, Qt::CaseInsensitive) == 0)
                cluster = slot.cluster;
        }
        if (cluster < 2)
            return {};
    }
    return entries(cluster);
}

QStringList namesIn(const QString &image, const QString &folder)
{
    QStringList names;
    for (const Slot &slot : slotsOf(image, folder))
        names << slot.name;
    return names;
}

QString leftOvers(const QString &image)
{
    QProcess tree;
    tree.start("mdir", {"-i", image, "-/", "-a", "-b", "::"});
    tree.waitForFinished(-1);
    QStringList found;
    for (const QString &line :
        QString::fromUtf8(tree.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        if (line.contains(".kivo-") || line.contains("KIVO0", Qt::CaseInsensitive)
            || line.contains("recovered"))
            found << line;
    }
    return found.join('\n');
}

QStringList playedIn(const QString &image, const QString &folder)
{
    QStringList names;
    for (const QString &name : namesIn(image, folder)) {
        if (name.endsWith(".mp3") || name.endsWith(".mp4", Qt::CaseInsensitive))
            names << (name.endsWith(".mp3") ? name : name.toLower());
    }
    return names;
}

bool mtool(const QString &tool, const QStringList &arguments)
{
    QProcess run;
    run.start(tool, arguments);
    return run.waitForFinished(-1) && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
}

qint64 bytesFree(const QString &image)
{
    QProcess info;
    info.start("mdir", {"-i", image, "::"});
    info.waitForFinished(-1);
    static const QRegularExpression freeLine("([\\d ]+) bytes free");
    const QRegularExpressionMatch match = freeLine.match(QString::fromUtf8(info.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).remove(' ').toLongLong() : -1;
}

bool leaveFree(const QString &image, qint64 free)
{
    mtool("mdel", {"-i", image, "::/FILLER"});
    const qint64 size = bytesFree(image) - free;
    QFile filler(image + ".FILLER");
    if (size < 0 || !filler.open(QIODevice::WriteOnly) || !filler.resize(size))
        return false;
    filler.close();
    const bool copied = mtool("mcopy", {"-i", image, filler.fileName(), "::/FILLER"});
    filler.remove();
    return copied && bytesFree(image) == free;
}

QString fsckProblems(const QString &image, bool pulled)
{
    QProcess fsck;
    fsck.start("fsck.fat", {"-n", image});
    fsck.waitForFinished(-1);
    const QString found = QString::fromLocal8Bit(fsck.readAllStandardOutput());
    if (fsck.exitCode() == 0)
        return {};
    static const QRegularExpression hint("^Free cluster summary wrong \\(\\d+ vs\\. really \\d+\\)$");
    QStringList problems;
    for (const QString &line : found.split('\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith("fsck.fat ") && !line.startsWith("  Auto-correcting")
            && !line.startsWith("Leaving ") && !line.contains(" files, ")
            && !(pulled && hint.match(line).hasMatch()))
            problems << line;
    }
    return problems.isEmpty() ? QString() : found;
}

}  // namespace fatimage
