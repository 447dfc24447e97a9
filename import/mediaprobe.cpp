#include "mediaprobe.h"

#include "applog.h"
#include "apppaths.h"
#include "toolpaths.h"
#include "track_data.h"

#include <QFileInfo>
#include <QHash>
#include <QList>

#include <cmath>

namespace {

// A header may claim this many times the bytes the file holds, and a little more for tags and
// covers, before its length is doubted: bit rates in headers are averages, not promises.
constexpr double kLengthMargin = 4.0;
constexpr qint64 kLengthSlackBytes = 64 * 1024;

// "key=value" fields of one compact line, after its section name.
QHash<QByteArray, QByteArray> fieldsOf(const QList<QByteArray> &parts)
{
    QHash<QByteArray, QByteArray> fields;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const qsizetype equals = parts.at(i).indexOf('=');
        if (equals > 0)
            fields.insert(parts.at(i).left(equals), parts.at(i).mid(equals + 1));
    }
    return fields;
}

// A figure ffprobe printed; 0 for "N/A", junk and anything not finite or below zero.
double number(const QHash<QByteArray, QByteArray> &fields, const char *key)
{
    bool ok = false;
    const double value = fields.value(key).toDouble(&ok);
    return ok && std::isfinite(value) && value > 0 ? value : 0;
}

int kbps(double bitsPerSecond)
{
    return int(std::lround(qMin(bitsPerSecond / 1000.0, 1e6)));
}

int whole(double value)
{
    return int(qMin(value, 1e9));
}

}  // namespace

ProbedMedia MediaProbe::probe(const QString &path, bool readPackets, int timeoutMs)
{
    QStringList arguments = {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
        QStringLiteral("stream=codec_type,sample_rate,channels,bit_rate,duration:format=duration,bit_rate")
            + (readPackets ? QStringLiteral(":packet=pts_time,duration_time") : QString()),
        QStringLiteral("-of"), QStringLiteral("compact")};
    if (readPackets)
        arguments << QStringLiteral("-select_streams") << QStringLiteral("a:0");
    // "file:" keeps a name from being read as another protocol or an option.
    arguments << QStringLiteral("file:") + path;
    const platform::ToolResult run = platform::runTool(platform::Tool::Ffprobe, arguments, timeoutMs);
    if (!run.started || run.timedOut || run.crashed || run.cancelled) {
        writeLog(
            appLogFile(), QStringLiteral("ffprobe failed for ") + path + QStringLiteral(": "), run.error);
        return ProbedMedia();
    }
    return parse(run.standardOutput);
}

ProbedMedia MediaProbe::parse(const QByteArray &output)
{
    ProbedMedia media;
    media.answered = true;
    double formatSeconds = 0;
    double formatBitrate = 0;
    double streamBitrate = 0;
    for (const QByteArray &line : output.split('\n')) {
        const QList<QByteArray> parts = line.trimmed().split('|');
        const QByteArray &section = parts.first();
        if (section == "packet") {
            const auto fields = fieldsOf(parts);
            media.packetEnd
                = qMax(media.packetEnd, number(fields, "pts_time") + number(fields, "duration_time"));
        } else if (section == "stream") {
            ++media.streams;
            const auto fields = fieldsOf(parts);
            if (fields.value("codec_type") != "audio" || media.audioStreams++ > 0)
                continue;
            media.seconds = number(fields, "duration");
            streamBitrate = number(fields, "bit_rate");
            media.sampleRate = whole(number(fields, "sample_rate"));
            media.channels = whole(number(fields, "channels"));
        } else if (section == "format") {
            const auto fields = fieldsOf(parts);
            formatSeconds = number(fields, "duration");
            formatBitrate = number(fields, "bit_rate");
        }
    }
    media.seconds = boundedSeconds(media.seconds > 0 ? media.seconds : formatSeconds);
    media.packetEnd = boundedSeconds(media.packetEnd);
    media.bitrateKbps = kbps(streamBitrate > 0 ? streamBitrate : formatBitrate);
    return media;
}

bool MediaProbe::lengthExceedsFile(double seconds, int bitrateKbps, qint64 fileBytes)
{
    if (seconds <= 0 || bitrateKbps <= 0)
        return false;
    const double needed = seconds * bitrateKbps * 125.0;
    return needed > kLengthMargin * double(qMax<qint64>(fileBytes, 0)) + kLengthSlackBytes;
}

void MediaProbe::completeAudio(tagInfo &info, const QString &path)
{
    const qint64 size = QFileInfo(path).size();
    const bool missing = info.length == 0 || info.bitrate <= 0 || info.sampleRate == 0 || info.channels <= 0;
    if (missing) {
        const ProbedMedia probed = probe(path, false);
        if (info.length == 0)
            info.length = unsigned(probed.seconds);
        if (info.bitrate <= 0)
            info.bitrate = probed.bitrateKbps;
        if (info.sampleRate == 0)
            info.sampleRate = unsigned(probed.sampleRate);
        if (info.channels <= 0)
            info.channels = probed.channels;
    }
    if (!lengthExceedsFile(info.length, info.bitrate, size))
        return;
    const ProbedMedia measured = probe(path, true);
    if (measured.packetEnd <= 0)
        return;
    writeLog(appLogFile(),
        QStringLiteral("Length measured, the file holds %1 s of the %2 s its header claims: ")
            .arg(unsigned(measured.packetEnd))
            .arg(info.length),
        path);
    info.length = unsigned(measured.packetEnd);
}

bool MediaProbe::readRawAudio(tagInfo &info, const QString &path)
{
    const ProbedMedia probed = probe(path, true);
    if (probed.audioStreams == 0)
        return false;
    info.length = unsigned(probed.packetEnd > 0 ? probed.packetEnd : probed.seconds);
    info.bitrate = probed.bitrateKbps;
    info.sampleRate = unsigned(probed.sampleRate);
    info.channels = probed.channels;
    return true;
}
