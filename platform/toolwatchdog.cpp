#include "toolwatchdog.h"

#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace platform {

namespace {

std::atomic<qint64> g_ceiling{-1};

// Reading a file's size is cheap, but not free on a slow stick: a few times a second is plenty.
constexpr qint64 kStatEveryMs = 250;

qint64 ceiling()
{
    qint64 value = g_ceiling.load();
    if (value < 0) {
        bool ok = false;
        value = qEnvironmentVariableIntValue("KIVO_STALL_LIMIT_MS", &ok);
        value = ok && value > 0 ? value : 0;
        g_ceiling = value;
    }
    return value;
}

}  // namespace

ToolWatchdog::ToolWatchdog(qint64 limitMs, const QString &watchedFile)
    : m_limitMs(std::max<qint64>(0, limitMs))
    , m_file(watchedFile)
{
    m_quiet.start();
    m_sinceStat.start();
}

void ToolWatchdog::noteOutput()
{
    m_quiet.restart();
}

bool ToolWatchdog::stalled()
{
    if (m_limitMs <= 0)
        return false;
    if (!m_file.isEmpty() && m_sinceStat.elapsed() >= kStatEveryMs) {
        m_sinceStat.restart();
        const qint64 size = QFileInfo(m_file).size();
        if (size != m_fileSize) {
            m_fileSize = size;
            m_quiet.restart();
        }
    }
    return m_quiet.elapsed() >= m_limitMs;
}

qint64 ToolWatchdog::limitFor(Tool tool, double mediaSeconds)
{
    const double seconds = std::isfinite(mediaSeconds) ? std::clamp(mediaSeconds, 0.0, 86400.0) : 0.0;
    qint64 limit = 30000;
    if (tool == Tool::Ffmpeg) {
        // Quiet stretches come at the ends: opening the input (a stick or disk waking up, the
        // probe of the first seconds) and closing the output (flushing the encoder, writing the
        // index), and the latter grows with the length: 3 s more per minute, at most 5 minutes.
        limit = std::min<qint64>(30000 + qint64(seconds * 50.0), 300000);
    }
    // ffprobe reads only headers, and fpcalc prints nothing until done but reads at most the first
    // two minutes of audio whatever the length: both keep the flat limit.
    const qint64 most = ceiling();
    return most > 0 ? std::min(limit, most) : limit;
}

void ToolWatchdog::setLimitCeiling(qint64 ms)
{
    g_ceiling = std::max<qint64>(0, ms);
}

}  // namespace platform
