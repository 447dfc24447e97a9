#include "track_data.h"
#include "track_data_p.h"

#include "applog.h"
#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "kivodb.h"
#include "mediaprobe.h"
#include "taglibbuilder.h"
#include "videometadata.h"
#include "wavtag.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <type_traits>

namespace {

const QStringList audioSuffixes
    = {QStringLiteral("mp3"), QStringLiteral("m4a"), QStringLiteral("m4b"), QStringLiteral("aac"),
        QStringLiteral("wma"), QStringLiteral("mpa"), QStringLiteral("mp2"), QStringLiteral("mpga"),
        QStringLiteral("wav"), QStringLiteral("aiff"), QStringLiteral("aif"), QStringLiteral("aifc"),
        QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("oga"), QStringLiteral("ape")};
const QStringList videoSuffixes = {QStringLiteral("mp4"), QStringLiteral("avi"), QStringLiteral("mpeg"),
    QStringLiteral("mpg"), QStringLiteral("wmv"), QStringLiteral("flv"), QStringLiteral("mkv"),
    QStringLiteral("m4v"), QStringLiteral("mov")};
const QStringList playlistSuffixes = {QStringLiteral("m3u"), QStringLiteral("m3u8"), QStringLiteral("pls"),
    QStringLiteral("xspf"), QStringLiteral("wpl")};

std::atomic_bool videoSupportedFlag{false};

const QString kUnknownArtist = QStringLiteral("Unknown Artist");
const QString kUnknownAlbum = QStringLiteral("Unknown Album");
const QString kUnknownGenre = QStringLiteral("Unknown genre");
const QString kUnknownComment = QStringLiteral("Unknown comment");
const QString kPlaylistCover = QStringLiteral("qrc:///resources/photos/playlist.png");

qint16 clamp16(long long value)
{
    return qint16(value < 0 ? 0 : (value > 32767 ? 32767 : value));
}

void logTagFailure(const QString &path, const QString &why)
{
    writeLog(appLogFile(), QStringLiteral("Tag read failed (") + why + QStringLiteral("): "), path);
}

// Of the files the scan reads, only these carry a DRM flag TagLib reports.
template <class FileType> bool isEncrypted(FileType &file)
{
    if constexpr (std::is_same_v<FileType, TagLib::MP4::File> || std::is_same_v<FileType, TagLib::ASF::File>)
        return file.isValid() && file.audioProperties() && file.audioProperties()->isEncrypted();
    else
        return false;
}

// Takes the disc number and, when the caller wants it, the embedded picture from the file just
// parsed for its tags.
void takeDiscAndPicture(trackdata::FileExtras *extras, tagInfo &info, const QString &path, TagLib::File *file)
{
    info.disc = TagLibBuilder::discNumber(file);
    if (!extras || !extras->wantsPicture || !extras->wantsPicture(info))
        return;
    extras->picture = TagLibBuilder::embeddedPicture(path, file);
    extras->pictureTaken = true;
}

template <class FileType>
bool readWith(tagInfo &info, const QByteArray &name, const QString &path, trackdata::FileExtras *extras)
{
    FileType file(name.constData(), true, TagLib::AudioProperties::Average);
    if (extras && isEncrypted(file)) {
        extras->isProtected = true;
        return false;
    }
    if (!file.isValid() || !file.tag()) {
        logTagFailure(path, QStringLiteral("not a readable file of its kind"));
        return false;
    }
    track_data::readTags(info, file.tag(), file.audioProperties());
    takeDiscAndPicture(extras, info, path, &file);
    return true;
}

}  // namespace

namespace trackdata {

SharedState &state()
{
    static SharedState *const shared = new SharedState;
    return *shared;
}

TagLibBuilder &tagBuilder()
{
    static TagLibBuilder builder;
    return builder;
}

VideoMetadata &videoReader()
{
    // Built on first use, after the application has set up its paths.
    static VideoMetadata *const reader = new VideoMetadata;
    return *reader;
}

void resetAlbumMemos()
{
    SharedState &s = state();
    QMutexLocker lock(&s.mutex);
    s.coverExtractionTried.clear();
    s.itunesArtwork.clear();
}

QString coverImagePath(const QString &albumName, const QString &fileName)
{
    const AppPaths paths;
    const QString name = paths.sanitizeName(albumName);
    return AppPaths::dataLocation() + paths.artworkDir + QLatin1Char('/')
        + (name.isEmpty() ? fileName : name + QStringLiteral(".png"));
}

bool coverExtractionClaimed(const QString &imagePath)
{
    SharedState &s = state();
    QMutexLocker lock(&s.mutex);
    return s.coverExtractionTried.contains(imagePath);
}

bool claimCoverExtraction(const QString &imagePath)
{
    SharedState &s = state();
    QMutexLocker lock(&s.mutex);
    if (s.coverExtractionTried.contains(imagePath))
        return false;
    s.coverExtractionTried.insert(imagePath, true);
    return true;
}

}  // namespace trackdata

