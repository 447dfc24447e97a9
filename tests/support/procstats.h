#pragma once

#include <QtGlobal>

// Memory figures of this process for the benchmarks, from /proc/self/status.

// A "VmRSS:" or "VmHWM:" line's value in kB; -1 when it cannot be read.
qint64 statusKb(const char *key);

// Lets VmHWM measure the peak of what follows, not of earlier phases.
void resetPeak();
