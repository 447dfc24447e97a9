#include "opkiller.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

struct Armed {
    std::atomic<int> op{-1};
    std::atomic<int> left{0};
    std::string folder;
    std::string tail;
    std::string roomless;
    std::atomic<int> error{0};  // 0: the call kills; else it fails with this
};

Armed &armed()
{
    static Armed state;
    return state;
}

bool below(const char *path, const std::string &folder)
{
    return !folder.empty() && path && std::strncmp(path, folder.c_str(), folder.size()) == 0
        && (path[folder.size()] == '/' || path[folder.size()] == '\0');
}

bool endsWith(const char *path, const std::string &tail)
{
    const std::size_t length = std::strlen(path);
    return length >= tail.size() && std::strcmp(path + length - tail.size(), tail.c_str()) == 0;
}

// True when the call is to fail; a call armed to kill never returns.
bool strike(opkiller::Op op, const char *path)
{
    Armed &state = armed();
    if (state.op.load() != int(op) || !below(path, state.folder) || !endsWith(path, state.tail)
        || state.left.fetch_sub(1) != 1)
        return false;
    if (state.error.load() == 0)
        ::raise(SIGKILL);
    state.op = -1;
    errno = state.error.load();
    return true;
}

template <typename F> F real(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

using Clock = std::chrono::steady_clock;

// The driver that keeps removed files a moment: when each file below `folder` was last closed.
struct Keeper {
    std::atomic<bool> on{false};
    std::string folder;
    Clock::duration window{}, linger{};
    std::mutex lock;
    std::map<std::string, Clock::time_point> closed;
    std::atomic<int> kept{0};
};

// Never destroyed: close() is called until the very end of the process.
Keeper &keeper()
{
    static Keeper *const state = new Keeper;
    return *state;
}

std::string pathOf(int fd)
{
    char link[64], path[PATH_MAX];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    return n > 0 ? std::string(path, std::size_t(n)) : std::string();
}

// True when `path`, closed within the window, was kept under another name instead of being
// removed; the name goes `linger` later, as the driver removes it on the release.
bool keep(const char *path)
{
    static const auto renameNext = real<int (*)(const char *, const char *)>("rename");
    static const auto unlinkNext = real<int (*)(const char *)>("unlink");
    Keeper &k = keeper();
    if (!k.on.load() || !below(path, k.folder))
        return false;
    std::lock_guard<std::mutex> guard(k.lock);
    const auto closed = k.closed.find(path);
    struct stat info {
    };
    if (closed == k.closed.end() || Clock::now() - closed->second >= k.window || ::lstat(path, &info) != 0)
        return false;
    static unsigned count = 0;
    char hidden[64];
    std::snprintf(hidden, sizeof hidden, "/.fuse_hidden%08x%08x", unsigned(info.st_ino), ++count);
    const std::string kept = closed->first.substr(0, closed->first.rfind('/')) + hidden;
    if (renameNext(path, kept.c_str()) != 0)
        return false;
    k.closed.erase(closed);
    ++k.kept;
    std::thread([kept, linger = k.linger] {
        std::this_thread::sleep_for(linger);
        unlinkNext(kept.c_str());
        --keeper().kept;
    }).detach();
    return true;
}

// The driver outlives the process: what it keeps still goes.
void awaitKept()
{
    while (keeper().kept.load() > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

template <typename Info> int roomOf(const char *path, Info *info, const char *name)
{
    static const auto next = real<int (*)(const char *, Info *)>(name);
    const int result = next(path, info);
    if (result == 0 && below(path, armed().roomless))
        info->f_blocks = info->f_bfree = info->f_bavail = 0;
    return result;
}

}  // namespace

namespace opkiller {

void arm(Op op, int nth, const QString &folder, const QString &tail)
{
    fail(op, nth, folder, 0, tail);
}

void fail(Op op, int nth, const QString &folder, int error, const QString &tail)
{
    Armed &state = armed();
    state.error = error;
    state.folder = QFile::encodeName(folder).toStdString();
    state.tail = QFile::encodeName(tail).toStdString();
    state.left = nth;
    state.op = int(op);
}

bool opNamed(const QString &name, Op *op)
{
    const QStringList names{"mkdir", "rmdir", "unlink", "rename"};
    const qsizetype at = names.indexOf(name);
    if (at < 0)
        return false;
    *op = Op(at);
    return true;
}

void hideRoom(const QString &folder)
{
    armed().roomless = QFile::encodeName(folder).toStdString();
}

void keepRemoved(const QString &folder, int windowMs, int lingerMs)
{
    Keeper &k = keeper();
    std::lock_guard<std::mutex> guard(k.lock);
    k.folder = QFile::encodeName(folder).toStdString();
    k.window = std::chrono::milliseconds(windowMs);
    k.linger = std::chrono::milliseconds(lingerMs);
    if (!k.on.exchange(true))
        std::atexit(awaitKept);
}

}  // namespace opkiller

// Defined in the program itself, these come before the C library's for every caller, Qt included.
extern "C" {

int mkdir(const char *path, mode_t mode)
{
    static const auto next = real<int (*)(const char *, mode_t)>("mkdir");
    return strike(opkiller::Op::Mkdir, path) ? -1 : next(path, mode);
}

int rmdir(const char *path)
{
    static const auto next = real<int (*)(const char *)>("rmdir");
    return strike(opkiller::Op::Rmdir, path) ? -1 : next(path);
}

int unlink(const char *path)
{
    static const auto next = real<int (*)(const char *)>("unlink");
    if (strike(opkiller::Op::Unlink, path))
        return -1;
    return keep(path) ? 0 : next(path);
}

int close(int fd)
{
    static const auto next = real<int (*)(int)>("close");
    Keeper &k = keeper();
    if (k.on.load()) {
        const std::string path = pathOf(fd);
        if (below(path.c_str(), k.folder)) {
            std::lock_guard<std::mutex> guard(k.lock);
            k.closed[path] = Clock::now();
        }
    }
    return next(fd);
}

int rename(const char *from, const char *to)
{
    static const auto next = real<int (*)(const char *, const char *)>("rename");
    return strike(opkiller::Op::Rename, from) ? -1 : next(from, to);
}

int statvfs(const char *path, struct statvfs *info)
{
    return roomOf(path, info, "statvfs");
}

int statvfs64(const char *path, struct statvfs64 *info)
{
    return roomOf(path, info, "statvfs64");
}

}  // extern "C"
