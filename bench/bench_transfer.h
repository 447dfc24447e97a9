// What the modes of bench_transfer share: the transfer as the program runs it, the FAT image it
// writes to and the albums it copies.
#pragma once

#include "fatimage.h"
#include "ffmpeghandler.h"
#include "procstats.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <functional>

namespace transferbench {

[[noreturn]] void fail(const QString &why);

void settle(const QStringList &remove);

struct Outcome {
    double ms = 0;
    qint64 peakKb = 0;
    TransferReport report;
    QStringList progress;
};

// `watch` connects to the handler before the run starts.
Outcome transfer(const TrackMap &tracks, const QString &target, SystemInfo *system, int jobs,
    qint64 space = 1LL << 40, const std::function<void(ffmpeghandler &)> &watch = {});

// Runs a tool without its chatter; true when it succeeded.
bool quietly(const QString &program, const QStringList &arguments);

// A FAT32 image mounted through FUSE, made afresh for each run.
class FatTarget
{
public:
    static QString unavailable()
    {
        if (!QFile::exists(QStringLiteral("/dev/fuse")))
            return QStringLiteral("/dev/fuse is missing");
        for (const char *tool : {"fusefat", "mkfs.vfat", "fusermount"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QStringLiteral("%1 is not installed").arg(QString::fromLatin1(tool));
        }
        return {};
    }

    FatTarget(const QString &folder, qint64 bytes)
        : m_image(folder + QStringLiteral("/fat.img"))
        , m_mount(folder + QStringLiteral("/fat"))
        , m_bytes(bytes)
    { }
    ~FatTarget() { release(); }

    // A fresh, empty, mounted volume; its root.
    QString fresh()
    {
        release();
        QDir().mkpath(m_mount);
        QFile::remove(m_image);
        if (!quietly(QStringLiteral("truncate"), {QStringLiteral("-s"), QString::number(m_bytes), m_image})
            || !quietly(QStringLiteral("mkfs.vfat"),
                {QStringLiteral("-F"), QStringLiteral("32"), QStringLiteral("-n"), QStringLiteral("BENCH"),
                    m_image}))
            fail(QStringLiteral("the FAT image cannot be made or mounted"));
        return mount();
    }

    // The same volume again, as when the stick is plugged in once more; its root.
    QString mount()
    {
        if (!m_mounted
            && !quietly(
                QStringLiteral("fusefat"), {QStringLiteral("-o"), QStringLiteral("rw+"), m_image, m_mount}))
            fail(QStringLiteral("the FAT image cannot be made or mounted"));
        m_mounted = true;
        return m_mount;
    }

    void unmount()
    {
        if (m_mounted)
            quietly(QStringLiteral("fusermount"), {QStringLiteral("-u"), m_mount});
        m_mounted = false;
    }

    // Also waits for fusefat to end: it writes the image's last state then, and the image is read
    // or mounted again next.
    void unplug()
    {
        if (m_mounted)
            fatimage::unmount(m_mount);
        m_mounted = false;
    }

    void release()
    {
        unmount();
        QFile::remove(m_image);
    }

    const QString &image() const { return m_image; }

private:
    QString m_image, m_mount;
    qint64 m_bytes;
    bool m_mounted = false;
};

SystemInfo mp3System();
QString makeSource(const QString &path, double seconds, int kbps, int frequency);
// A 500 x 500 JPEG cover of its own for each album; its path.
QString makeCover(const QString &folder, int album);
// A copy of `song` as the file `name` of an album folder made by makeCover.
track albumTrack(
    qint64 id, const QString &song, const QString &folder, const QString &album, const QString &name);
// `files` copies of `song`, 20 to each album folder "Album NNN" of `source`, numbered from 1.
TrackMap makeAlbums(const QString &source, const QString &song, int files);
void print(const char *what, const RunFigures &f);

// The arrange mode: albums that later transfers add to, then one big folder. `bigFolder`: how
// many songs that folder holds.
int benchArrange(const TestEnv &env, int files, int runs, int bigFolder);

}  // namespace transferbench
