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
// read it might be one, and its files are kept.
bool isKivoProcess(qint64 pid)
{
    if (!processIsRunning(pid))
        return false;
    const QByteArray name = processName(pid);
    return name.isEmpty() || name == processName(::getpid());
}

}  // namespace

QString temporaryPath(const QString &folder, const QString &suffix)
{
    static std::atomic<quint64> counter{0};
    return folder + QStringLiteral("/.kivo-%1-%2.").arg(::getpid()).arg(++counter) + suffix;
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

qint64 temporaryWriter(const QString &fileName)
{
    static const QRegularExpression scheme(QStringLiteral("^\\.kivo-(\\d{1,10})-\\d+\\.[^/]*$"));
    const QRegularExpressionMatch match = scheme.match(fileName);
    return match.hasMatch() ? match.captured(1).toLongLong() : 0;
}

bool processIsRunning(qint64 pid)
{
    return pid > 0 && pid <= 0x7fffffff && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

bool isStaleTemporary(const QString &fileName, OwnTemporaries own)
{
    const qint64 writer = temporaryWriter(fileName);
    if (writer <= 0)
        return false;
    if (writer == ::getpid())
        return own == OwnTemporaries::Stale;
    return !isKivoProcess(writer);
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
