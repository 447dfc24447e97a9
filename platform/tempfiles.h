#pragma once

#include <QString>

class QFile;

// The one naming scheme for files the program writes under a temporary name before putting them
// in place: ".kivo-<pid>.<start>-<n>.<suffix>", hidden, unique within the process and telling which
// process wrote it (its id and when it started, as ids are given out again), so what a killed or
// unplugged run left behind can be recognised and cleared. Names of earlier builds,
// ".kivo-<pid>-<n>.<suffix>", are still recognised.
namespace platform {

// A fresh temporary name in `folder`. The suffix is kept, so tools that pick a format by it
// (ffmpeg) still do.
QString temporaryPath(const QString &folder, const QString &suffix);

// Makes and opens for writing a new temporary file in `folder` (never an existing one); its path
// is `file.fileName()`. False when no file can be made there.
bool openTemporaryFile(QFile &file, const QString &folder, const QString &suffix);

// The writer's process id when `fileName` (a name, no folder) is one of the scheme's; 0 otherwise.
// `started`, when given, is set to the writer's start time, or -1 where the name does not carry one.
qint64 temporaryWriter(const QString &fileName, qint64 *started = nullptr);

// When the process with this id started, in clock ticks since the boot; -1 when it cannot be told.
qint64 processStartTime(qint64 pid);

// Removes a temporary file when it goes out of scope, unless `keep` was called after the file
// was put in place under its real name.
class TemporaryFileRemover
{
public:
    explicit TemporaryFileRemover(const QString &path)
        : m_path(path)
    { }
    ~TemporaryFileRemover();
    TemporaryFileRemover(const TemporaryFileRemover &) = delete;
    TemporaryFileRemover &operator=(const TemporaryFileRemover &) = delete;
    void keep() { m_path.clear(); }

private:
    QString m_path;
};

// Whether the process with this id still runs.
bool processIsRunning(qint64 pid);

// Which temporary files count as left behind. A process id says little on its own: a stick
// comes from another computer or an earlier boot, where the same number named another process.
enum class OwnTemporaries {
    InUse,  // this process may be writing its own files there now: they are kept
    Stale,  // nothing of this process writes there now: its own files are left-overs too
};

// True when `fileName` is a temporary of the scheme whose writer no longer writes it: every
// file whose process is not a running KiVO, and this process's own ones when `own` is Stale.
bool isStaleTemporary(const QString &fileName, OwnTemporaries own);

// Removes the stale temporaries in `folder` and every folder below it (symbolic links are not
// followed). Returns how many went.
int removeStaleTemporaries(const QString &folder, OwnTemporaries own);

}  // namespace platform
