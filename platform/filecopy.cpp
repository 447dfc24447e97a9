#include "filecopy.h"
#include "filecopy_p.h"

#include "removal.h"

#include <QFile>
#include <QStorageInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

// exFAT's largest cluster.
constexpr qint64 kMaxCluster = 32 << 20;

CopyOutcome failure(CopyOutcome::Error error, int code)
{
    return {error, QString::fromLocal8Bit(std::strerror(code))};
}

}  // namespace

CopyOutcome targetFailure(int code, bool creating)
{
    switch (code) {
    case ENOSPC:
    case EDQUOT:
        return failure(CopyOutcome::NoSpace, code);
    case EFBIG:
        return failure(CopyOutcome::TooLarge, code);
    case EROFS:
    case EACCES:
        return failure(CopyOutcome::ReadOnly, code);
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ENOTDIR:
    case ENOTCONN:
    case ESTALE:
        return failure(CopyOutcome::TargetGone, code);
    case EINVAL:
    case EPERM:
    case EILSEQ:
    case ENAMETOOLONG:
        if (creating)
            return failure(CopyOutcome::BadName, code);
        break;
    default:
        break;
    }
    return failure(CopyOutcome::Other, code);
}

namespace {

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// In-kernel copy where the two file systems allow it, else through a buffer, a chunk at a time.
// -1 with errno set on a failed write, -2 on a failed read, -3 when `stopped` said so.
int copyData(int in, int out, off_t size, const std::function<bool()> &stopped)
{
    off_t left = size;
    while (left > 0) {
        if (stopped && stopped())
            return -3;
        const ssize_t n
            = ::copy_file_range(in, nullptr, out, nullptr, size_t(std::min<off_t>(left, kCopyChunkBytes)), 0);
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n == 0 || errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL)
            break;
        if (errno == EINTR)
            continue;
        return -1;
    }
    static thread_local char buffer[kCopyChunkBytes];
    for (;;) {
        if (stopped && stopped())
            return -3;
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -2;
        if (n == 0)
            return 0;
        if (!writeAll(out, buffer, n))
            return -1;
    }
}

}  // namespace

CopyOutcome copyFile(const QString &source, const QString &target, const std::function<bool()> &stopped)
{
    const QByteArray from = QFile::encodeName(source), to = QFile::encodeName(target);
    const int in = ::open(from.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failure(CopyOutcome::SourceUnreadable, errno);
    struct stat info {
    };
    if (::fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(in);
        return {CopyOutcome::SourceUnreadable, QStringLiteral("not a readable file")};
    }
    const int out = ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0) {
        const int code = errno;
        ::close(in);
        return targetFailure(code, true);
    }
    const int copied = copyData(in, out, info.st_size, stopped);
    const int copyErrno = errno;
    struct stat written {
    };
    const bool complete = copied == 0 && ::fstat(out, &written) == 0 && written.st_size == info.st_size;
    // Some drives report a full disk only when the file is closed.
    const bool closed = ::close(out) == 0;
    const int closeErrno = errno;
    ::close(in);
    if (copied == 0 && complete && closed)
        return {};
    // Gone before the failure is told, what a driver keeps of it included.
    removeFile(target);
    if (copied == -3)
        return {CopyOutcome::Cancelled, QStringLiteral("the copy was stopped")};
    if (copied == -2)
        return failure(CopyOutcome::SourceUnreadable, copyErrno);
    if (copied == -1)
        return targetFailure(copyErrno, false);
    if (!closed)
        return targetFailure(closeErrno, false);
    return {CopyOutcome::Other, QStringLiteral("the copy is incomplete")};
}

