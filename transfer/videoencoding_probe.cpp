#include "videoencoding.h"

#include "apppaths.h"
#include "drivenames.h"
#include "kivodb.h"
#include "toolpaths.h"
#include "transcodenames.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

// Beyond these a probe's figures are junk, not video: no film runs at more frames a second, and
// a week at that rate has fewer frames. Keeping within them leaves every sum and cast defined.
constexpr qint64 kMaxFrameRate = 1000;
constexpr qint64 kMaxFrames = qint64(kMaxMediaSeconds) * kMaxFrameRate;
constexpr qint64 kMaxSide = 1 << 16;
constexpr qint64 kMaxChannels = 1024;

// "30000/1001" as whole frames per second; `current` when the fraction tells nothing.
qint64 frameRateOf(const QString &fraction, qint64 current)
{
    const qint64 numerator = fraction.section(QLatin1Char('/'), 0, 0).toLongLong();
    const qint64 denominator = fraction.section(QLatin1Char('/'), 1, 1).toLongLong();
    if (numerator <= 1 || denominator <= 0)
        return current;
    const qint64 rate = numerator / denominator;
    return rate <= kMaxFrameRate ? rate : current;
}

// A figure read from ffprobe within [0, most]; anything outside counts as 0, as junk does.
qint64 within(const QString &text, qint64 most, bool *read = nullptr)
{
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    ok = ok && value >= 0 && value <= most;
    if (read)
        *read = ok;
    return ok ? value : 0;
}

// Frames of a film `seconds` long at `rate`, both already bounded.
qint64 framesOf(qint64 rate, double seconds)
{
    return std::clamp<qint64>(qint64(double(rate) * boundedSeconds(seconds)), 0, kMaxFrames);
}

}  // namespace

VideoStreamInfo VideoEncoding::parseStreams(const QByteArray &listing)
{
    VideoStreamInfo info;
    bool haveVideo = false, haveAudio = false;
    QHash<QString, QString> stream;
    const auto take = [&] {
        const QString type = stream.value(QStringLiteral("codec_type"));
        // A cover picture is listed as a video stream; it is not the film.
        const bool picture = stream.value(QStringLiteral("disposition:attached_pic")) == QLatin1String("1");
        if (type == QLatin1String("video") && !picture && !haveVideo) {
            haveVideo = true;
            info.videoCodec = stream.value(QStringLiteral("codec_name"));
            info.width = within(stream.value(QStringLiteral("width")), kMaxSide);
            info.height = within(stream.value(QStringLiteral("height")), kMaxSide);
            info.frameRate = frameRateOf(stream.value(QStringLiteral("r_frame_rate")), 0);
            info.avgFrameRate = frameRateOf(stream.value(QStringLiteral("avg_frame_rate")), 0);
            info.duration = boundedSeconds(stream.value(QStringLiteral("duration")).toDouble());
            bool counted = false;
            info.frameCount = within(stream.value(QStringLiteral("nb_frames")), kMaxFrames, &counted);
            if (!counted)
                info.frameCount
                    = framesOf(info.frameRate > 0 ? info.frameRate : info.avgFrameRate, info.duration);
        } else if (type == QLatin1String("audio") && !haveAudio) {
            haveAudio = true;
            info.audioCodec = stream.value(QStringLiteral("codec_name"));
            info.channels = within(stream.value(QStringLiteral("channels")), kMaxChannels);
        }
        stream.clear();
    };
    for (const QByteArray &raw : listing.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line == QLatin1String("[/STREAM]")) {
            take();
            continue;
        }
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals > 0)
            stream.insert(line.left(equals).toLower(), line.mid(equals + 1));
    }
    if (!stream.isEmpty())
        take();
    return info;
}

VideoStreamInfo VideoEncoding::probeStreams(const QString &path)
{
    const platform::ToolResult result = platform::runTool(platform::Tool::Ffprobe,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
            QFileInfo(path).absoluteFilePath()});
    VideoStreamInfo info = parseStreams(result.standardOutput);
    info.filePath = path;
    info.exists = QFileInfo(path).isFile();
    // Some containers give no stream duration; ffmpeg still tells the input's.
    if (info.exists && info.duration < 1.0) {
        const double measured = runInfo(path);
        if (measured > info.duration)
            info.duration = measured;
        if (info.frameCount <= 0)
            info.frameCount
                = framesOf(info.frameRate > 0 ? info.frameRate : info.avgFrameRate, info.duration);
    }
    return info;
}

double VideoEncoding::runInfo(const QString &path)
{
    static const QRegularExpression durationLine(QStringLiteral("Duration:\\s*(\\d+:\\d+:\\d+(?:\\.\\d+)?)"));
    // Without an output ffmpeg only describes the input, and says so with exit code 1.
    const platform::ToolResult result = platform::runTool(platform::Tool::Ffmpeg,
        {QStringLiteral("-hide_banner"), QStringLiteral("-i"), QFileInfo(path).absoluteFilePath()});
    const QRegularExpressionMatch found
        = durationLine.match(QString::fromUtf8(result.standardError + result.standardOutput));
    return found.hasMatch() ? AppPaths().durationToSeconds(found.captured(1)) : 0.0;
}

bool VideoEncoding::isCarCompatible(const QFileInfo &source, const VideoStreamInfo &info)
{
    return source.suffix().toLower() == QLatin1String("mp4")
        && info.videoCodec.trimmed() == QLatin1String("h264")
        && info.audioCodec.trimmed() == QLatin1String("aac") && info.width > 0 && info.width <= 1024
        && info.height > 0 && info.height <= 600;
}

QStringList VideoEncoding::encodeArguments(const QString &source, const QString &output)
{
    // One filter chain: fit into 1024 x 600 keeping the aspect, never enlarge, even sizes (4:2:0
    // needs them). The first real video stream and the first audio stream are the ones kept.
    return {QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
        QStringLiteral("-i"), source, QStringLiteral("-map"), QStringLiteral("0:V:0"), QStringLiteral("-map"),
        QStringLiteral("0:a:0?"), QStringLiteral("-vf"),
        QStringLiteral("scale='min(1024,iw)':'min(600,ih)':force_original_aspect_ratio=decrease:"
                       "force_divisible_by=2"),
        QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-profile:v"),
        QStringLiteral("main"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), QStringLiteral("-c:a"),
        QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("160k"), QStringLiteral("-ar"),
        QStringLiteral("44100"), QStringLiteral("-ac"), QStringLiteral("2"), QStringLiteral("-f"),
        QStringLiteral("mp4"), output};
}

QString VideoEncoding::outputPathFor(const track &t, QString *error)
{
    const QString base = TranscodeNames::claim(kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media"),
        QStringLiteral("Videos"), transcodeTitle(t), t.originalPath, error);
    return base.isEmpty() ? base : base + QStringLiteral(".mp4");
}
