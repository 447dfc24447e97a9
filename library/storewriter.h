#pragma once

#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>

class QThread;

// Runs store writes one after another on a thread of its own, so the window never waits on the
// library file. A write that finds the file busy (another connection holds its lock: the library
// load, a scan) is tried again after a growing pause, never dropped. Each write's outcome is handed
// to a function on the thread of the object given with it, in the order the writes were submitted;
// when that object is gone by then, nobody is told.
class StoreWriter
{
public:
    enum class Outcome { Done, Failed, Busy };
    using Job = std::function<Outcome()>;
    using Done = std::function<void(bool ok)>;

    // The longest pause between two tries of a busy write.
    static constexpr int kMaxPauseMs = 1000;

    StoreWriter();
    // Finishes what was submitted, then ends the thread.
    ~StoreWriter();
    StoreWriter(const StoreWriter &) = delete;
    StoreWriter &operator=(const StoreWriter &) = delete;

    // `job` runs on the writer's thread; `done` (may be empty) runs afterwards on `context`'s thread.
    void submit(Job job, QObject *context = nullptr, Done done = Done());
    // Returns once every write submitted so far has run (their `done` may still be queued).
    void waitForIdle();
    // The result of a store call as a job's outcome: Busy when it failed on a busy file.
    static Outcome outcomeOf(bool ok);

private:
    struct Entry {
        Job job;
        QPointer<QObject> context;
        Done done;
    };
    void run();

    QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    std::deque<Entry> m_queue;
    bool m_running = false;  // a job is being worked on
    bool m_ending = false;
    std::unique_ptr<QThread> m_thread;
};
