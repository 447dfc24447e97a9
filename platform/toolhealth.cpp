#include "toolhealth.h"

#include <algorithm>
#include <iterator>

namespace platform {

bool ToolHealth::usable(Tool tool) const
{
    const QMutexLocker lock(&m_mutex);
    return m_strikes[int(tool)] < kStrikes;
}

bool ToolHealth::noteBroken(Tool tool, bool hung)
{
    const QMutexLocker lock(&m_mutex);
    int &strikes = m_strikes[int(tool)];
    if (strikes >= kStrikes)
        return false;
    strikes = hung && tool == Tool::Fpcalc ? kStrikes : strikes + 1;
    return strikes == kStrikes;
}

void ToolHealth::reset()
{
    const QMutexLocker lock(&m_mutex);
    std::fill(std::begin(m_strikes), std::end(m_strikes), 0);
}

QString ToolHealth::setAsideText(Tool tool)
{
    return QStringLiteral("%1 was set aside for this run").arg(toolName(tool));
}

QString ToolHealth::setAsideNotice(Tool tool)
{
    return QStringLiteral("%1 is missing, crashed or stopped responding, and is not tried again in "
                          "this run")
        .arg(toolName(tool));
}

}  // namespace platform
