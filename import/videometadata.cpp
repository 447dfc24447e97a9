#include "videometadata.h"

#include "applog.h"
#include "tempfiles.h"
#include "toolpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <taglib/asffile.h>
#include <taglib/mp4file.h>

using platform::Tool;

namespace {

// The container's own length through TagLib; 0 for a protected or unreadable file.
template <class FileType> double taglibLength(const QByteArray &name)
{
    FileType file(name.constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.audioProperties() || file.audioProperties()->isEncrypted())
        return 0;
    return file.audioProperties()->lengthInSeconds();
}

bool isEncryptedVideo(const QByteArray &name, bool asf)
{
    if (asf) {
        TagLib::ASF::File file(name.constData(), true, TagLib::AudioProperties::Average);
        return file.isValid() && file.audioProperties() && file.audioProperties()->isEncrypted();
    }
    TagLib::MP4::File file(name.constData(), true, TagLib::AudioProperties::Average);
    return file.isValid() && file.audioProperties() && file.audioProperties()->isEncrypted();
}

}  // namespace

VideoMetadata::VideoMetadata(QObject *parent)
    : QObject(parent)
{ }

QString VideoMetadata::thumbnailPath(const QString &video) const
{
    const QFileInfo info(video);
    QString name = info.fileName();
    const QString suffix = info.suffix();
    if (!suffix.isEmpty())
        name.remove(QLatin1Char('.') + suffix, Qt::CaseSensitive);
    return AppPaths::dataLocation() + paths.videoArtworkDir + QLatin1Char('/') + name
        + QStringLiteral(".png");
}

track VideoMetadata::readVideoInfo(const QString &path, qint16 probeDuration)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    double duration = 0;
    bool taglibFormat = false;
    bool encrypted = false;
    if (suffix == QLatin1String("wmv")) {
        taglibFormat = true;
        encrypted = isEncryptedVideo(name, true);
        duration = encrypted ? 0 : taglibLength<TagLib::ASF::File>(name);
    } else if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v")) {
        taglibFormat = true;
        encrypted = isEncryptedVideo(name, false);
        duration = encrypted ? 0 : taglibLength<TagLib::MP4::File>(name);
    }
    // TagLib measures only the sound track: a silent video, or one TagLib cannot read, is
    // measured by the tools like every other format.
    if (probeDuration != 0 && !encrypted && (!taglibFormat || duration <= 0))
        duration = probeStreams(path);

    track result{};
    result.duration = duration;
    result.cover = thumbnailPath(path);
    if (!QFileInfo::exists(result.cover))
        grabThumbnail(path, result.cover, QFileInfo(result.cover).absolutePath(), duration);
    return result;
}

QString VideoMetadata::grabThumbnail(
    const QString &video, const QString &image, const QString &folder, double duration)
{
    if (!QDir().mkpath(folder)) {
        writeLog(appLogFile(), QStringLiteral("Cannot create the video artwork folder: "), folder);
        return QStringLiteral("");
    }
    // ffmpeg writes into a temporary name; only a complete image is renamed into place.
    QFile temp;
    if (!platform::openTemporaryFile(temp, folder, QStringLiteral("png"))) {
        writeLog(appLogFile(), QStringLiteral("Cannot create a thumbnail file in: "), folder);
        return QStringLiteral("");
    }
    temp.close();
    platform::TemporaryFileRemover removeTemp(temp.fileName());

    QStringList arguments = {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-i"), video,
        QStringLiteral("-r"), QStringLiteral("1")};
    if (duration > 15)
        arguments << QStringLiteral("-ss") << QStringLiteral("00:00:15");
    arguments << QStringLiteral("-t") << QStringLiteral("00:00:01") << QStringLiteral("-frames:v")
              << QStringLiteral("1") << QStringLiteral("-update") << QStringLiteral("1")
              << QStringLiteral("-f") << QStringLiteral("image2") << temp.fileName();
    const platform::ToolResult run = platform::runTool(Tool::Ffmpeg, arguments, toolTimeoutMs);
    if (!run.ok()) {
        writeLog(appLogFile(), QStringLiteral("Thumbnail not made for ") + video + QStringLiteral(": "),
            run.error.isEmpty() ? QStringLiteral("ffmpeg exit code %1").arg(run.exitCode) : run.error);
        return QStringLiteral("");
    }
    if (QImageReader(temp.fileName()).size().isEmpty()) {
        writeLog(appLogFile(), QStringLiteral("Thumbnail not made (no frame) for: "), video);
        return QStringLiteral("");
    }
    // Another thread may have made the same thumbnail meanwhile; its file is kept.
    if (!QFile::exists(image) && temp.rename(image)) {
        removeTemp.keep();
        return image;
    }
    return QFile::exists(image) ? image : QStringLiteral("");
}

double VideoMetadata::parseStreamDuration(const QByteArray &output)
{
    QString streamType;
    const QList<QByteArray> lines = output.trimmed().split('\n');
    for (const QByteArray &raw : lines) {
        const QString line = QString::fromUtf8(raw).trimmed();
        const int equals = line.indexOf(QLatin1Char('='));
        const QString key = (equals < 0 ? line : line.left(equals)).toLower();
        const QString value = equals < 0 ? line : line.mid(equals + 1);
        if (key == QLatin1String("codec_type")) {
            streamType = value;
        } else if (key == QLatin1String("duration") && streamType == QLatin1String("video")) {
            bool ok = false;
            const double seconds = value.toDouble(&ok);
            return ok ? boundedSeconds(seconds) : 0;
        }
    }
    return 0;
}

double VideoMetadata::parseDurationLine(const QByteArray &output) const
{
    const QString text = QString::fromUtf8(output);
    const int at = text.indexOf(QLatin1String("Duration"));
    if (at < 0)
        return 0;
    const QString durationText = text.mid(at + 10, 11).trimmed();
    return durationText.isEmpty() ? 0 : paths.durationToSeconds(durationText);
}

double VideoMetadata::probeStreams(const QString &video)
{
    const platform::ToolResult probe
        = platform::runTool(Tool::Ffprobe, {QStringLiteral("-show_streams"), video}, toolTimeoutMs);
    if (!probe.error.isEmpty())
        writeLog(
            appLogFile(), QStringLiteral("ffprobe failed for ") + video + QStringLiteral(": "), probe.error);
    double duration = parseStreamDuration(probe.standardOutput);
    if (duration > 0)
        return duration;

    // Some containers give no stream length; ffmpeg's input summary still names one.
    const platform::ToolResult info = platform::runTool(
        Tool::Ffmpeg, {QStringLiteral("-nostdin"), QStringLiteral("-i"), video}, toolTimeoutMs);
    if (!info.started || info.timedOut) {
        writeLog(
            appLogFile(), QStringLiteral("ffmpeg failed for ") + video + QStringLiteral(": "), info.error);
        return 0;
    }
    duration = parseDurationLine(info.standardError + info.standardOutput);
    if (duration <= 0)
        writeLog(appLogFile(), QStringLiteral("No video length found for: "), video);
    return duration;
}
