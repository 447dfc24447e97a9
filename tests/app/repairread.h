#pragma once

#include "manager.h"

#include <QObject>
#include <QVariant>
#include <QtTest>

#include <atomic>
#include <memory>

// The end of a repair run has the library read again from the store, once the run's last updates
// are stored, and the views' rows made anew. That read begins a while after the run says it has
// ended, and another view's build may be shown meanwhile: until the read itself is shown, a list
// may still change under the keys, and a track changed since may be put back as the read found it.
// The reads from the store are the only loads that pass the load gate, so this counts them and
// notes how many had begun when a run ended. Made while no load is under way, and only one at a
// time: it holds the gate while it lives.
class RepairRead
{
public:
    explicit RepairRead(manager *mgr)
        : m_mgr(mgr)
    {
        manager::loadGate = [reads = m_reads] { ++*reads; };
        QObject::connect(
            mgr, &manager::sgUpdateRepairProgress, &m_watch, [this](const QVariant &, const QVariant &total) {
                if (total.toInt() == 0)
                    m_readsAtEnd = *m_reads;
            });
    }
    ~RepairRead() { manager::loadGate = nullptr; }
    RepairRead(const RepairRead &) = delete;
    RepairRead &operator=(const RepairRead &) = delete;

    // A run has ended since this was made, and the read its end asks for is shown.
    bool shown() const { return m_readsAtEnd >= 0 && *m_reads > m_readsAtEnd && !m_mgr->isLoading(); }
    bool wait(int timeout = 30000) const
    {
        return QTest::qWaitFor([this] { return shown(); }, timeout);
    }

private:
    manager *m_mgr;
    // Shared with the gate, which a load that began meanwhile still holds.
    std::shared_ptr<std::atomic_int> m_reads = std::make_shared<std::atomic_int>(0);
    int m_readsAtEnd = -1;
    QObject m_watch;
};