using trackdata::state;

track_data::track_data()
    : ignoredPlaylists(
        {QStringLiteral("library"), QStringLiteral("recently added"), QStringLiteral("itunes dj"),
            QStringLiteral("purchased"), QStringLiteral("90\u2019s music"), QStringLiteral("recently played"),
            QStringLiteral("my top rated"), QStringLiteral("top 25 most played"),
            QStringLiteral("classical music"), QStringLiteral("Music Videos")})
{ }

track_data::~track_data() = default;

bool track_data::isAudioFile(const QString &suffix)
{
    return audioSuffixes.contains(suffix.toLower());
}

bool track_data::isVideoFile(const QString &suffix)
{
    return videoSupportedFlag && videoSuffixes.contains(suffix.toLower());
}

bool track_data::isVideoSuffix(const QString &suffix)
{
    return videoSuffixes.contains(suffix.toLower());
}

bool track_data::isPlaylistFile(const QString &suffix)
{
    return playlistSuffixes.contains(suffix.toLower());
}

bool track_data::videoSupported()
{
    videoSupportedFlag = systemVideoSupported;
    return systemVideoSupported;
}

QStringList track_data::protectedFiles() const
{
    return protectedFileList;
}

void track_data::clearProtectedFiles()
{
    protectedFileList.clear();
}

qint64 track_data::assignNameId(QMap<QString, qint64> &ids, const QString &name, qint64 &counter)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    const auto found = ids.constFind(name);
    if (found != ids.constEnd())
        return found.value();
    ++counter;
    ids.insert(name, counter);
    return counter;
}

QString track_data::fileToBase64(const QString &path)
{
    return ::fileToBase64(path);
}

void track_data::saveCoverImage(const QString &path, const QString &base64)
{
    ::saveCoverImage(path, base64);
}

TrackMap track_data::scanTrackMap()
{
    QMutexLocker lock(&state().mutex);
    return state().scanTracks;
}

void track_data::clearScanTrackMap()
{
    QMutexLocker lock(&state().mutex);
    state().scanTracks.clear();
}

// ---- tag reading ----

void track_data::copyTag(tagInfo &info, const TagLib::Tag *tag)
{
    TagLib::String title, artist, album, genre, comment;
    if (tag) {
        artist = tag->artist();
        album = tag->album();
        title = tag->title();
        genre = tag->genre();
        comment = tag->comment();
        info.track = tag->track();
        info.year = tag->year();
    } else {
        info.track = 0;
        info.year = 0;
    }
    info.artist = artist.isEmpty() ? toTString(kUnknownArtist) : artist;
    info.album = album.isEmpty() ? toTString(kUnknownAlbum) : album;
    info.title = title;
    info.genre = genre.isEmpty() ? toTString(kUnknownGenre) : genre;
    info.comment = comment.isEmpty() ? toTString(kUnknownComment) : comment;
}

void track_data::copyProperties(tagInfo &info, const TagLib::AudioProperties *properties)
{
    // A file read without audio properties has no numbers to give.
    info.bitrate = properties ? properties->bitrate() : 0;
    info.channels = properties ? properties->channels() : 0;
    info.length = properties ? unsigned(qMax(0, properties->lengthInSeconds())) : 0;
    info.sampleRate = properties ? unsigned(qMax(0, properties->sampleRate())) : 0;
}

void track_data::readTags(tagInfo &info, TagLib::FileRef ref)
{
    copyTag(info, ref.tag());
    copyProperties(info, ref.audioProperties());
}

bool track_data::readFileTags(tagInfo &info, const QString &path)
{
    return readFileWith(info, path, nullptr);
}

bool track_data::readFileWith(tagInfo &info, const QString &path, trackdata::FileExtras *extras)
{
    if (!readTagLib(info, path, extras))
        return false;
    // TagLib leaves some figures at 0 (AC-3, FLAC or Opus inside MP4, RF64 WAV) and believes a
    // header that outlived the file's cut: ffprobe measures those. Raw AAC was measured already.
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (isAudioFile(suffix) && suffix != QLatin1String("aac"))
        MediaProbe::completeAudio(info, path);
    return true;
}

