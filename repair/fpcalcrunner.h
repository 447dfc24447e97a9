#pragma once

#include "toolhealth.h"
#include "toolwatchdog.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QProcess;

// What fpcalc said about one audio file.
struct FpcalcResult {
    bool ok = false;
    qint64 duration = 0;  // whole seconds
    QString fingerprint;  // the compressed fingerprint, as the look-up service takes it
    QString error;  // why there is none
};

// Runs fpcalc on one audio file without blocking the thread: the result comes through finished(),
// always after start() has returned. The tool must start within one limit and then not stay quiet
// past the watchdog's; a run past that is killed and judged by what it printed. fpcalc found broken
// (missing, crashed, hung) twice is not started again by this runner; that is logged once. Its output is read
// by key, so other lines ("FILE=") or another order change nothing, and exit code 3 with a valid result
// (Debian's fpcalc often ends so after a decoding error at the end of the file) counts as a success.
class FpcalcRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStartLimitMs = 30000;
    static constexpr qint64 kMaxOutputBytes = 1024 * 1024;

    explicit FpcalcRunner(QObject *parent = nullptr);
    ~FpcalcRunner() override;

    // `finishMs`: how long fpcalc may print nothing (the watchdog's limit for it by default).
    void setTimeLimits(int startMs, int finishMs);
    // The record of fpcalc's failures; reset() gives it a fresh start.
    platform::ToolHealth &health() { return m_health; }
    void start(const QString &filePath);
    // Ends the run without finished().
    void cancel();
    bool isRunning() const { return m_process != nullptr; }

    // The DURATION and FINGERPRINT lines of fpcalc's output; only whole lines count.
    static FpcalcResult parseOutput(const QByteArray &output);

signals:
    void finished(const FpcalcResult &result);

private:
    void onStarted();
    void onOutput();
    void onProcessFinished(int exitCode, int exitStatus);
    void onFailedToStart();
    void onTimeLimit();
    void onWatch();
    // Counts a failure of the tool itself; the notice is added to the one that sets it aside.
    FpcalcResult broken(FpcalcResult result, bool hung = false);
    void end(const FpcalcResult &result);
    void dropProcess();

    QProcess *m_process = nullptr;
    QTimer m_limit;
    QTimer m_watch;
    std::unique_ptr<platform::ToolWatchdog> m_watchdog;
    platform::ToolHealth m_health;
    QByteArray m_output;
    int m_startLimitMs = kStartLimitMs;
    int m_finishLimitMs = 0;  // 0: the watchdog's limit for fpcalc
    bool m_killedAtLimit = false;
    bool m_tooMuch = false;
};
