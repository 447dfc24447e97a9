#include "tempfiles.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <cerrno>
#include <signal.h>
#include <unistd.h>

namespace platform {

namespace {

QByteArray processName(qint64 pid)
{
    QFile comm(
        pid == ::getpid() ? QStringLiteral("/proc/self/comm") : QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return comm.readAll().trimmed();
}

// Another process is taken for a KiVO when it runs the same program; when its name cannot be
// read it might be one, and its files are kept. With its start time known, only the very process
// that wrote the file counts: another that took its id later is not it.
bool isKivoProcess(qint64 pid, qint64 started)
{
    if (!processIsRunning(pid))
        return false;
    if (started >= 0) {
        const qint64 now = processStartTime(pid);
        if (now >= 0 && now != started)
            return false;
    }
    const QByteArray name = processName(pid);
    return name.isEmpty() || name == processName(::getpid());
}

qint64 ownStartTime()
{
    static const qint64 started = processStartTime(::getpid());
    return started;
}

}  // namespace

QString temporaryPath(const QString &folder, const QString &suffix)
{
    static std::atomic<quint64> counter{0};
    const qint64 started = ownStartTime();
    const QString writer
        = started >= 0 ? QStringLiteral("%1.%2").arg(::getpid()).arg(started) : QString::number(::getpid());
    return folder + QStringLiteral("/.kivo-%1-%2.").arg(writer).arg(++counter) + suffix;
}

bool openTemporaryFile(QFile &file, const QString &folder, const QString &suffix)
{
    // A name is only taken by a file an earlier process of the same id left; the next one is free.
    for (int attempt = 0; attempt < 100; ++attempt) {
        file.setFileName(temporaryPath(folder, suffix));
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return true;
        if (file.error() != QFileDevice::OpenError || !QFile::exists(file.fileName()))
            return false;
    }
    return false;
}

TemporaryFileRemover::~TemporaryFileRemover()
{
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

qint64 temporaryWriter(const QString &fileName, qint64 *started)
{
    static const QRegularExpression scheme(
        QStringLiteral("^\\.kivo-(\\d{1,10})(?:\\.(\\d{1,20}))?-\\d+\\.[^/]*$"));
    const QRegularExpressionMatch match = scheme.match(fileName);
    if (started) {
        bool read = false;
        *started = match.captured(2).toLongLong(&read);
        if (!read)
            *started = -1;
    }
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

qint64 processStartTime(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return -1;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The name in brackets may hold spaces and brackets of its own: the fields follow the last one.
    const QByteArray line = stat.read(4096);
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return -1;
    // After the name come the state (the third field) and so on; the start time is the 22nd.
    const QList<QByteArray> fields = line.mid(close + 1).simplified().split(' ');
    constexpr int kStartField = 22 - 3;
    bool read = false;
    const qint64 started = fields.value(kStartField).toLongLong(&read);
    return read ? started : -1;
}

bool processIsRunning(qint64 pid)
{
    return pid > 0 && pid <= 0x7fffffff && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

bool isStaleTemporary(const QString &fileName, OwnTemporaries own)
{
    qint64 started = -1;
    const qint64 writer = temporaryWriter(fileName, &started);
    if (writer <= 0)
        return false;
    // An earlier process of this id wrote it: a left-over whatever this process does.
    if (writer == ::getpid() && (started < 0 || ownStartTime() < 0 || started == ownStartTime()))
        return own == OwnTemporaries::Stale;
    return !isKivoProcess(writer, started);
}

int removeStaleTemporaries(const QString &folder, OwnTemporaries own)
{
    int removed = 0;
    QDirIterator it(folder, {QStringLiteral(".kivo-*")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isStaleTemporary(it.fileName(), own) && QFile::remove(path))
            ++removed;
    }
    return removed;
}

}  // namespace platform