CopyOutcome makeFolders(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info {
    };
    if (::stat(name.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? CopyOutcome() : failure(CopyOutcome::BadName, EEXIST);
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0) {
        const CopyOutcome parent = makeFolders(path.left(slash));
        if (!parent.ok())
            return parent;
    }
    if (::mkdir(name.constData(), 0755) == 0 || errno == EEXIST)
        return {};
    return targetFailure(errno, true);
}

CopyOutcome makeFolder(const QString &path, bool *made)
{
    const QByteArray name = QFile::encodeName(path);
    const bool created = ::mkdir(name.constData(), 0755) == 0;
    if (made)
        *made = created;
    if (created)
        return {};
    const int code = errno;
    struct stat info {
    };
    if (code == EEXIST && ::stat(name.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? CopyOutcome() : failure(CopyOutcome::BadName, EEXIST);
    return targetFailure(code, true);
}

CopyOutcome writableFolder(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return {};
    return targetFailure(errno, false);
}

CopyOutcome replaceFile(const QString &from, const QString &to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return {};
    return targetFailure(errno, true);
}

quint64 volumeIdOf(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return quint64(info.st_dev);
}

qint64 maxFileSizeOn(const QString &folder)
{
    const QString type = QString::fromLatin1(QStorageInfo(folder).fileSystemType()).toLower();
    if (type.contains(QLatin1String("fat")) && !type.contains(QLatin1String("exfat")))
        return qint64(0xFFFFFFFFLL);
    return -1;
}

FileSystemHold::FileSystemHold(const QString &path)
    : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    , m_openError(m_fd < 0 ? errno : 0)
{ }

FileSystemHold::~FileSystemHold()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

CopyOutcome FileSystemHold::flush() const
{
    if (m_fd < 0)
        return targetFailure(m_openError, false);
    // syncfs reports a write-back error of the file system since this descriptor was opened
    // (Linux 5.8 on).
    if (::syncfs(m_fd) != 0)
        return targetFailure(errno, false);
    return {};
}

CopyOutcome flushFile(int fd)
{
    while (::fsync(fd) != 0) {
        if (errno != EINTR)
            return targetFailure(errno, false);
    }
    return {};
}

CopyOutcome flushFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return targetFailure(errno, false);
    int code = 0;
    while (::fsync(fd) != 0 && (code = errno) == EINTR)
        code = 0;
    ::close(fd);
    // Some file systems flush a folder's entries only with its files.
    if (code == 0 || code == EINVAL || code == ENOTSUP || code == ENOSYS)
        return {};
    return targetFailure(code, false);
}

CopyOutcome makeEmptyFile(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? failure(CopyOutcome::BadName, EEXIST) : targetFailure(errno, true);
    if (::close(fd) != 0)
        return targetFailure(errno, false);
    return {};
}

CopyOutcome writeDurably(const QString &path, const QByteArray &bytes)
{
    // No O_APPEND: fusefat refuses it, and writes after the start of a file written before.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return targetFailure(errno, false);
    CopyOutcome outcome;
    if (!writeAll(fd, bytes.constData(), bytes.size()))
        outcome = targetFailure(errno, false);
    if (outcome.ok())
        outcome = flushFile(fd);
    if (::close(fd) != 0 && outcome.ok())
        outcome = targetFailure(errno, false);
    return outcome;
}

CopyOutcome tryRoom(const QString &path, qint64 bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno == EEXIST ? failure(CopyOutcome::BadName, EEXIST) : targetFailure(errno, true);
    constexpr qint64 kChunk = 1 << 20;
    const QByteArray zeros(qsizetype(std::min(kChunk, std::max<qint64>(bytes, 1))), '\0');
    CopyOutcome outcome;
    for (qint64 left = bytes; left > 0 && outcome.ok(); left -= kChunk) {
        if (!writeAll(fd, zeros.constData(), ssize_t(std::min(left, kChunk))))
            outcome = targetFailure(errno, false);
    }
    if (outcome.ok())
        outcome = flushFile(fd);
    // Given back whatever happened, so the room is the drive's again before the file is closed.
    if (::ftruncate(fd, 0) != 0 && outcome.ok())
        outcome = targetFailure(errno, false);
    if (::close(fd) != 0 && outcome.ok())
        outcome = targetFailure(errno, false);
    return outcome;
}

EntryKind entryKindOf(const QString &path, CopyOutcome *why)
{
    struct stat info {
    };
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        if (errno == ENOENT)
            return EntryKind::Missing;
        if (why)
            *why = targetFailure(errno, false);
        return EntryKind::Unreadable;
    }
    if (S_ISLNK(info.st_mode))
        return EntryKind::Link;
    if (S_ISDIR(info.st_mode))
        return EntryKind::Folder;
    return S_ISREG(info.st_mode) ? EntryKind::File : EntryKind::Other;
}

Room roomOn(const QString &folder)
{
    Room room;
    struct statvfs info {
    };
    if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0 || info.f_blocks == 0)
        return room;
    room.free = qint64(info.f_bavail) * qint64(info.f_frsize);
    room.unit = std::max<qint64>(512, qint64(info.f_bsize));
    // A FAT drive has no inodes; a FUSE driver (fusefat) counts in 1 KB blocks whatever the cluster
    // and gives the drive's clusters as its files instead: the cluster is what each of them holds.
    const qint64 bytes = qint64(info.f_blocks) * qint64(info.f_frsize);
    if (info.f_files > 0 && bytes % qint64(info.f_files) == 0) {
        const qint64 cluster = bytes / qint64(info.f_files);
        if (cluster > room.unit && cluster <= kMaxCluster && (cluster & (cluster - 1)) == 0
            && QString::fromLatin1(QStorageInfo(folder).fileSystemType())
                   .contains(QLatin1String("fat"), Qt::CaseInsensitive))
            room.unit = cluster;
    }
    return room;
}

QStringList entryNames(const QString &folder)
{
    QStringList names;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names << QFile::decodeName(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool keepsEntryOrder(const QString &folder)
{
    // vfat, msdos, exfat and FUSE's fusefat; "fuseblk" may be NTFS as well and is left out.
    return QString::fromLatin1(QStorageInfo(folder).fileSystemType())
        .toLower()
        .contains(QLatin1String("fat"));
}

}  // namespace platform
