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
    QStringList all = {QStringLiteral("-nostdin"), QStringLiteral("-y"), QStringLiteral("-hide_banner"),
        QStringLiteral("-loglevel"), QStringLiteral("error")};
    all += arguments;
    const platform::ToolResult result = platform::runTool(platform::Tool::Ffmpeg, all, 60000);
    if (!result.ok())
        return QStringLiteral("ffmpeg failed (%1): %2 %3")
            .arg(result.exitCode)
            .arg(result.error, QString::fromLocal8Bit(result.standardError));
    return {};
}

QByteArray fileName(const QString &path)
{
    return QFile::encodeName(path);
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
    const QString suffix = QFileInfo(path).suffix().toLower();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args = {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("sine=frequency=440:sample_rate=%1:duration=%2")
            .arg(media.sampleRate)
            .arg(media.seconds)};

    const bool ffmpegCover = media.cover
        && (suffix == QLatin1String("mp3") || suffix == QLatin1String("m4a")
            || suffix == QLatin1String("flac") || suffix == QLatin1String("aiff")
            || suffix == QLatin1String("aif"));
    QTemporaryDir coverDir;
    if (ffmpegCover) {
        const QString coverPath = coverDir.filePath(QStringLiteral("cover.png"));
        QFile cover(coverPath);
        if (!cover.open(QIODevice::WriteOnly)
            || cover.write(coverPng(media.coverColor, media.coverSize)) <= 0)
            return QStringLiteral("cannot write the cover image");
        cover.close();
        args << QStringLiteral("-i") << coverPath << QStringLiteral("-map") << QStringLiteral("0:a")
             << QStringLiteral("-map") << QStringLiteral("1:v") << QStringLiteral("-c:v")
             << QStringLiteral("png") << QStringLiteral("-disposition:v") << QStringLiteral("attached_pic")
             << QStringLiteral("-metadata:s:v") << QStringLiteral("comment=Cover (front)");
    }

    QString codec;
    if (suffix == QLatin1String("mp3"))
        codec = QStringLiteral("libmp3lame");
    else if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b"))
        codec = QStringLiteral("aac");
    else if (suffix == QLatin1String("flac"))
        codec = QStringLiteral("flac");
    else if (suffix == QLatin1String("ogg") || suffix == QLatin1String("oga"))
        codec = QStringLiteral("libvorbis");
    else if (suffix == QLatin1String("wma"))
        codec = QStringLiteral("wmav2");
    else if (suffix == QLatin1String("wav"))
        codec = QStringLiteral("pcm_s16le");
    else if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif"))
        codec = QStringLiteral("pcm_s16be");
    else
        return QStringLiteral("no audio format for suffix ") + suffix;

    args << QStringLiteral("-ac") << QString::number(media.channels) << QStringLiteral("-ar")
         << QString::number(media.sampleRate) << QStringLiteral("-c:a") << codec;
    if (media.bitrateKbps > 0)
        args << QStringLiteral("-b:a") << QStringLiteral("%1k").arg(media.bitrateKbps);
    for (auto it = media.tags.constBegin(); it != media.tags.constEnd(); ++it) {
        // ffmpeg's ASF writer keeps "date" under its own name, which no player reads as the year.
        const QString key = suffix == QLatin1String("wma") && it.key() == QLatin1String("date")
            ? QStringLiteral("WM/Year")
            : it.key();
        args << QStringLiteral("-metadata") << key + QLatin1Char('=') + it.value();
    }
    if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif"))
        args << QStringLiteral("-write_id3v2") << QStringLiteral("1");
    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b"))
        args << QStringLiteral("-f") << QStringLiteral("ipod");
    args << path;

    QString error = runFfmpeg(args);
    if (error.isEmpty() && media.cover && !ffmpegCover)
        error = attachCover(path, coverPng(media.coverColor, media.coverSize));
    return error;
}

