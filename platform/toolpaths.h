#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// Where the external media tools live. The program names them by paths relative to its working
// directory; on this platform they usually come from PATH instead, and tests point at their own
// copies through the environment.
namespace platform {

class ToolHealth;

enum class Tool { Ffmpeg, Ffprobe, Fpcalc };

struct ToolPath {
    QString path;  // absolute path of an executable file; empty when not found
    QString error;  // why it was not found, fit for a log line or a message
    bool found() const { return !path.isEmpty(); }
};

// The bare program name ("ffmpeg", "ffprobe", "fpcalc").
QString toolName(Tool tool);
// The environment variable that overrides the look-up ("KIVO_FFMPEG", ...).
QString toolEnvironmentKey(Tool tool);
// The path relative to the working directory the program names for the tool.
QString toolRelativePath(Tool tool);

// Order: the environment override, the relative path under the working directory, then PATH.
// An override that names no executable is an error rather than a silent fall-through, so a
// mistyped override never runs some other build.
ToolPath locateTool(Tool tool);

struct ToolResult {
    bool started = false;
    bool timedOut = false;
    bool stalled = false;  // showed no sign of work for the watchdog's limit, and was killed
    bool crashed = false;
    bool cancelled = false;
    bool setAside = false;  // not run: the run's health record had set the tool aside
    bool broken = false;  // failed on its own account (missing, crashed, hung), not the file's
    bool justSetAside = false;  // this failure set the tool aside: the run tells the user now
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
    QString error;  // empty when the tool ran and exited normally (whatever its exit code)
    bool ok() const { return error.isEmpty() && exitCode == 0; }
};

struct RunOptions {
    int timeoutMs = 30000;  // the whole run; negative: no limit
    // Quiet for this long (no output, no growth of `watchedFile`): the tool is hung. 0: never.
    qint64 stallLimitMs = 0;
    QString watchedFile;
    QString subject;  // the file the tool works on, named in messages
    std::function<bool()> cancelled;  // asked every 100 ms
    // Every piece of output as it comes; only the last 64 KiB of each channel are kept then.
    std::function<void(const QByteArray &)> onOutput;
    bool mergeChannels = false;  // standard error read as standard output
    ToolHealth *health = nullptr;  // the run's record: consulted before, told of failures after
};

// Runs a tool to completion with an argument list (never a shell) under the options' limits.
// The child is bound to this program (platform/childprocess.h) and killed with its group.
ToolResult runTool(Tool tool, const QStringList &arguments, const RunOptions &options);
// The same with a time limit (negative: none) and a cancel asked every 100 ms.
ToolResult runTool(Tool tool, const QStringList &arguments, int timeoutMs = 30000,
    const std::function<bool()> &cancelled = {});

// 1 when a 32-bit program runs on a 64-bit host, which only happens on Windows.
int isWow64();

}  // namespace platform
