#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>

class QThread;

// Runs store writes one after another on a thread of its own, so the window never waits on the
// library file. A write that finds the file busy (another connection holds its lock: the library
// load, a scan) is tried again after a growing pause, for a few of the store's busy time-outs; a
// lock held longer is another program's (a database browser or a backup left open), so the write
// is then given up, logged and told as failed. Each write's outcome is handed to a function on the
// thread of the object given with it, in the order the writes were submitted; when that object is
// gone by then, nobody is told.
class StoreWriter
{
public:
    enum class Outcome { Done, Failed, Busy };
    using Job = std::function<Outcome()>;
    using Done = std::function<void(bool ok)>;

    // The longest pause between two tries of a busy write.
    static constexpr int kMaxPauseMs = 1000;
    // How long a busy write is tried, counted in the store's busy time-outs (Database::busyTimeout).
    static constexpr int kBusyTimeoutsPerWrite = 3;
    // How long closing waits for the writes still to be made.
    static constexpr int kClosingWaitMs = 5000;

    StoreWriter();
    // Closes as close() does.
    ~StoreWriter();
    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    // `job` runs on the writer's thread; `done` (may be empty) runs afterwards on `context`'s thread.
    // `what` names the write in the log when it is not stored (a file path).
    void submit(Job job, QObject *context = nullptr, Done done = Done(), const QString &what = QString());
    // Returns once every write submitted so far has run (their `done` may still be queued). Each
    // write takes a bounded time; once closed, this returns at once.
    void waitForIdle();
    // For closing: waits at most `waitMs` for the writes submitted so far (a busy one is tried no
    // longer than that), then drops those not yet begun and ends the thread once the write in hand
    // has ended its try. Every write not stored is logged by what it names; a dropped write's
    // `done` is not called, nor is anything submitted afterwards run. Not to be called from a job.
    void close(int waitMs = kClosingWaitMs);
    // The result of a store call as a job's outcome: Busy when it failed on a busy file.
    static Outcome outcomeOf(bool ok);

private:
    struct Entry {
        Job job;
        QPointer<QObject> context;
        Done done;
        QString what;
    };
    void run();
    // Runs the job until it is not busy, its time is up or the writer ends; Busy when given up.
    Outcome attempt(const Entry &entry);
    // How long a busy write may still be tried (ms), by `bound` and a closing; the mutex is held.
    qint64 timeLeft(const QDeadlineTimer &bound) const;

    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    std::deque<Entry> m_queue;
    bool m_running = false;  // a job is being worked on
    bool m_closing = false;  // close() waits: no try goes past m_closeBy
    QDeadlineTimer m_closeBy;
    bool m_ending = false;  // nothing more is begun
    std::unique_ptr<QThread> m_thread;
};
