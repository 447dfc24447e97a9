#include "requestpacer.h"

#include <QHash>
#include <QMutex>

#include <chrono>

namespace {

struct Host {
    qint64 lastTurnUs = 0;
    qint64 lastSentUs = 0;
    bool sent = false;
    qint64 notBeforeUs = 0;
};

struct Bookings {
    QMutex mutex;
    QHash<QString, Host> hosts;
};

Bookings &bookings()
{
    static Bookings b;
    return b;
}

// Microseconds, so rounding never brings two requests closer than the gap.
qint64 nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// A pause is honoured for a day at most, whatever the host asked.
constexpr qint64 kLongestHoldMs = 24 * 3600 * 1000;

qint64 toMsRoundedUp(qint64 us)
{
    return us <= 0 ? 0 : (us + 999) / 1000;
}

}  // namespace

std::function<void(const QString &, qint64, bool)> RequestPacer::sentHook;

qint64 RequestPacer::reserve(const QString &key, qint64 intervalMs)
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    const qint64 current = nowUs();
    const auto found = b.hosts.find(key);
    if (found == b.hosts.end()) {
        b.hosts.insert(key, Host{current, 0, false, 0});
        return 0;
    }
    const qint64 turn = qMax(current, found->lastTurnUs + qMax<qint64>(0, intervalMs) * 1000);
    found->lastTurnUs = turn;
    return toMsRoundedUp(turn - current);
}

qint64 RequestPacer::claim(const QString &key, qint64 intervalMs)
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    const qint64 current = nowUs();
    Host &host = b.hosts[key];
    if (current < host.notBeforeUs)
        return toMsRoundedUp(host.notBeforeUs - current);
    if (host.sent) {
        const qint64 due = host.lastSentUs + qMax<qint64>(0, intervalMs) * 1000;
        if (current < due)
            return toMsRoundedUp(due - current);
    }
    host.sent = true;
    host.lastSentUs = current;
    host.lastTurnUs = qMax(host.lastTurnUs, current);
    if (sentHook)
        sentHook(key, current, true);
    return 0;
}

void RequestPacer::markSent(const QString &key)
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    Host &host = b.hosts[key];
    const qint64 current = nowUs();
    host.sent = true;
    host.lastSentUs = qMax(host.lastSentUs, current);
    host.lastTurnUs = qMax(host.lastTurnUs, current);
    if (sentHook)
        sentHook(key, current, false);
}

void RequestPacer::holdOff(const QString &key, qint64 ms)
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    Host &host = b.hosts[key];
    const qint64 pauseMs = qBound<qint64>(0, ms, kLongestHoldMs);
    host.notBeforeUs = qMax(host.notBeforeUs, nowUs() + pauseMs * 1000);
    host.lastTurnUs = qMax(host.lastTurnUs, host.notBeforeUs);
}

qint64 RequestPacer::heldOffMs(const QString &key)
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    const auto found = b.hosts.constFind(key);
    return found == b.hosts.cend() ? 0 : toMsRoundedUp(found->notBeforeUs - nowUs());
}

QString RequestPacer::keyFor(const QString &scheme, const QString &host, int port)
{
    return scheme.toLower() + QStringLiteral("://") + host.toLower() + QLatin1Char(':')
        + QString::number(port);
}

void RequestPacer::reset()
{
    Bookings &b = bookings();
    QMutexLocker lock(&b.mutex);
    b.hosts.clear();
}
