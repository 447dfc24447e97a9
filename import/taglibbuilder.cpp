#include "taglibbuilder.h"

#include "playlistreader.h"

#include "applog.h"
#include "coverfiles.h"
#include "tempfiles.h"
#include "track_data.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>

#include <algorithm>
#include <cstdio>

namespace {

// An embedded picture larger than this is not a cover; it is ignored rather than decoded.
const unsigned int kMaxPictureBytes = 32u * 1024u * 1024u;
const int kCoverSize = 110;

QByteArray toByteArray(const TagLib::ByteVector &data)
{
    if (data.size() == 0 || data.size() > kMaxPictureBytes)
        return {};
    return QByteArray(data.data(), int(data.size()));
}

QByteArray id3v2Picture(const TagLib::ID3v2::Tag *tag)
{
    if (!tag)
        return {};
    const TagLib::ID3v2::FrameList frames = tag->frameListMap()["APIC"];
    const TagLib::ID3v2::AttachedPictureFrame *chosen = nullptr;
    for (const TagLib::ID3v2::Frame *frame : frames) {
        const auto *picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame);
        if (!picture)
            continue;
        if (!chosen || picture->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover) {
            const bool hadFront = chosen && chosen->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover;
            if (!hadFront)
                chosen = picture;
        }
    }
    return chosen ? toByteArray(chosen->picture()) : QByteArray();
}

bool isMpeg(const QString &suffix)
{
    return suffix == QLatin1String("mp3") || suffix == QLatin1String("mp2") || suffix == QLatin1String("mpa")
        || suffix == QLatin1String("mpga");
}

bool isMp4(const QString &suffix)
{
    return suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")
        || suffix == QLatin1String("m4v");
}

bool isAsf(const QString &suffix)
{
    return suffix == QLatin1String("wma") || suffix == QLatin1String("wmv");
}

// Writes the track's texts and numbers into `tag`; the has-flags guard texts that are only
// placeholders for missing data.
void applyTrack(TagLib::Tag *tag, const track &t)
{
    if (t.hasTitle && !t.trackname.isEmpty())
        tag->setTitle(toTString(t.trackname));
    if (t.hasArtist && !t.artistname.isEmpty())
        tag->setArtist(toTString(t.artistname));
    if (t.hasAlbum && !t.albumname.isEmpty())
        tag->setAlbum(toTString(t.albumname));
    if (!t.genre.isEmpty() && !t.genre.startsWith(QLatin1String("Unknown")))
        tag->setGenre(toTString(t.genre));
    if (t.year > 0)
        tag->setYear(unsigned(t.year));
    if (t.tracknumber > 0)
        tag->setTrack(unsigned(t.tracknumber));
}

// True when `tag` now holds what applyTrack wrote.
bool holdsTrack(const TagLib::Tag *tag, const track &t)
{
    if (!tag)
        return false;
    if (t.hasTitle && !t.trackname.isEmpty() && toQString(tag->title()) != t.trackname)
        return false;
    if (t.hasArtist && !t.artistname.isEmpty() && toQString(tag->artist()) != t.artistname)
        return false;
    if (t.hasAlbum && !t.albumname.isEmpty() && toQString(tag->album()) != t.albumname)
        return false;
    if (t.year > 0 && tag->year() != unsigned(t.year))
        return false;
    if (t.tracknumber > 0 && tag->track() != unsigned(t.tracknumber))
        return false;
    return true;
}

// The picture `take` finds in the file, from `parsed` when it is a readable file of that kind,
// else from the file opened anew.
template <class FileType, class Take>
QByteArray pictureOf(TagLib::File *parsed, const QByteArray &name, Take take)
{
    if (auto *file = dynamic_cast<FileType *>(parsed); file && file->isValid())
        return take(*file);
    FileType file(name.constData(), false);
    return file.isValid() ? take(file) : QByteArray();
}

