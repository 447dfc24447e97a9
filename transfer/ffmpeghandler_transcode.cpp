#include "ffmpeghandler.h"

#include "filecopy.h"
#include "toolhealth.h"
#include "toolpaths.h"
#include "toolwatchdog.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <taglib/fileref.h>
#include <taglib/tag.h>
#include <taglib/tpropertymap.h>

namespace {

const QString kAudioBitrate = QStringLiteral("256");
const QString kAudioSampleRate = QStringLiteral("44100");

// The encoder Debian's ffmpeg has for a codec the systems list names.
QString encoderFor(const QString &codec)
{
    const QString lower = codec.toLower();
    if (lower == QLatin1String("mp3"))
        return QStringLiteral("libmp3lame");
    if (lower == QLatin1String("aac") || lower == QLatin1String("libfaac")
        || lower == QLatin1String("libvo_aacenc"))
        return QStringLiteral("aac");
    return codec;
}

QString codecOf(const QString &encoder)
{
    return encoder == QLatin1String("libmp3lame") ? QStringLiteral("mp3") : encoder;
}

// A transcode made from this source before, and not older than it.
bool isUpToDate(const QString &transcoded, const QString &source)
{
    const QFileInfo made(transcoded);
    return made.isFile() && made.size() > 0 && made.lastModified() >= QFileInfo(source).lastModified();
}

// The source's length in seconds, for the watchdog's limit; 0 when TagLib cannot tell.
double lengthOf(const QString &source)
{
    const TagLib::FileRef file(QFile::encodeName(source).constData(), true, TagLib::AudioProperties::Fast);
    return file.isNull() || !file.audioProperties() ? 0.0 : file.audioProperties()->lengthInSeconds();
}

QString lastLine(const QByteArray &output)
{
    const QList<QByteArray> lines = output.trimmed().split('\n');
    return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last()).trimmed();
}

}  // namespace

TranscodeResult ffmpeghandler::transcode(const QString &source, const QString &target, QString codec,
    QString extension, QList<AudioCodec> fallback, const StopToken &stop, bool retryAfterCrash,
    platform::ToolHealth *health) const
{
    TranscodeResult result;
    // Measured only when a transcode is really made: a reused one needs no limit.
    qint64 stallLimit = -1;
    for (;;) {
        QString encoder = encoderFor(codec);
        const QString lower = source.toLower();
        if (lower.endsWith(QLatin1String(".avi")) || lower.endsWith(QLatin1String(".ogg"))
            || lower.endsWith(QLatin1String(".mp4"))) {
            encoder = QStringLiteral("libmp3lame");
            extension = QStringLiteral("mp3");
        }
        const QString destination = target + QLatin1Char('.') + extension;
        result.codec = codecOf(encoder);
        if (isUpToDate(destination, source)) {
            result.path = destination;
            result.reused = true;
            return result;
        }

        if (stallLimit < 0)
            stallLimit = platform::ToolWatchdog::limitFor(platform::Tool::Ffmpeg, lengthOf(source));
        QDir().mkpath(QFileInfo(destination).absolutePath());
        // The temporary name keeps the suffix, so ffmpeg still picks the format.
        const QFileInfo destinationInfo(destination);
        const QString temporary
            = platform::temporaryPath(destinationInfo.absolutePath(), destinationInfo.suffix());
        // No limit on the whole run (a long file takes long), but one on silence: ffmpeg that
        // neither prints its status nor grows its output has stopped responding.
        platform::RunOptions options;
        options.timeoutMs = -1;
        options.stallLimitMs = stallLimit;
        options.watchedFile = temporary;
        options.subject = QFileInfo(source).fileName();
        options.cancelled = [&stop] { return stop.stopped(); };
        options.health = health;
        const platform::ToolResult run = platform::runTool(platform::Tool::Ffmpeg,
            {QStringLiteral("-y"), QStringLiteral("-i"), QFileInfo(source).absoluteFilePath(),
                QStringLiteral("-vn"), QStringLiteral("-acodec"), encoder, QStringLiteral("-ab"),
                kAudioBitrate + QLatin1Char('k'), QStringLiteral("-ar"), kAudioSampleRate, temporary},
            options);
        qDebug() << "IS TransCode" << run.exitCode;
        if (run.ok() && QFileInfo(temporary).size() > 0) {
            UpdateTag(source, temporary);
            if (platform::replaceFile(temporary, destination).ok()) {
                result.path = destination;
                return result;
            }
            result.error = QStringLiteral("the transcoded file could not be put in place");
        } else {
            result.error = run.error.isEmpty() ? lastLine(run.standardError) : run.error;
            if (result.error.isEmpty())
                result.error = QStringLiteral("ffmpeg ended with code %1").arg(run.exitCode);
        }
        QFile::remove(temporary);
        result.cancelled = run.cancelled;
        result.crashed = run.crashed;
        // Another codec cannot help a tool that is missing, hung or set aside.
        const bool toolFailed = (run.broken && !run.crashed) || run.setAside;
        if (run.cancelled || toolFailed || (run.crashed && !retryAfterCrash) || fallback.isEmpty())
            return result;
        const AudioCodec next = fallback.takeFirst();
        codec = QString::fromStdString(next.name);
        extension = QString::fromStdString(next.extension);
    }
}

TranscodeResult ffmpeghandler::fileTrancodinMethod(const QString &source, const QString &target,
    const QString &setCodec, const QString &extension, QList<AudioCodec> fallback, const StopToken &stop,
    platform::ToolHealth *health) const
{
    return transcode(source, target, setCodec, extension, std::move(fallback), stop, false, health);
}

TranscodeResult ffmpeghandler::fileTranscodeOnOk(const track &current, const QString &source,
    const QString &target, const QString &setCodec, const QString &extension, QList<AudioCodec> fallback,
    const StopToken &stop, platform::ToolHealth *health)
{
    const TranscodeResult result
        = transcode(source, target, setCodec, extension, std::move(fallback), stop, true, health);
    if (!result.cancelled)
        emit sgRemoveFile(current.filepath, current.id, result.ok() ? (result.reused ? 2 : 3) : 1);
    return result;
}

void ffmpeghandler::UpdateTag(const QString &sourcefilePath, const QString &targetfilePath)
{
    TagLib::FileRef source(
        QFile::encodeName(sourcefilePath).constData(), true, TagLib::AudioProperties::Average);
    TagLib::FileRef target(
        QFile::encodeName(targetfilePath).constData(), true, TagLib::AudioProperties::Average);
    if (source.isNull() || !source.tag() || target.isNull() || !target.tag())
        return;
    // The disc number places the file in its album on the car as the track number does, and a later
    // run reads both from the copy on the drive.
    const TagLib::PropertyMap from = source.file()->properties();
    const auto disc = from.find("DISCNUMBER");
    if (disc != from.end() && !disc->second.isEmpty()) {
        TagLib::PropertyMap to = target.file()->properties();
        to.replace("DISCNUMBER", disc->second);
        target.file()->setProperties(to);
    }
    const TagLib::Tag *tag = source.tag();
    if (!tag->isEmpty()) {
        TagLib::Tag *to = target.tag();
        to->setTitle(tag->title());
        to->setArtist(tag->artist());
        to->setAlbum(tag->album());
        to->setGenre(tag->genre());
        to->setYear(tag->year());
        to->setTrack(tag->track());
    }
    target.save();
}
