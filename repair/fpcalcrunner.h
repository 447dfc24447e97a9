#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

class QProcess;

// What fpcalc said about one audio file.
struct FpcalcResult {
    bool ok = false;
    qint64 duration = 0;  // whole seconds
    QString fingerprint;  // the compressed fingerprint, as the look-up service takes it
    QString error;  // why there is none
};

// Runs fpcalc on one audio file without blocking the thread: the result comes through finished(),
// always after start() has returned. The tool must start within one limit and end within another;
// a run past that is killed and judged by what it printed. Its output is read by key, so other
// lines ("FILE=") or another order change nothing, and exit code 3 with a valid result (Debian's
// fpcalc often ends so after a decoding error at the end of the file) counts as a success.
class FpcalcRunner : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStartLimitMs = 30000;
    static constexpr int kFinishLimitMs = 30000;
    static constexpr qint64 kMaxOutputBytes = 1024 * 1024;

    explicit FpcalcRunner(QObject *parent = nullptr);
    ~FpcalcRunner() override;

    void setTimeLimits(int startMs, int finishMs);
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
    void end(const FpcalcResult &result);
    void dropProcess();

    QProcess *m_process = nullptr;
    QTimer m_limit;
    QByteArray m_output;
    int m_startLimitMs = kStartLimitMs;
    int m_finishLimitMs = kFinishLimitMs;
    bool m_killedAtLimit = false;
    bool m_tooMuch = false;
};
