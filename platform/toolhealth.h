#pragma once

#include "toolpaths.h"

#include <QMutex>
#include <QString>

namespace platform {

// One run's record of the tools that failed it on their own account (missing, crashed, hung), as
// opposed to refusing a file. A tool found broken twice is set aside for the rest of the run, so a
// broken install costs two files' worth of waiting rather than one per file. fpcalc is set aside
// at its first hang: it reads at most the first two minutes of any file, so a hang says nothing
// about the file and every further one would cost a whole limit. Safe from any thread.
class ToolHealth
{
public:
    static constexpr int kStrikes = 2;

    bool usable(Tool tool) const;
    // Counts one failure of the tool; true for the one that sets it aside (once per tool and run).
    bool noteBroken(Tool tool, bool hung = false);
    // What a file that needed a set-aside tool is told.
    static QString setAsideText(Tool tool);
    // What the run tells once, when the tool is set aside.
    static QString setAsideNotice(Tool tool);
    // A new run: every tool is tried again.
    void reset();

private:
    mutable QMutex m_mutex;
    int m_strikes[3] = {0, 0, 0};
};

}  // namespace platform
