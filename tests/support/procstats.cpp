#include "procstats.h"

#include <QFile>

#include <algorithm>
#include <cstdio>

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

void printFigures(const char *label, const RunFigures &ours, const RunFigures &baseline)
{
    std::printf("%-42s %7.0f ms (%.0f-%.0f)  baseline %6.0f ms (%.0f-%.0f)  ratio %5.2fx  peak RSS %lld MB, "
                "baseline %lld MB\n",
        label, ours.median(), ours.least(), ours.most(), baseline.median(), baseline.least(), baseline.most(),
        ours.median() / baseline.median(), ours.peakMb(), baseline.peakMb());
}