QString MediaGen::makeVideo(const QString &path, double seconds, bool withAudio)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QStringList args = {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
        QStringLiteral("testsrc=size=160x120:rate=10:duration=%1").arg(seconds)};
    if (withAudio)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=22050:duration=%1").arg(seconds);
    args << QStringLiteral("-c:v") << QStringLiteral("mpeg4") << QStringLiteral("-pix_fmt")
         << QStringLiteral("yuv420p");
    if (withAudio)
        args << QStringLiteral("-c:a")
             << (suffix == QLatin1String("avi") ? QStringLiteral("libmp3lame") : QStringLiteral("aac"));
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v"))
        args << QStringLiteral("-f") << QStringLiteral("mp4");
    args << path;
    return runFfmpeg(args);
}

QString MediaGen::patchBytes(const QString &path, const QByteArray &from, const QByteArray &to)
{
    if (from.size() != to.size())
        return QStringLiteral("patch changes the size");
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return QStringLiteral("cannot open ") + path;
    QByteArray bytes = file.readAll();
    if (!bytes.contains(from))
        return QStringLiteral("nothing to patch in ") + path;
    bytes.replace(from, to);
    file.seek(0);
    if (file.write(bytes) != bytes.size())
        return QStringLiteral("cannot write ") + path;
    return {};
}

QString MediaGen::makeProtected(const QString &path, const Audio &media)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.m4a"));
    QString error = makeAudio(plain, media);
    if (!error.isEmpty())
        return error;
    QFile::remove(path);
    if (!QFile::copy(plain, path))
        return QStringLiteral("cannot copy to ") + path;
    return patchBytes(path, QByteArray("mp4a"), QByteArray("drms"));
}

QString MediaGen::attachCover(const QString &path, const QByteArray &picture, const QString &mimeType)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const TagLib::ByteVector data(picture.constData(), unsigned(picture.size()));
    const TagLib::String mime(mimeType.toUtf8().constData(), TagLib::String::UTF8);
    bool saved = false;
    if (suffix == QLatin1String("wma")) {
        TagLib::ASF::File file(fileName(path).constData(), false);
        if (!file.isValid() || !file.tag())
            return QStringLiteral("TagLib cannot open ") + path;
        TagLib::ASF::Picture cover;
        cover.setMimeType(mime);
        cover.setType(TagLib::ASF::Picture::FrontCover);
        cover.setPicture(data);
        file.tag()->addAttribute("WM/Picture", TagLib::ASF::Attribute(cover));
        saved = file.save();
    } else if (suffix == QLatin1String("mp3")) {
        TagLib::MPEG::File file(fileName(path).constData(), false);
        if (!file.isValid())
            return QStringLiteral("TagLib cannot open ") + path;
        TagLib::ID3v2::Tag *tag = file.ID3v2Tag(true);
        tag->removeFrames("APIC");
        auto *frame = new TagLib::ID3v2::AttachedPictureFrame;
        frame->setMimeType(mime);
        frame->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        frame->setPicture(data);
        tag->addFrame(frame);
        saved = file.save();
    } else if (suffix == QLatin1String("flac")) {
        TagLib::FLAC::File file(fileName(path).constData(), false);
        if (!file.isValid())
            return QStringLiteral("TagLib cannot open ") + path;
        file.removePictures();
        auto *cover = new TagLib::FLAC::Picture;
        cover->setMimeType(mime);
        cover->setType(TagLib::FLAC::Picture::FrontCover);
        cover->setData(data);
        file.addPicture(cover);
        saved = file.save();
    } else if (suffix == QLatin1String("m4a") || suffix == QLatin1String("mp4")) {
        TagLib::MP4::File file(fileName(path).constData(), false);
        if (!file.isValid() || !file.tag())
            return QStringLiteral("TagLib cannot open ") + path;
        TagLib::MP4::CoverArtList covers;
        covers.append(TagLib::MP4::CoverArt(TagLib::MP4::CoverArt::PNG, data));
        file.tag()->setItem("covr", TagLib::MP4::Item(covers));
        saved = file.save();
    } else {
        return QStringLiteral("no TagLib cover writer for ") + path;
    }
    return saved ? QString() : QStringLiteral("TagLib cannot save ") + path;
}
