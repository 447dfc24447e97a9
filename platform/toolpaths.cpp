#include "toolpaths.h"

#include "childprocess.h"
#include "toolhealth.h"
#include "toolwatchdog.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace platform {

QString toolName(Tool tool)
{
    switch (tool) {
    case Tool::Ffmpeg:
        return QStringLiteral("ffmpeg");
    case Tool::Ffprobe:
        return QStringLiteral("ffprobe");
    case Tool::Fpcalc:
        return QStringLiteral("fpcalc");
    }
    return {};
}

QString toolEnvironmentKey(Tool tool)
{
    return QStringLiteral("KIVO_") + toolName(tool).toUpper();
}

QString toolRelativePath(Tool tool)
{
    switch (tool) {
    case Tool::Ffmpeg:
        return isWow64() ? QStringLiteral("ffmpeg/win64/ffmpeg") : QStringLiteral("ffmpeg/win32/ffmpeg");
    case Tool::Ffprobe:
        return QStringLiteral("ffmpeg/ffprobe.exe");
    case Tool::Fpcalc:
        return QStringLiteral("chromaprint/fpcalc");
    }
    return {};
}

static bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

ToolPath locateTool(Tool tool)
{
    const QString name = toolName(tool);
    const QString key = toolEnvironmentKey(tool);
    const QString override = qEnvironmentVariable(key.toLatin1().constData());
    if (!override.isEmpty()) {
        if (isExecutableFile(override))
            return {QFileInfo(override).absoluteFilePath(), {}};
        return {
            {}, QStringLiteral("%1 is set to \"%2\", which is not an executable file").arg(key, override)};
    }

    const QString relative = QDir::current().absoluteFilePath(toolRelativePath(tool));
    if (isExecutableFile(relative))
        return {relative, {}};

    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return {onPath, {}};

    return {{},
        QStringLiteral("%1 was not found: set %2, place it at %3 or install it on the PATH")
            .arg(name, key, toolRelativePath(tool))};
}

namespace {

constexpr qsizetype kStreamedTail = 64 * 1024;
constexpr qsizetype kMostKept = 16 * 1024 * 1024;

void keep(QByteArray &into, const QByteArray &chunk, qsizetype most)
{
    into += chunk;
    if (into.size() > most)
        into.remove(0, into.size() - most / 2);
}

ToolResult noteFailure(ToolResult result, Tool tool, ToolHealth *health)
{
    result.broken = true;
    if (health && health->noteBroken(tool)) {
        result.justSetAside = true;
        result.error += QStringLiteral("; ") + ToolHealth::setAsideNotice(tool);
    }
    return result;
}

}  // namespace

ToolResult runTool(Tool tool, const QStringList &arguments, const RunOptions &options)
{
    ToolResult result;
    const QString name = toolName(tool);
    if (options.health && !options.health->usable(tool)) {
        result.setAside = true;
        result.error = ToolHealth::setAsideText(tool);
        return result;
    }
    const ToolPath located = locateTool(tool);
    if (!located.found()) {
        result.error = located.error;
        return noteFailure(result, tool, options.health);
    }

    QProcess process;
    process.setProgram(located.path);
    process.setArguments(arguments);
    if (options.mergeChannels)
        process.setProcessChannelMode(QProcess::MergedChannels);
    bindChildToProgram(process);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(options.timeoutMs < 0 ? 30000 : options.timeoutMs)) {
        result.error = QStringLiteral("%1 did not start: %2").arg(located.path, process.errorString());
        killChild(process);
        return noteFailure(result, tool, options.health);
    }
    result.started = true;
    const QDeadlineTimer deadline(
        options.timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(options.timeoutMs));
    ToolWatchdog watchdog(options.stallLimitMs, options.watchedFile);
    const qsizetype most = options.onOutput ? kStreamedTail : kMostKept;
    const auto drain = [&] {
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = options.mergeChannels ? QByteArray() : process.readAllStandardError();
        if (out.isEmpty() && err.isEmpty())
            return;
        watchdog.noteOutput();
        keep(result.standardOutput, out, most);
        keep(result.standardError, err, most);
        if (options.onOutput) {
            if (!out.isEmpty())
                options.onOutput(out);
            if (!err.isEmpty())
                options.onOutput(err);
        }
    };
    const bool polled = options.cancelled || options.stallLimitMs > 0 || options.onOutput;
    for (;;) {
        qint64 wait = polled ? 100 : -1;
        if (!deadline.isForever())
            wait = wait < 0 ? deadline.remainingTime() : std::min(wait, deadline.remainingTime());
        const bool ended = process.waitForFinished(int(wait)) || process.state() == QProcess::NotRunning;
        drain();
        if (ended)
            break;
        if (options.cancelled && options.cancelled()) {
            result.cancelled = true;
            result.error = QStringLiteral("%1 was stopped").arg(located.path);
        } else if (deadline.hasExpired()) {
            result.timedOut = true;
            result.error
                = QStringLiteral("%1 did not finish within %2 ms").arg(located.path).arg(options.timeoutMs);
        } else if (watchdog.stalled()) {
            result.stalled = true;
            result.error = options.subject.isEmpty()
                ? QStringLiteral("%1 stopped responding").arg(name)
                : QStringLiteral("%1 stopped responding on %2").arg(name, options.subject);
        } else {
            continue;
        }
        killChild(process);
        process.waitForFinished(2000);
        break;
    }
    drain();
    if (result.cancelled)
        return result;
    if (result.timedOut || result.stalled)
        return noteFailure(result, tool, options.health);
    if (process.exitStatus() != QProcess::NormalExit) {
        result.crashed = true;
        result.error = QStringLiteral("%1 crashed").arg(located.path);
        return noteFailure(result, tool, options.health);
    }
    result.exitCode = process.exitCode();
    return result;
}

ToolResult runTool(
    Tool tool, const QStringList &arguments, int timeoutMs, const std::function<bool()> &cancelled)
{
    RunOptions options;
    options.timeoutMs = timeoutMs;
    options.cancelled = cancelled;
    return runTool(tool, arguments, options);
}

int isWow64()
{
    return 0;
}

}  // namespace platform
