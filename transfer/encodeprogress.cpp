#include "encodeprogress.h"

#include "apppaths.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

void EncodeProgress::startFile(qint64 frames, qint64 queueFrames)
{
    m_pending.clear();
    m_durationText.clear();
    m_fileFrames = std::max<qint64>(0, frames);
    m_queueFrames = std::max<qint64>(0, queueFrames);
    m_status = Status();
}

bool EncodeProgress::feed(const QByteArray &bytes)
{
    // Only the new bytes can hold a line end, and what was taken is dropped once: a long line
    // fed in small reads, or many lines in one read, never costs more than its length.
    const qsizetype from = m_pending.size();
    m_pending += bytes;
    bool changed = false;
    qsizetype start = 0;
    for (qsizetype i = from; i < m_pending.size(); ++i) {
        const char c = m_pending.at(i);
        if (c != '\r' && c != '\n')
            continue;
        changed |= takeLine(QString::fromUtf8(m_pending.constData() + start, i - start));
        start = i + 1;
    }
    m_pending.remove(0, start);
    // A status line is short; anything longer without a line end is not one worth keeping.
    if (m_pending.size() > 64 * 1024)
        m_pending.clear();
    return changed;
}

namespace {

// Frames encoded a second; far above what any encoder here reaches.
constexpr double kMaxSpeed = 1e7;

}  // namespace

bool EncodeProgress::takeLine(const QString &line)
{
    static const QRegularExpression duration(QStringLiteral("Duration:\\s*(\\d+:\\d+:\\d+(?:\\.\\d+)?)"));
    static const QRegularExpression frame(QStringLiteral("frame=\\s*(\\d+)"));
    static const QRegularExpression fps(QStringLiteral("fps=\\s*(\\d+(?:\\.\\d+)?)"));
    static const QRegularExpression time(QStringLiteral("time=\\s*(\\d+:\\d+:\\d+(?:\\.\\d+)?)"));

    if (m_durationText.isEmpty()) {
        const QRegularExpressionMatch found = duration.match(line);
        if (found.hasMatch()) {
            m_durationText = found.captured(1);
            return false;
        }
    }
    const QRegularExpressionMatch frameMatch = frame.match(line);
    const QRegularExpressionMatch timeMatch = time.match(line);
    if (!frameMatch.hasMatch() || !timeMatch.hasMatch())
        return false;

    AppPaths paths;
    const double total = std::floor(paths.durationToSeconds(m_durationText));
    const double done = std::floor(paths.durationToSeconds(timeMatch.captured(1)));
    const double most = std::max(total, done);
    if (done > 1 && most > 1)
        m_status.percent = std::min(100, int(done / most * 100));

    // fps is the encoder's speed, so frames over it are seconds of work. Under one frame a
    // second it tells nothing yet.
    // Figures out of any real range (twenty digits of "fps=") are junk and tell nothing; they are
    // kept from every cast and sum.
    bool counted = false;
    const qint64 frames = frameMatch.captured(1).toLongLong(&counted);
    const double rate = fps.match(line).captured(1).toDouble();
    const qint64 speed = std::isfinite(rate) && rate >= 1.0 && rate <= kMaxSpeed ? qint64(rate) : 0;
    if (counted && speed > 0) {
        m_status.fileSecondsLeft = std::max<qint64>(0, m_fileFrames - frames) / speed;
        m_status.queueSecondsLeft = std::max<qint64>(0, m_queueFrames - frames) / speed;
    }
    return true;
}
