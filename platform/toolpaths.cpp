#include "toolpaths.h"

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

ToolResult runTool(
    Tool tool, const QStringList &arguments, int timeoutMs, const std::function<bool()> &cancelled)
{
    ToolResult result;
    const ToolPath located = locateTool(tool);
    if (!located.found()) {
        result.error = located.error;
        return result;
    }

    QProcess process;
    process.setProgram(located.path);
    process.setArguments(arguments);
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(timeoutMs < 0 ? 30000 : timeoutMs)) {
        result.error = QStringLiteral("%1 did not start: %2").arg(located.path, process.errorString());
        return result;
    }
    result.started = true;
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer::Forever : QDeadlineTimer(timeoutMs));
    for (;;) {
        qint64 wait = cancelled ? 100 : -1;
        if (!deadline.isForever())
            wait = wait < 0 ? deadline.remainingTime() : std::min(wait, deadline.remainingTime());
        if (process.waitForFinished(int(wait)) || process.state() == QProcess::NotRunning)
            break;
        if (cancelled && cancelled()) {
            result.cancelled = true;
            result.error = QStringLiteral("%1 was stopped").arg(located.path);
        } else if (deadline.hasExpired()) {
            result.timedOut = true;
            result.error = QStringLiteral("%1 did not finish within %2 ms").arg(located.path).arg(timeoutMs);
        } else {
            continue;
        }
        process.kill();
        process.waitForFinished(2000);
        break;
    }
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    if (result.timedOut || result.cancelled)
        return result;
    if (process.exitStatus() != QProcess::NormalExit) {
        result.crashed = true;
        result.error = QStringLiteral("%1 crashed").arg(located.path);
        return result;
    }
    result.exitCode = process.exitCode();
    return result;
}

int isWow64()
{
    return 0;
}

}  // namespace platform