bool track_data::readTagLib(tagInfo &info, const QString &path, trackdata::FileExtras *extras)
{
    const QFileInfo fileInfo(path);
    const QString suffix = fileInfo.suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    if (!fileInfo.isFile()) {
        logTagFailure(path, QStringLiteral("no such file"));
        return false;
    }
    if (fileInfo.size() == 0) {
        logTagFailure(path, QStringLiteral("empty file"));
        return false;
    }

    if (suffix == QLatin1String("m4a") || suffix == QLatin1String("m4b") || suffix == QLatin1String("mp4")
        || suffix == QLatin1String("m4v"))
        return readWith<TagLib::MP4::File>(info, name, path, extras);
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv"))
        return readWith<TagLib::ASF::File>(info, name, path, extras);
    if (suffix == QLatin1String("flac"))
        return readWith<TagLib::FLAC::File>(info, name, path, extras);
    if (suffix == QLatin1String("wav")) {
        TagLib::RIFF::WAV::File file(name.constData(), true, TagLib::AudioProperties::Average);
        if (!file.isValid()) {
            logTagFailure(path, QStringLiteral("not a readable WAV file"));
            return false;
        }
        const TagLib::Tag *id3 = file.hasID3v2Tag() ? file.ID3v2Tag() : nullptr;
        const TagLib::Tag *infoTag = file.hasInfoTag() ? file.InfoTag() : nullptr;
        const WavTag combined(id3, infoTag);
        readTags(info, static_cast<const TagLib::Tag *>(&combined), file.audioProperties());
        takeDiscAndPicture(extras, info, path, &file);
        return true;
    }

    TagLib::FileRef ref(name.constData(), true, TagLib::AudioProperties::Average);
    if (videoSuffixes.contains(suffix)) {
        // Most video containers have no TagLib reader: such a video is still taken, with the
        // default texts; its length comes from the stream probe when the track is built.
        if (!ref.isNull() && ref.tag() && !ref.tag()->isEmpty()) {
            readTags(info, ref);
        } else {
            copyTag(info, nullptr);
            copyProperties(info, nullptr);
        }
        takeDiscAndPicture(extras, info, path, ref.file());
        return true;
    }
    if (!ref.isNull() && ref.tag() && !ref.tag()->isEmpty()) {
        readTags(info, ref);
        takeDiscAndPicture(extras, info, path, ref.file());
        return true;
    }
    // A file without any tag is still music when it holds real audio: it is taken with the
    // default texts. TagLib calls almost any bytes a valid MPEG file, hence the sample rate test.
    if (!ref.isNull() && ref.audioProperties() && ref.audioProperties()->sampleRate() > 0) {
        readTags(info, ref);
        takeDiscAndPicture(extras, info, path, ref.file());
        return true;
    }

    // A suffix TagLib does not know: accept it only as MPEG audio with real frames or an ID3v2 tag.
    TagLib::MPEG::File file(name.constData(), true, TagLib::AudioProperties::Average);
    const TagLib::AudioProperties *properties = file.isValid() ? file.audioProperties() : nullptr;
    const bool hasAudio
        = properties && properties->lengthInMilliseconds() > 0 && properties->sampleRate() > 0;
    if (file.isValid() && file.tag() && (file.hasID3v2Tag() || hasAudio)) {
        readTags(info, file.tag(), file.audioProperties());
        takeDiscAndPicture(extras, info, path, &file);
        return true;
    }
    // Raw AAC (ADTS) has no TagLib reader: it is taken as a video without one is, with the default
    // texts and what ffprobe measures.
    if (suffix == QLatin1String("aac")) {
        copyTag(info, nullptr);
        if (MediaProbe::readRawAudio(info, path))
            return true;
    }
    logTagFailure(path, QStringLiteral("no reader accepts it"));
    return false;
}

bool track_data::isProtected(const QString &path)
{
    if (!isProtectedFile(path))
        return false;
    protectedFileList.append(path);
    writeLog(appLogFile(), QStringLiteral("Protected media file: "), path);
    return true;
}

bool track_data::isProtectedFile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray name = QFile::encodeName(path);
    if (suffix == QLatin1String("wma") || suffix == QLatin1String("wmv")) {
        TagLib::ASF::File file(name.constData(), true, TagLib::AudioProperties::Average);
        return isEncrypted(file);
    }
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4v") || suffix == QLatin1String("m4a")
        || suffix == QLatin1String("m4b")) {
        // Encrypted AAC ("m4a"/"m4b") plays nowhere but in iTunes, so it is reported too.
        TagLib::MP4::File file(name.constData(), true, TagLib::AudioProperties::Average);
        return isEncrypted(file);
    }
    return false;
}

