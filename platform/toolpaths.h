#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>

// Where the external media tools live. The program names them by paths relative to its working
// directory; on this platform they usually come from PATH instead, and tests point at their own
// copies through the environment.
namespace platform {

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
    bool crashed = false;
    bool cancelled = false;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
    QString error;  // empty when the tool ran and exited normally (whatever its exit code)
    bool ok() const { return error.isEmpty() && exitCode == 0; }
};

// Runs a tool to completion with an argument list (never a shell); kills it after timeoutMs (a
// negative time: no limit) or as soon as `cancelled` says so, which is asked every 100 ms.
ToolResult runTool(Tool tool, const QStringList &arguments, int timeoutMs = 30000,
    const std::function<bool()> &cancelled = {});

// 1 when a 32-bit program runs on a 64-bit host, which only happens on Windows.
int isWow64();

}  // namespace platform
