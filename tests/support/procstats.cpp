#include "procstats.h"

#include <QFile>

#include <algorithm>

#ifdef __GLIBC__
#include <malloc.h>
#endif

qint64 statusKb(const char *key)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    if (file.open(QIODevice::WriteOnly))
        file.write("5");
}

void trimHeap()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

double RunFigures::median() const
{
    QList<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    if (n == 0)
        return 0;
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

double RunFigures::least() const
{
    return values.isEmpty() ? 0 : *std::min_element(values.begin(), values.end());
}

double RunFigures::most() const
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

qint64 RunFigures::peakMb() const
{
    return peakKb.isEmpty() ? 0 : *std::max_element(peakKb.begin(), peakKb.end()) / 1024;
}