// The picture at the size of a cover: fit into 110 x 110, small ones enlarged. The reader decodes
// at that size where the format allows (a JPEG in a fraction of the time a full decode takes) and
// scales smoothly otherwise.
QImage fittedCover(const QByteArray &picture)
{
    QBuffer buffer;
    buffer.setData(picture);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    const QSize fitted = size.isValid() ? size.scaled(kCoverSize, kCoverSize, Qt::KeepAspectRatio) : QSize();
    if (!fitted.isEmpty())
        reader.setScaledSize(fitted);
    const QImage image = reader.read();
    if (image.isNull() || image.size() == fitted)
        return image;
    return image.scaled(kCoverSize, kCoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// `needsFrames`: the file must hold real audio frames; an MPEG reader takes almost any bytes.
template <class FileType, class SaveFunction>
bool writeAndVerify(const QByteArray &name, const track &t, bool needsFrames, SaveFunction save)
{
    {
        FileType file(name.constData(), true, TagLib::AudioProperties::Average);
        if (!file.isValid() || !file.tag() || !file.audioProperties())
            return false;
        if (needsFrames && file.audioProperties()->sampleRate() <= 0)
            return false;
        applyTrack(file.tag(), t);
        if (!save(file))
            return false;
    }
    FileType check(name.constData(), true, TagLib::AudioProperties::Average);
    return check.isValid() && holdsTrack(check.tag(), t);
}

}  // namespace

QByteArray TagLibBuilder::embeddedPicture(const QString &mediaPath)
{
    return embeddedPicture(mediaPath, nullptr);
}

QByteArray TagLibBuilder::embeddedPicture(const QString &mediaPath, TagLib::File *parsed)
{
    const QString suffix = QFileInfo(mediaPath).suffix().toLower();
    const QByteArray name = QFile::encodeName(mediaPath);
    if (isMpeg(suffix)) {
        return pictureOf<TagLib::MPEG::File>(
            parsed, name, [](TagLib::MPEG::File &file) { return id3v2Picture(file.ID3v2Tag(false)); });
    }
    if (suffix == QLatin1String("aiff") || suffix == QLatin1String("aif")
        || suffix == QLatin1String("aifc")) {
        return pictureOf<TagLib::RIFF::AIFF::File>(parsed, name, [](TagLib::RIFF::AIFF::File &file) {
            return file.hasID3v2Tag() ? id3v2Picture(file.tag()) : QByteArray();
        });
    }
    if (isMp4(suffix)) {
        return pictureOf<TagLib::MP4::File>(parsed, name, [](TagLib::MP4::File &file) {
            if (!file.tag() || !file.tag()->contains("covr"))
                return QByteArray();
            const TagLib::MP4::CoverArtList covers = file.tag()->item("covr").toCoverArtList();
            return covers.isEmpty() ? QByteArray() : toByteArray(covers.front().data());
        });
    }
    if (isAsf(suffix)) {
        return pictureOf<TagLib::ASF::File>(parsed, name, [](TagLib::ASF::File &file) {
            if (!file.tag())
                return QByteArray();
            const TagLib::ASF::AttributeListMap &attributes = file.tag()->attributeListMap();
            if (!attributes.contains("WM/Picture"))
                return QByteArray();
            QByteArray chosen;
            for (const TagLib::ASF::Attribute &attribute : attributes["WM/Picture"]) {
                const TagLib::ASF::Picture picture = attribute.toPicture();
                if (!picture.isValid())
                    continue;
                if (picture.type() == TagLib::ASF::Picture::FrontCover)
                    return toByteArray(picture.picture());
                if (chosen.isEmpty())
                    chosen = toByteArray(picture.picture());
            }
            return chosen;
        });
    }
    if (suffix == QLatin1String("flac")) {
        return pictureOf<TagLib::FLAC::File>(parsed, name, [](TagLib::FLAC::File &file) {
            QByteArray chosen;
            for (const TagLib::FLAC::Picture *picture : file.pictureList()) {
                if (picture->type() == TagLib::FLAC::Picture::FrontCover)
                    return toByteArray(picture->data());
                if (chosen.isEmpty())
                    chosen = toByteArray(picture->data());
            }
            return chosen;
        });
    }
    if (suffix == QLatin1String("ape")) {
        return pictureOf<TagLib::APE::File>(parsed, name, [](TagLib::APE::File &file) {
            const TagLib::APE::Tag *tag = file.APETag(false);
            if (!tag || !tag->itemListMap().contains("COVER ART (FRONT)"))
                return QByteArray();
            // The item holds the picture's file name, a NUL, then the image.
            const TagLib::ByteVector data = tag->itemListMap()["COVER ART (FRONT)"].binaryData();
            const int nul = data.find('\0');
            return nul < 0 ? QByteArray() : toByteArray(data.mid(unsigned(nul) + 1));
        });
    }
    return {};
}

QString TagLibBuilder::extractCoverArt(const QString &imagePath, const QString &mediaPath)
{
    // The checks come first, so a file whose cover is in place or not allowed is not read.
    if (!mayWriteCover(imagePath))
        return QStringLiteral("");
    return writeCover(imagePath, makeCover(embeddedPicture(mediaPath)), mediaPath);
}

TagLibBuilder::Cover TagLibBuilder::makeCover(const QByteArray &picture)
{
    Cover cover;
    cover.hasPicture = !picture.isEmpty();
    if (!cover.hasPicture)
        return cover;
    const QImage image = fittedCover(picture);
    cover.decoded = !image.isNull();
    if (!cover.decoded)
        return cover;
    QBuffer buffer(&cover.png);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "png", kCoverPngQuality))
        cover.png.clear();
    return cover;
}

QString TagLibBuilder::writeCoverArt(const QString &imagePath, const Cover &cover, const QString &mediaPath)
{
    if (!mayWriteCover(imagePath))
        return QStringLiteral("");
    return writeCover(imagePath, cover, mediaPath);
}