// ---- track building ----

void track_data::applyTagInfo(track &t, tagInfo info)
{
    t.albumname = toQString(info.album).trimmed();
    t.artistname = toQString(info.artist).trimmed();
    t.comment = toQString(info.comment);
    t.trackname = toQString(info.title).trimmed();
    t.genre = toQString(info.genre);
    t.bitrate = clamp16(info.bitrate);
    t.channels = clamp16(info.channels);
    t.tracknumber = clamp16(info.track);
    t.reservedShort1 = clamp16(info.disc);
    t.year = clamp16(info.year);
    t.duration = double(info.length);
    t.frequency = qint64(info.sampleRate);
    t.hasArtist = !t.artistname.startsWith(QLatin1String("Unknown"));
    t.hasAlbum = !t.albumname.startsWith(QLatin1String("Unknown"));
}

void track_data::buildTrack(qint64 &nextTrackKey, track &t, tagInfo info, const QFileInfo &file,
    bool fromPlaylist, const QString &playlistName, bool isVideo, bool isAudio)
{
    buildTrackWith(nextTrackKey, t, info, file, fromPlaylist, playlistName, isVideo, isAudio, BuildOptions());
}

void track_data::buildTrackWith(qint64 &nextTrackKey, track &t, tagInfo info, const QFileInfo &file,
    bool fromPlaylist, const QString &playlistName, bool isVideo, bool isAudio, const BuildOptions &options)
{
    const QString suffix = file.suffix().toLower();

    if (info.title.isEmpty()) {
        QString title = file.fileName();
        if (!suffix.isEmpty())
            title.remove(QLatin1Char('.') + suffix, Qt::CaseInsensitive);
        info.title = toTString(title.trimmed());
    }
    const QString title = toQString(info.title);
    t.hasTitle = !(title.contains(QLatin1String("track"), Qt::CaseInsensitive) || title.isEmpty());

    applyTagInfo(t, info);

    t.id = nextTrackKey;
    t.filesize = file.size();
    t.filename = file.fileName();
    t.quality = bitrateClass(t.bitrate);
    t.source = 0;
    t.isAudiobook = false;
    t.isPodcast = false;
    t.folderLocation = file.absoluteDir().path();

    const QString albumKey = fromPlaylist ? playlistName : t.albumname;
    {
        QMutexLocker lock(&state().mutex);
        t.album_id = assignNameId(state().albumIds, albumKey, state().lastAlbumId);
        t.artist_id = assignNameId(state().artistIds, t.artistname, state().lastArtistId);
    }
    // A playlist's members are counted with the playlist's album id, which would make their
    // folders look mixed and cost them the folder's art; as in the iTunes import, they are not.
    if (!fromPlaylist)
        AppPaths().countFolderAlbumTrack(t.folderLocation, t.album_id);

    if (isVideo) {
        const track video
            = options.video ? *options.video : trackdata::videoReader().readVideoInfo(file.filePath(), 1);
        t.duration = video.duration;
        t.cover = QDir::fromNativeSeparators(video.cover);
    }

    if (fromPlaylist) {
        t.cover = kPlaylistCover;
        t.albumname = playlistName.trimmed();
        t.isVideo = false;
        t.playlistId = t.album_id;
        t.playlist = playlistName;
    } else {
        t.isVideo = isVideo && !isAudio;
        t.playlist = QStringLiteral("");
        t.playlistId = 0;
        if (!isVideo && options.albumCovers)
            coverArtForScan(t, file, *options.albumCovers);
        else if (!isVideo)
            coverArtForFile(t, file);
    }

    if (!t.hasTitle || t.albumname.startsWith(QLatin1String("Unknown"))
        || t.artistname.startsWith(QLatin1String("Unknown"))
        || t.cover.contains(QLatin1String("no_artwork.png")))
        t.missingMediaData = true;

    {
        QMutexLocker lock(&state().mutex);
        state().scanTracks.insert(t.id, t);
    }
    // The cache is only written while a library file is open; a scan works without one.
    if (options.repoBatch)
        options.repoBatch->append(t);
    else if (Database::storeIsOpen())
        kivoDB().saveToRepo(t);
    ++nextTrackKey;
}
