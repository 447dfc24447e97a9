#pragma once

#include "toolpaths.h"

#include <QElapsedTimer>
#include <QString>

namespace platform {

// Tells a working tool from a hung one: ffmpeg prints a status line about twice a second and its
// output grows while it works, so a long stretch with neither means it has stopped responding.
class ToolWatchdog
{
public:
    // `limitMs` of quiet is a hang (0: never); growth of `watchedFile`, when named, counts as work.
    explicit ToolWatchdog(qint64 limitMs, const QString &watchedFile = {});

    // The tool printed something.
    void noteOutput();
    // True once the tool has shown no sign of work for the limit.
    bool stalled();
    qint64 limitMs() const { return m_limitMs; }

    // How long `tool` may stay quiet on media `mediaSeconds` long before it counts as hung.
    static qint64 limitFor(Tool tool, double mediaSeconds = 0);
    // Puts a ceiling on every limit (0 lifts it); the environment's KIVO_STALL_LIMIT_MS does the
    // same for a whole process. For tests, which cannot wait minutes for a hang.
    static void setLimitCeiling(qint64 ms);

private:
    qint64 m_limitMs;
    QString m_file;
    qint64 m_fileSize = -1;
    QElapsedTimer m_quiet;
    QElapsedTimer m_sinceStat;
};

}  // namespace platform
