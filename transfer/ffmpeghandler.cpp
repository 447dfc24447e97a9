#include "ffmpeghandler.h"

#include "applog.h"
#include "toolpaths.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <taglib/asffile.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/vorbisfile.h>

#include <memory>

namespace {

QList<track> filesThatExist(const TrackMap &tracks, const StopToken *stop, QString track::*field)
{
    QList<track> found;
    for (const track &t : tracks) {
        if (stop && stop->stopped())
            break;
        if (QFile::exists(t.*field))
            found << t;
    }
    return found;
}

QString mpegCodec(const QByteArray &name)
{
    TagLib::MPEG::File file(name.constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.audioProperties())
        return {};
    switch (file.audioProperties()->layer()) {
    case 1:
        return QStringLiteral("mp1");
    case 2:
        return QStringLiteral("mp2");
    case 3:
        return QStringLiteral("mp3");
    }
    return {};
}

QString mp4Codec(const QByteArray &name)
{
    TagLib::MP4::File file(name.constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.audioProperties())
        return {};
    switch (file.audioProperties()->codec()) {
    case TagLib::MP4::Properties::AAC:
        return QStringLiteral("aac");
    case TagLib::MP4::Properties::ALAC:
        return QStringLiteral("alac");
    default:
        return {};
    }
}

QString asfCodec(const QByteArray &name)
{
    TagLib::ASF::File file(name.constData(), true, TagLib::AudioProperties::Average);
    if (!file.isValid() || !file.audioProperties())
        return {};
    switch (file.audioProperties()->codec()) {
    case TagLib::ASF::Properties::WMA1:
        return QStringLiteral("wmav1");
    case TagLib::ASF::Properties::WMA2:
        return QStringLiteral("wmav2");
    case TagLib::ASF::Properties::WMA9Pro:
        return QStringLiteral("wmapro");
    case TagLib::ASF::Properties::WMA9Lossless:
        return QStringLiteral("wmalossless");
    default:
        return {};
    }
}

template <typename File> QString whenValid(const QByteArray &name, const char *codec)
{
    File file(name.constData(), true, TagLib::AudioProperties::Average);
    return file.isValid() && file.audioProperties() ? QString::fromLatin1(codec) : QString();
}

}  // namespace

ffmpeghandler::ffmpeghandler()
    : playlistExtension(QStringLiteral("m3u"))
{
    qRegisterMetaType<TransferReport>("TransferReport");
    registerTrackMetaTypes();
}

ffmpeghandler::~ffmpeghandler() = default;

void ffmpeghandler::cancelTransfer(const transferDetail &request)
{
    if (request.stop)
        request.stop->raise();
}

QList<track> ffmpeghandler::existingTracks(const TrackMap &tracks, const StopToken *stop)
{
    return filesThatExist(tracks, stop, &track::filepath);
}

QList<track> ffmpeghandler::existingSourceTracks(const TrackMap &tracks, const StopToken *stop)
{
    return filesThatExist(tracks, stop, &track::originalPath);
}

QString ffmpeghandler::probeCodec(const QString &path)
{
    const platform::ToolResult result = platform::runTool(platform::Tool::Ffprobe,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
            QStringLiteral("a:0"), QStringLiteral("-show_entries"), QStringLiteral("stream=codec_name"),
            QStringLiteral("-of"), QStringLiteral("default=noprint_wrappers=1:nokey=1"),
            QFileInfo(path).absoluteFilePath()});
    if (!result.ok())
        return {};
    return QString::fromUtf8(result.standardOutput).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString ffmpeghandler::audioCodecOf(const QString &path)
{
    // One ffprobe run costs tens of milliseconds, longer than copying a song; TagLib answers
    // for the common formats from the file's own headers and hands the rest to ffprobe.
    const QByteArray name = QFile::encodeName(path);
    const QString suffix = QFileInfo(path).suffix().toLower();
    QString codec;
    if (suffix == QLatin1String("mp3") || suffix == QLatin1String("mp2"))
        codec = mpegCodec(name);
    else if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b")
        || suffix == QLatin1String("mp4"))
        codec = mp4Codec(name);
    else if (suffix == QLatin1String("wma") || suffix == QLatin1String("asf"))
        codec = asfCodec(name);
    else if (suffix == QLatin1String("flac"))
        codec = whenValid<TagLib::FLAC::File>(name, "flac");
    else if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga"))
        codec = whenValid<TagLib::Ogg::Vorbis::File>(name, "vorbis");
    else if (suffix == QLatin1String("opus"))
        codec = whenValid<TagLib::Ogg::Opus::File>(name, "opus");
    return codec.isEmpty() ? probeCodec(path) : codec;
}

int ffmpeghandler::readAudioBitrate(const QString &path)
{
    TagLib::FileRef file(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
    if (file.isNull() || !file.audioProperties())
        return 0;
    return file.audioProperties()->bitrate();
}

QList<AudioCodec> ffmpeghandler::loadSystemInfo(const QString &systemName)
{
    QList<AudioCodec> codecs = {{"mp3", "mp3", "mp3"}};
    initKivoResources();
    QFile file(QStringLiteral(":resources/xml/systems.xml"));
    SystemInfo system;
    QString error;
    if (!file.open(QIODevice::ReadOnly) || !readSystemInfo(&file, systemName, &system, &error)) {
        qDebug() << "Load XML File Problem." << error;
        return codecs;
    }
    for (const AudioCodec &codec : std::as_const(system.audio.codecs)) {
        if (codec.name.empty())
            continue;
        for (const QString &extension : QString::fromStdString(codec.extension).split(QLatin1Char(',')))
            codecs.append({codec.name, extension.toStdString(), codec.description});
    }
    return codecs;
}
