#include "childprocess.h"

#include <QCoreApplication>
#include <QMutex>
#include <QProcess>
#include <QSet>

#include <cstdlib>
#include <memory>
#include <mutex>

#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace platform {

namespace {

struct Children {
    QMutex mutex;
    QSet<qint64> pids;
};

Children &children()
{
    static Children list;
    return list;
}

void killGroup(qint64 pid)
{
    // Only a group the child leads is ours to end; before setpgid ran it is the program's own.
    if (pid > 0 && ::getpgid(pid_t(pid)) == pid_t(pid))
        ::kill(-pid_t(pid), SIGKILL);
}

}  // namespace

void bindChildToProgram(QProcess &process)
{
    static std::once_flag atExit;
    std::call_once(atExit, [] {
        children();  // made before the handler is registered, so it outlives it
        std::atexit(killRunningChildren);
    });
    // Ended as the event loop ends, so no job waits on a tool while the program closes.
    static std::once_flag atQuit;
    if (QCoreApplication *app = QCoreApplication::instance()) {
        std::call_once(atQuit,
            [app] { QObject::connect(app, &QCoreApplication::aboutToQuit, app, killRunningChildren); });
    }
    const pid_t parent = ::getpid();
    // Runs in the child between fork and exec: async-signal-safe calls only.
    process.setChildProcessModifier([parent] {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died before the line above; then nobody would end this child.
        if (::getppid() != parent)
            ::_exit(127);
    });
    const auto pid = std::make_shared<qint64>(0);
    QObject::connect(
        &process, &QProcess::stateChanged, &process, [&process, pid](QProcess::ProcessState state) {
            Children &list = children();
            if (state == QProcess::Running) {
                *pid = process.processId();
                const QMutexLocker lock(&list.mutex);
                list.pids.insert(*pid);
            } else if (state == QProcess::NotRunning && *pid > 0) {
                const QMutexLocker lock(&list.mutex);
                list.pids.remove(*pid);
                *pid = 0;
            }
        });
}

void killChild(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    killGroup(process.processId());
    process.kill();
}

void killRunningChildren()
{
    Children &list = children();
    const QMutexLocker lock(&list.mutex);
    for (const qint64 pid : std::as_const(list.pids)) {
        killGroup(pid);
        ::kill(pid_t(pid), SIGKILL);
    }
}

int runningChildCount()
{
    Children &list = children();
    const QMutexLocker lock(&list.mutex);
    return int(list.pids.size());
}

}  // namespace platform
