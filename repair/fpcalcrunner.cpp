#include "fpcalcrunner.h"

#include "applog.h"
#include "childprocess.h"
#include "toolpaths.h"

#include <QFileInfo>
#include <QProcess>

namespace {

FpcalcResult failure(const QString &reason)
{
    FpcalcResult result;
    result.error = reason;
    return result;
}

bool isFingerprintText(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace

FpcalcRunner::FpcalcRunner(QObject *parent)
    : QObject(parent)
{
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, &FpcalcRunner::onTimeLimit);
    m_watch.setInterval(100);
    connect(&m_watch, &QTimer::timeout, this, &FpcalcRunner::onWatch);
}

FpcalcRunner::~FpcalcRunner()
{
    cancel();
}

void FpcalcRunner::setTimeLimits(int startMs, int finishMs)
{
    m_startLimitMs = qMax(1, startMs);
    m_finishLimitMs = qMax(1, finishMs);
}

void FpcalcRunner::start(const QString &filePath)
{
    cancel();
    m_output.clear();
    m_killedAtLimit = false;
    m_tooMuch = false;
    const QFileInfo file(filePath);
    if (filePath.isEmpty() || !file.isFile()) {
        QTimer::singleShot(
            0, this, [this, filePath] { end(failure(QStringLiteral("no such file: ") + filePath)); });
        return;
    }
    if (!m_health.usable(platform::Tool::Fpcalc)) {
        QTimer::singleShot(
            0, this, [this] { end(failure(platform::ToolHealth::setAsideText(platform::Tool::Fpcalc))); });
        return;
    }
    const platform::ToolPath tool = platform::locateTool(platform::Tool::Fpcalc);
    if (!tool.found()) {
        QTimer::singleShot(0, this, [this, error = tool.error] { end(broken(failure(error))); });
        return;
    }
    m_process = new QProcess(this);
    platform::bindChildToProgram(*m_process);
    m_process->setProgram(tool.path);
    // An absolute path never reads as an option, whatever the file is called.
    m_process->setArguments({file.absoluteFilePath()});
    m_process->setStandardErrorFile(QProcess::nullDevice());
    connect(m_process, &QProcess::started, this, &FpcalcRunner::onStarted);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &FpcalcRunner::onOutput);
    connect(m_process, &QProcess::finished, this,
        [this](int exitCode, QProcess::ExitStatus status) { onProcessFinished(exitCode, int(status)); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onFailedToStart();
    });
    m_limit.start(m_startLimitMs);
    m_process->start(QIODevice::ReadOnly);
}

void FpcalcRunner::onStarted()
{
    m_limit.stop();
    // fpcalc prints nothing until it is done, so its quiet is bounded by the watchdog alone.
    m_watchdog = std::make_unique<platform::ToolWatchdog>(m_finishLimitMs > 0
            ? qint64(m_finishLimitMs)
            : platform::ToolWatchdog::limitFor(platform::Tool::Fpcalc));
    m_watch.start();
}

void FpcalcRunner::onWatch()
{
    if (m_process && m_watchdog && m_watchdog->stalled())
        onTimeLimit();
}

FpcalcResult FpcalcRunner::broken(FpcalcResult result, bool hung)
{
    if (m_health.noteBroken(platform::Tool::Fpcalc, hung)) {
        const QString notice = platform::ToolHealth::setAsideNotice(platform::Tool::Fpcalc);
        writeLog(appLogFile(), QStringLiteral("Fingerprints: "), notice);
        result.error += QStringLiteral("; ") + notice;
    }
    return result;
}

void FpcalcRunner::onOutput()
{
    if (!m_process)
        return;
    const QByteArray more = m_process->readAllStandardOutput();
    if (!more.isEmpty() && m_watchdog)
        m_watchdog->noteOutput();
    m_output += more;
    if (m_output.size() > kMaxOutputBytes && !m_tooMuch) {
        m_tooMuch = true;
        m_process->kill();
    }
}

void FpcalcRunner::onTimeLimit()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::Running) {
        end(broken(failure(QStringLiteral("fpcalc did not start in time"))));
        return;
    }
    m_killedAtLimit = true;
    platform::killChild(*m_process);
}

void FpcalcRunner::onFailedToStart()
{
    end(broken(failure(
        QStringLiteral("fpcalc did not start: ") + (m_process ? m_process->errorString() : QString()))));
}

void FpcalcRunner::onProcessFinished(int exitCode, int exitStatus)
{
    onOutput();
    if (m_tooMuch) {
        end(failure(QStringLiteral("fpcalc wrote more than expected")));
        return;
    }
    FpcalcResult result = parseOutput(m_output);
    if (!m_killedAtLimit && exitStatus != QProcess::NormalExit) {
        result = broken(failure(QStringLiteral("fpcalc crashed")));
    } else if (!m_killedAtLimit && exitCode != 0 && exitCode != 3) {
        result = failure(QStringLiteral("fpcalc ended with exit code %1").arg(exitCode));
    } else if (!result.ok && m_killedAtLimit) {
        result.error = QStringLiteral("fpcalc stopped responding");
        result = broken(result, true);
    } else if (!result.ok) {
        result.error = QStringLiteral("fpcalc gave no fingerprint (exit code %1)").arg(exitCode);
    }
    end(result);
}

void FpcalcRunner::end(const FpcalcResult &result)
{
    m_limit.stop();
    m_watch.stop();
    m_watchdog.reset();
    dropProcess();
    emit finished(result);
}

void FpcalcRunner::cancel()
{
    m_limit.stop();
    m_watch.stop();
    m_watchdog.reset();
    dropProcess();
}

void FpcalcRunner::dropProcess()
{
    if (!m_process)
        return;
    QProcess *process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        platform::killChild(*process);
        process->waitForFinished(1000);
    }
    process->deleteLater();
}

FpcalcResult FpcalcRunner::parseOutput(const QByteArray &output)
{
    FpcalcResult result;
    const QList<QByteArray> lines = output.split('\n');
    // What follows the last line end is no whole line.
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "DURATION") {
            bool ok = false;
            const qint64 seconds = value.toLongLong(&ok);
            result.duration = ok && seconds > 0 ? seconds : 0;
        } else if (key == "FINGERPRINT") {
            result.fingerprint = isFingerprintText(value) ? QString::fromLatin1(value) : QString();
        }
    }
    result.ok = result.duration > 0 && !result.fingerprint.isEmpty();
    if (!result.ok)
        result.error = QStringLiteral("no DURATION and FINGERPRINT in fpcalc's output");
    return result;
}
