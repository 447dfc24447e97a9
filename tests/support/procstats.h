#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QtGlobal>

#include <type_traits>

// Memory figures of this process for the benchmarks, from /proc/self/status.

// A "VmRSS:" or "VmHWM:" line's value in kB; -1 when it cannot be read.
qint64 statusKb(const char *key);

// Lets VmHWM measure the peak of what follows, not of earlier phases.
void resetPeak();

// Hands freed memory back to the system, so one run's leftovers do not count in the next peak.
void trimHeap();

// The figures of repeated runs of one thing: each run's value (its time in ms, or what the run
// reports) and the process's peak RSS while it ran.
struct RunFigures {
    QList<double> values;
    QList<qint64> peakKb;

    double median() const;
    double least() const;
    double most() const;
    qint64 peakMb() const;
};

// One line of a benchmark: median, fastest and slowest run and peak RSS of ours and of the
// baseline, and the ratio of the medians.
void printFigures(const char *label, const RunFigures &ours, const RunFigures &baseline);

// Runs `run` from a fresh peak and records it: the value it returns when that is 0 or more, else
// its time in ms.
template <class Run> void measure(RunFigures &figures, Run run)
{
    trimHeap();
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    double reported = -1;
    if constexpr (std::is_void_v<decltype(run())>)
        run();
    else
        reported = double(run());
    figures.values << (reported >= 0 ? reported : timer.nsecsElapsed() / 1e6);
    figures.peakKb << statusKb("VmHWM:");
}