bool TagLibBuilder::mayWriteCover(const QString &imagePath)
{
    if (QFileInfo::exists(imagePath))
        return false;
    if (!isInsideArtworkFolder(imagePath)) {
        writeLog(appLogFile(), QStringLiteral("Cover not written outside the artwork folder: "), imagePath);
        return false;
    }
    return true;
}

QString TagLibBuilder::writeCover(const QString &imagePath, const Cover &cover, const QString &mediaPath)
{
    if (!cover.hasPicture)
        return QStringLiteral("");
    if (!cover.decoded) {
        writeLog(appLogFile(), QStringLiteral("Embedded cover does not decode: "), mediaPath);
        return QStringLiteral("");
    }

    QDir().mkpath(QFileInfo(imagePath).absolutePath());
    QSaveFile out(imagePath);
    if (!out.open(QIODevice::WriteOnly) || cover.png.isEmpty() || out.write(cover.png) != cover.png.size()) {
        out.cancelWriting();
        writeLog(appLogFile(), QStringLiteral("Cannot write cover image: "), imagePath);
        return QStringLiteral("");
    }
    if (!out.commit()) {
        writeLog(appLogFile(), QStringLiteral("Cannot write cover image: "), imagePath);
        return QStringLiteral("");
    }
    return imagePath;
}

bool TagLibBuilder::saveTags(track t)
{
    const QFileInfo original(t.filepath);
    const QString suffix = original.suffix().toLower();
    if (!isMpeg(suffix) && !isMp4(suffix) && !isAsf(suffix))
        return false;
    if (!original.isFile()) {
        writeLog(appLogFile(), QStringLiteral("Tag save failed (no such file): "), t.filepath);
        return false;
    }

    // Work on a copy beside the original, so the final rename stays on one file system.
    // Named by the one temporary scheme, so the start-up sweep clears what a killed write left.
    QFile temp;
    if (!platform::openTemporaryFile(temp, original.absolutePath(), suffix)) {
        writeLog(appLogFile(), QStringLiteral("Tag save failed (no temporary copy): "), t.filepath);
        return false;
    }
    platform::TemporaryFileRemover removeTemp(temp.fileName());
    QFile source(original.absoluteFilePath());
    bool copied = source.open(QIODevice::ReadOnly);
    while (copied) {
        const QByteArray chunk = source.read(1 << 20);
        if (chunk.isEmpty())
            break;
        copied = temp.write(chunk) == chunk.size();
    }
    copied = copied && source.error() == QFileDevice::NoError && temp.flush();
    temp.close();
    source.close();
    if (!copied) {
        writeLog(appLogFile(), QStringLiteral("Tag save failed (copy): "), t.filepath);
        return false;
    }
    temp.setPermissions(original.permissions());

    const QByteArray tempName = QFile::encodeName(temp.fileName());
    bool saved = false;
    if (isMpeg(suffix)) {
        saved = writeAndVerify<TagLib::MPEG::File>(tempName, t, true, [](TagLib::MPEG::File &f) {
            return f.save(TagLib::MPEG::File::AllTags, TagLib::File::StripNone, TagLib::ID3v2::v4);
        });
    } else if (isMp4(suffix)) {
        saved = writeAndVerify<TagLib::MP4::File>(
            tempName, t, false, [](TagLib::MP4::File &f) { return f.save(); });
    } else {
        saved = writeAndVerify<TagLib::ASF::File>(
            tempName, t, false, [](TagLib::ASF::File &f) { return f.save(); });
    }
    if (!saved) {
        writeLog(appLogFile(), QStringLiteral("Tag save failed (not written or not read back), file kept: "),
            t.filepath);
        return false;
    }
    if (std::rename(tempName.constData(), QFile::encodeName(original.absoluteFilePath()).constData()) != 0) {
        writeLog(appLogFile(), QStringLiteral("Tag save failed (cannot replace the file): "), t.filepath);
        return false;
    }
    removeTemp.keep();
    return true;
}

unsigned int TagLibBuilder::discNumber(TagLib::File *parsed)
{
    if (!parsed)
        return 0;
    const TagLib::PropertyMap properties = parsed->properties();
    const auto it = properties.find("DISCNUMBER");
    if (it == properties.end() || it->second.isEmpty())
        return 0;
    return QString::fromUtf8(it->second.front().toCString(true))
        .section(QLatin1Char('/'), 0, 0)
        .trimmed()
        .toUInt();
}

TagLibBuilder::PlayNumbers TagLibBuilder::playNumbers(const QString &mediaPath)
{
    PlayNumbers numbers;
    TagLib::FileRef ref(QFile::encodeName(mediaPath).constData(), false);
    if (ref.isNull() || !ref.tag())
        return numbers;
    numbers.track = qint16(std::min(ref.tag()->track(), 32767u));
    numbers.disc = qint16(std::min(discNumber(ref.file()), 32767u));
    return numbers;
}

QStringList TagLibBuilder::readPlaylistFile(const QFileInfo &file) const
{
    return ::readPlaylistFile(file);
}
