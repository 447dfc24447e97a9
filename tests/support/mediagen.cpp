#include "mediagen.h"

#include "toolpaths.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>

namespace {

QString runFfmpeg(const QStringList &arguments)
{
    const QStringList all = QStringList{"-nostdin", "-y", "-hide_banner", "-loglevel", "error"} + arguments;
    const platform::ToolResult result = platform::runTool(platform::Tool::Ffmpeg, all, 60000);
    if (!result.ok())
        return QString("ffmpeg failed (%1): %2 %3")
            .arg(result.exitCode)
            .arg(result.error, QString::fromLocal8Bit(result.standardError));
    return {};
}

QString suffixOf(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return QFileInfo(path).suffix().toLower();
}

}  // namespace

QByteArray MediaGen::coverPng(const QColor &color, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes;
}

QString MediaGen::makeAudio(const QString &path, const Audio &media)
{
    static const QMap<QString, QString> codecs = {{"mp3", "libmp3lame"}, {"m4a", "aac"}, {"m4b", "aac"},
        {"flac", "flac"}, {"ogg", "libvorbis"}, {"oga", "libvorbis"}, {"wma", "wmav2"}, {"wav", "pcm_s16le"},
        {"aiff", "pcm_s16be"}, {"aif", "pcm_s16be"}, {"aac", "aac"}};
    const QString suffix = suffixOf(path);
    const QString codec = media.codec.isEmpty() ? codecs.value(suffix) : media.codec;
    if (codec.isEmpty())
        return "no audio format for suffix " + suffix;
    const bool aiff = suffix == "aiff" || suffix == "aif", mp4 = suffix == "m4a" || suffix == "m4b";
    QStringList args = {"-f", "lavfi", "-i",
        QString("sine=frequency=440:sample_rate=%1:duration=%2").arg(media.sampleRate).arg(media.seconds)};

    // ffmpeg attaches the cover where its muxer can; TagLib does it for the rest.
    const bool ffmpegCover = media.cover && (suffix == "mp3" || suffix == "m4a" || suffix == "flac" || aiff);
    QTemporaryDir coverDir;
    if (ffmpegCover) {
        const QString coverPath = coverDir.filePath("cover.png");
        QFile cover(coverPath);
        if (!cover.open(QIODevice::WriteOnly)
            || cover.write(coverPng(media.coverColor, media.coverSize)) <= 0)
            return "cannot write the cover image";
        cover.close();
        args += QStringList{"-i", coverPath, "-map", "0:a", "-map", "1:v", "-c:v", "png", "-disposition:v",
            "attached_pic", "-metadata:s:v", "comment=Cover (front)"};
    }

    args += QStringList{
        "-ac", QString::number(media.channels), "-ar", QString::number(media.sampleRate), "-c:a", codec};
    if (media.bitrateKbps > 0)
        args += QStringList{"-b:a", QString("%1k").arg(media.bitrateKbps)};
    for (auto it = media.tags.constBegin(); it != media.tags.constEnd(); ++it) {
        // ffmpeg's ASF writer keeps "date" under its own name, which no player reads as the year.
        const QString key = suffix == "wma" && it.key() == "date" ? QString("WM/Year") : it.key();
        args += QStringList{"-metadata", key + '=' + it.value()};
    }
    if (aiff)
        args += QStringList{"-write_id3v2", "1"};
    // The iPod muxer takes AAC and ALAC only.
    if (mp4)
        args += QStringList{"-f", media.codec.isEmpty() ? "ipod" : "mp4"};
    QString error = runFfmpeg(args << path);
    if (error.isEmpty() && media.cover && !ffmpegCover)
        error = attachCover(path, coverPng(media.coverColor, media.coverSize));
    return error;
}

QString MediaGen::makeVideo(const QString &path, double seconds, bool withAudio)
{
    MediaVideo video;
    video.seconds = seconds;
    video.channels = withAudio ? 1 : 0;
    return makeVideo(path, video);
}

QString MediaGen::makeVideo(const QString &path, const MediaVideo &video)
{
    const QString suffix = suffixOf(path);
    QStringList args = {"-f", "lavfi", "-i",
        QString("testsrc=size=%1x%2:rate=%3:duration=%4")
            .arg(video.size.width())
            .arg(video.size.height())
            .arg(video.rate)
            .arg(video.seconds)};
    if (video.channels > 0)
        args += QStringList{"-f", "lavfi", "-i",
            QString("sine=frequency=440:sample_rate=22050:duration=%1").arg(video.seconds)};
    args += QStringList{"-c:v", video.videoCodec, "-pix_fmt", "yuv420p"};
    if (video.channels > 0)
        args += QStringList{
            "-ac", QString::number(video.channels), "-c:a", suffix == "avi" ? "libmp3lame" : "aac"};
    if (suffix == "mp4" || suffix == "m4v")
        args += QStringList{"-f", "mp4"};
    return runFfmpeg(args << path);
}

QString MediaGen::patchBytes(const QString &path, const QByteArray &from, const QByteArray &to)
{
    if (from.size() != to.size())
        return "patch changes the size";
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return "cannot open " + path;
    QByteArray bytes = file.readAll();
    if (!bytes.contains(from))
        return "nothing to patch in " + path;
    bytes.replace(from, to);
    file.seek(0);
    return file.write(bytes) == bytes.size() ? QString() : "cannot write " + path;
}

QString MediaGen::makeProtected(const QString &path, const Audio &media)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath("plain.m4a");
    const QString error = makeAudio(plain, media);
    if (!error.isEmpty())
        return error;
    QFile::remove(path);
    if (!QFile::copy(plain, path))
        return "cannot copy to " + path;
    return patchBytes(path, "mp4a", "drms");
}

QString MediaGen::attachCover(const QString &path, const QByteArray &picture, const QString &mimeType)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    const TagLib::ByteVector data(picture.constData(), unsigned(picture.size()));
    const TagLib::String mime(mimeType.toUtf8().constData(), TagLib::String::UTF8);
    const QString cannotOpen = "TagLib cannot open " + path;
    bool saved = false;
    if (suffix == "wma") {
        TagLib::ASF::File file(name.constData(), false);
        if (!file.isValid() || !file.tag())
            return cannotOpen;
        TagLib::ASF::Picture cover;
        cover.setMimeType(mime);
        cover.setType(TagLib::ASF::Picture::FrontCover);
        cover.setPicture(data);
        file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(cover));
        saved = file.save();
    } else if (suffix == "mp3") {
        TagLib::MPEG::File file(name.constData(), false);
        if (!file.isValid())
            return cannotOpen;
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
        tag->removeFrames("APIC");
        auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType(mime);
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setPicture(data);
        tag->addFrame(frame);
        saved = file.save();
    } else if (suffix == "flac") {
        TagLib::FLAC::File file(name.constData(), false);
        if (!file.isValid())
            return cannotOpen;
        file.removePictures();
        auto *cover = new TagLib::FLAC::Picture;
        cover->setMimeType(mime);
        cover->setType(TagLib::FLAC::Picture::FrontCover);
        cover->setData(data);
        file.addPicture(cover);
        saved = file.save();
    } else if (suffix == "m4a" || suffix == "mp4") {
        TagLib::MP4::File file(name.constData(), false);
        if (!file.isValid() || !file.tag())
            return cannotOpen;
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::PNG, data));
        file.tag()->setItem("covr", TagLib::MP4::Item(covers));
        saved = file.save();
    } else {
        return "no TagLib cover writer for " + path;
    }
    return saved ? QString() : "TagLib cannot save " + path;
}
