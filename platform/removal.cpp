#include "removal.h"

#include "filecopy_p.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kDefaultLetGoMs = 2000;
std::atomic<int> letGoMs{kDefaultLetGoMs};

CopyOutcome failed(const QString &what, int code)
{
    CopyOutcome outcome = targetFailure(code, false);
    outcome.message = what + QStringLiteral(": ") + outcome.message;
    return outcome;
}

// Asks `done` until it says yes or the bound passes: often at first, as a release mostly comes within
// a millisecond or two, then every 20 ms.
bool waitUntil(const std::function<bool()> &done)
{
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(letGoBound());
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (done())
            return true;
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

// Looked for by listing the folder: a driver's cached look-up of a name outlives the file by up to
// a second, a listing does not.
QStringList driverKeptIn(const QString &folder)
{
    QStringList kept;
    for (const QString &name : entryNames(folder)) {
        if (isDriverKept(name))
            kept << name;
    }
    return kept;
}

QString shown(const QStringList &names)
{
    return names.join(QStringLiteral(", "));
}

}  // namespace

bool isDriverKept(const QString &name)
{
    return name.startsWith(QLatin1String(".fuse_hidden"));
}

int letGoBound()
{
    return letGoMs.load();
}

void setLetGoBound(int milliseconds)
{
    letGoMs = milliseconds > 0 ? milliseconds : kDefaultLetGoMs;
}

CopyOutcome removeFiles(const QStringList &paths)
{
    struct Identity {
        dev_t device;
        ino_t inode;
        bool operator==(const Identity &other) const
        {
            return device == other.device && inode == other.inode;
        }
    };
    CopyOutcome outcome;
    QList<Identity> removed;
    QSet<QString> folders;
    for (const QString &path : paths) {
        const QByteArray name = QFile::encodeName(path);
        struct stat info {
        };
        if (::lstat(name.constData(), &info) != 0 || ::unlink(name.constData()) != 0) {
            if (errno != ENOENT && outcome.ok())
                outcome = failed(path, errno);
            continue;
        }
        removed.append({info.st_dev, info.st_ino});
        folders.insert(QFileInfo(path).path());
    }
    // A driver that keeps a file renames it, which leaves its identity as it was.
    struct Kept {
        QString folder, name;
    };
    QList<Kept> kept;
    for (const QString &folder : std::as_const(folders)) {
        for (const QString &name : driverKeptIn(folder)) {
            struct stat info {
            };
            if (::lstat(QFile::encodeName(folder + QLatin1Char('/') + name).constData(), &info) == 0
                && removed.contains(Identity{info.st_dev, info.st_ino}))
                kept.append({folder, name});
        }
    }
    if (kept.isEmpty())
        return outcome;
    // The driver removes each by itself once it lets go of it.
    const bool gone = waitUntil([&kept] {
        QHash<QString, QStringList> listed;  // one listing a folder a look
        kept.removeIf([&listed](const Kept &k) {
            auto it = listed.find(k.folder);
            if (it == listed.end())
                it = listed.insert(k.folder, driverKeptIn(k.folder));
            return !it->contains(k.name);
        });
        return kept.isEmpty();
    });
    if (!gone && outcome.ok()) {
        QStringList names;
        for (const Kept &k : std::as_const(kept))
            names << k.folder + QLatin1Char('/') + k.name;
        outcome = {CopyOutcome::Other,
            QStringLiteral("the drive still keeps %1 of what was removed, %2 ms on")
                .arg(shown(names))
                .arg(letGoBound())};
    }
    return outcome;
}

QStringList awaitLetGo(const QString &folder)
{
    QStringList kept = driverKeptIn(folder);
    if (kept.isEmpty())
        return kept;
    waitUntil([&kept, &folder] {
        kept = driverKeptIn(folder);
        return kept.isEmpty();
    });
    return kept;
}

CopyOutcome removeFolder(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (::rmdir(name.constData()) == 0)
        return {};
    const int code = errno;
    if (code != ENOTEMPTY && code != EEXIST)
        return failed(path, code);
    QStringList others;
    for (const QString &entry : entryNames(path)) {
        if (!isDriverKept(entry))
            others << entry;
    }
    if (!others.isEmpty())
        return {CopyOutcome::Other, QStringLiteral("%1 holds %2").arg(path, shown(others))};
    const QStringList kept = awaitLetGo(path);
    if (!kept.isEmpty())
        return {CopyOutcome::Other,
            QStringLiteral("%1 holds %2, which the drive keeps of removed files %3 ms on")
                .arg(path, shown(kept))
                .arg(letGoBound())};
    if (::rmdir(name.constData()) == 0)
        return {};
    return failed(path, errno);
}

}  // namespace platform
