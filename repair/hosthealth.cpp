#include "hosthealth.h"

#include "applog.h"

#include <QHash>
#include <QMutex>

namespace {

struct Health {
    QMutex mutex;
    QHash<QString, int> failures;
    QStringList givenUpKeys;
    QStringList givenUpHosts;
};

Health &health()
{
    static Health h;
    return h;
}

}  // namespace

void HostHealth::record(const QString &key, const QString &host, bool answered)
{
    Health &h = health();
    QMutexLocker lock(&h.mutex);
    if (h.givenUpKeys.contains(key))
        return;
    if (answered) {
        h.failures.remove(key);
        return;
    }
    if (++h.failures[key] < kFailuresInARow)
        return;
    lock.unlock();
    giveUp(key, host, QStringLiteral("failed %1 times in a row").arg(kFailuresInARow));
}

void HostHealth::giveUp(const QString &key, const QString &host, const QString &why)
{
    Health &h = health();
    QMutexLocker lock(&h.mutex);
    // Named once, however many requests find out at the same time.
    if (h.givenUpKeys.contains(key))
        return;
    h.givenUpKeys << key;
    h.givenUpHosts << host;
    h.failures.remove(key);
    lock.unlock();
    writeLog(appLogFile(), QStringLiteral("Repair: not asked again in this run, %1: ").arg(why), host);
}

bool HostHealth::isGivenUp(const QString &key)
{
    Health &h = health();
    QMutexLocker lock(&h.mutex);
    return h.givenUpKeys.contains(key);
}

QStringList HostHealth::givenUp()
{
    Health &h = health();
    QMutexLocker lock(&h.mutex);
    return h.givenUpHosts;
}

void HostHealth::reset()
{
    Health &h = health();
    QMutexLocker lock(&h.mutex);
    h.failures.clear();
    h.givenUpKeys.clear();
    h.givenUpHosts.clear();
}
