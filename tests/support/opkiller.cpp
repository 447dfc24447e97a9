#include "opkiller.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

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
    return strike(opkiller::Op::Unlink, path) ? -1 : next(path);
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
