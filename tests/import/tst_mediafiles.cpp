#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "mediagen.h"
#include "taglibbuilder.h"
#include "testenv.h"
#include "track_data.h"
#include "videometadata.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <taglib/mpegfile.h>
#include <taglib/wavfile.h>

namespace {
QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

QByteArray garbage(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7919 + 13) % 251);
    return bytes;
}

// The track a scan would build from the file's own tags.
track trackOf(const QString &file)
{
    track_data data;
    tagInfo info;
    track t = AppPaths().clearTrack(track{});
    if (data.readFileTags(info, file))
        data.applyTagInfo(t, info);
    t.filepath = file;
    t.hasTitle = !t.trackname.isEmpty();
    return t;
}

// Temporary copies a tag save or a thumbnail would leave behind.
QStringList leftovers(const QString &folder, const char *pattern = ".kivo-*")
{
    return QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden);
}

QString artworkFolder(bool video = false)
{
    return AppPaths::dataLocation() + (video ? AppPaths().videoArtworkDir : AppPaths().artworkDir);
}

MediaGen::Audio audio(const QString &title, const QString &album, bool cover = false)
{
    MediaGen::Audio media;
    media.cover = cover;
    media.tags = {{"title", title}, {"artist", "Band"}, {"album", album}};
    return media;
}
}  // namespace

class TestMediaFiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
    qint64 m_key = 1;

    // Reads the file and builds its track as a scan does.
    track build(track_data &data, const QString &file)
    {
        tagInfo info;
        if (!data.readFileTags(info, file))
            return track{};
        track t = AppPaths().clearTrack(track{});
        t.filepath = t.originalPath = file;
        const QFileInfo fi(file);
        data.buildTrack(m_key, t, info, fi, false, QString(), false, track_data::isAudioFile(fi.suffix()));
        return t;
    }

    // The bytes of a file made as `media` says, empty if it could not be made.
    QByteArray made(const QString &name, const MediaGen::Audio &media = {})
    {
        return MediaGen::makeAudio(path(name), media).isEmpty() ? fileBytes(path(name)) : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
    }

    // Suffixes match in any case; videos only once the system's video flag was taken over. Names
    // are told apart by case and their ids never wrap at 16 bits. Only the video stream's length
    // counts and "N/A" is no length.
    void rules()
    {
        QVERIFY(track_data::isAudioFile("Mp3") && track_data::isAudioFile("ape"));
        QVERIFY(!track_data::isAudioFile("song.mp3") && !track_data::isAudioFile("mp4"));
        QVERIFY(track_data::isPlaylistFile("M3U8") && !track_data::isPlaylistFile("asx"));
        track_data data;
        data.systemVideoSupported = true;
        QVERIFY(!track_data::isVideoFile("mkv"));
        QVERIFY(data.videoSupported() && track_data::isVideoFile("MKV") && !track_data::isVideoFile("m4a"));
        data.systemVideoSupported = false;
        QVERIFY(!data.videoSupported() && !track_data::isVideoFile("mkv"));

        QMap<QString, qint64> ids;
        qint64 counter = 1;
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        QCOMPARE(track_data::assignNameId(ids, "road songs", counter), qint64(3));
        QCOMPARE(track_data::assignNameId(ids, "Road Songs", counter), qint64(2));
        counter = 40000;
        QCOMPARE(track_data::assignNameId(ids, "Far", counter), qint64(40001));

        QCOMPARE(VideoMetadata::parseStreamDuration("[STREAM]\ncodec_type=audio\nduration=9.5\n[/STREAM]\n"
                                                    "[STREAM]\ncodec_type=video\nduration=N/A\n[/STREAM]\n"),
            0.0);
        QCOMPARE(VideoMetadata::parseStreamDuration("codec_type=video\nDURATION=12.25\n"), 12.25);
        for (const char *bad : {"inf", "nan", "-3", "1e300"})
            QCOMPARE(
                VideoMetadata::parseStreamDuration(QByteArray("codec_type=video\nduration=") + bad), 0.0);
        VideoMetadata reader;
        QCOMPARE(reader.parseDurationLine("  Duration: 00:03:25.12, start: 0.0"), 205.12);
        QCOMPARE(reader.parseDurationLine("  Duration: N/A, bitrate: N/A"), 0.0);
    }

    // Without audio properties the numbers are zeros, not what was there before.
    void noAudioProperties()
    {
        const QString file = path("props.mp3");
        MediaGen::Audio media;
        media.tags = {{"title", "Props"}};
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        tagInfo info;
        info.bitrate = info.channels = 99;
        info.length = info.sampleRate = 99;
        TagLib::FileRef ref(QFile::encodeName(file).constData(), false);
        QVERIFY(!ref.isNull() && !ref.audioProperties());
        track_data::readTags(info, ref);
        QCOMPARE(toQString(info.title), QStringLiteral("Props"));
        QVERIFY(info.bitrate == 0 && info.channels == 0 && info.length == 0 && info.sampleRate == 0);
        TagLib::MPEG::File mpeg(QFile::encodeName(file).constData(), false);
        info.bitrate = 5;
        track_data::readTags(info, mpeg.tag(), mpeg.audioProperties());
        QCOMPARE(info.bitrate, 0);
    }

    // Protected files are listed each time they are met; plain ones are not. Any video is taken,
    // even one TagLib has no reader for.
    void protectedAndVideoFiles()
    {
        const QString mp4 = path("locked.mp4"), m4a = path("locked.m4a");
        QVERIFY(MediaGen::makeProtected(mp4).isEmpty() && MediaGen::makeProtected(m4a).isEmpty());
        QVERIFY(MediaGen::makeAudio(path("plain.m4a")).isEmpty()
            && MediaGen::makeAudio(path("plain.wma")).isEmpty());
        track_data data;
        QVERIFY(data.isProtected(mp4) && data.isProtected(m4a) && data.isProtected(mp4));
        QVERIFY(!data.isProtected(path("plain.m4a")) && !data.isProtected(path("plain.wma")));
        QCOMPARE(data.protectedFiles(), QStringList({mp4, m4a, mp4}));
        QVERIFY(readLog().contains(QStringLiteral("Protected media file: ") + mp4));
        data.clearProtectedFiles();
        QVERIFY(data.protectedFiles().isEmpty());

        QVERIFY(MediaGen::makeVideo(path("clip.avi"), 1).isEmpty());
        tagInfo info;
        QVERIFY(data.readFileTags(info, path("clip.avi")));
        QCOMPARE(toQString(info.album), QStringLiteral("Unknown Album"));
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        MediaGen::Audio media;
        media.tags = {{"title", "Cut"}};
        media.cover = true;
        const QByteArray mp3 = made("source.mp3", media), flac = made("source.flac"),
                         m4a = made("source.m4a");
        QVERIFY(!mp3.isEmpty() && !flac.isEmpty() && !m4a.isEmpty());
        const QByteArray noise = garbage(64 * 1024);

        for (const char *suffix : {"mp3", "m4a", "wav"})
            QTest::addRow("empty %s", suffix) << QStringLiteral("empty.") + suffix << QByteArray();
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "wav", "aiff", "ape", "mp4", "wmv"})
            QTest::addRow("garbage %s", suffix) << QStringLiteral("garbage.") + suffix << noise;
        const QList<std::pair<QString, QByteArray>> rows = {{"cut.mp3", mp3.left(200)},  // inside its tag
            {"cut.m4a", m4a.left(m4a.size() / 3)}, {"cut.flac", flac.left(100)}, {"flac.mp3", flac},
            {"mp3.flac", mp3}, {"whole.flac", flac}, {"m4a.wma", m4a}, {"noSuffix", noise},
            // An ID3v2 header that claims a 256 MB tag in a tiny file.
            {"huge.mp3", QByteArray("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10) + noise.left(1000)},
            // A text frame that claims more bytes than its tag holds.
            {"frame.mp3",
                QByteArray("ID3\x03\x00\x00\x00\x00\x00\x20TIT2\x7f\xff\xff\xff\x00\x00\x00"
                           "abc",
                    24)
                    + mp3.mid(10)}};
        for (const auto &[name, bytes] : rows)
            QTest::newRow(qPrintable(name)) << name << bytes;
        // An MP4 box that claims 4 GB.
        QByteArray bigBox = m4a;
        bigBox.replace(bigBox.indexOf("moov") - 4, 4, QByteArray("\xff\xff\xff\xf0", 4));
        QTest::newRow("box.m4a") << "box.m4a" << bigBox;
    }

    // Broken media never crashes or hangs; a refused file leaves a log line. A tag save that
    // cannot complete leaves the original byte for byte, no copy, and a log line.
    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = path(QStringLiteral("bad/") + name);
        writeBytes(file, bytes);
        track_data data;
        tagInfo info;
        const bool read = data.readFileTags(info, file);
        if (!read)
            QVERIFY2(readLog().contains(file), qPrintable(file));
        else
            QVERIFY(!info.artist.isEmpty());
        // Bytes that are no media at all are never taken as music.
        if (name == QLatin1String("garbage.mp3") || name.startsWith(QLatin1String("empty")))
            QVERIFY(!read);
        data.isProtected(file);

        track t = AppPaths().clearTrack(track{});
        t.filepath = file;
        t.trackname = QStringLiteral("New");
        t.hasTitle = true;
        // Only the file whose audio is whole behind its bad frame takes the new tag.
        const bool whole = name == QLatin1String("frame.mp3");
        QCOMPARE(TagLibBuilder().saveTags(t), whole);
        if (!whole)
            QCOMPARE(fileBytes(file), bytes);
        if (!whole && QStringList({"mp3", "m4a", "wma"}).contains(QFileInfo(name).suffix()))
            QVERIFY(readLog().contains(
                QRegularExpression("Tag save failed.*: " + QRegularExpression::escape(file))));
        QVERIFY(leftovers(path("bad")).isEmpty());
        QFile::remove(file);
    }

    void saveTags_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("placeholders");
        for (const char *suffix : {"mp3", "m4a", "wma"})
            QTest::newRow(suffix) << QString::fromLatin1(suffix) << false;
        QTest::newRow("mp3 placeholders") << "mp3" << true;
    }

    // Cyrillic, CJK and emoji go into the file and come back unchanged, the audio kept and no
    // copy left; placeholders for missing data are never written over what the file holds.
    void saveTags()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, placeholders);
        MediaGen::Audio media = audio("Old", "Old Album");
        media.tags.insert(QMap<QString, QString>({{"genre", "Soul"}, {"date", "1980"}, {"track", "4"}}));
        const QString file = path(QStringLiteral("write/Запис 録音 %1.%2").arg(placeholders).arg(suffix));
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        track t = trackOf(file);
        t.trackname = placeholders ? QStringLiteral("Track 01") : QStringLiteral("Пісня без кінця");
        t.artistname = placeholders ? QStringLiteral("Unknown Artist") : QStringLiteral("坂本龍一");
        t.albumname = placeholders ? QString("") : QStringLiteral("Road 🚗 Trip 🎵");
        t.genre = placeholders ? QStringLiteral("Unknown Genre") : QStringLiteral("Поп");
        t.year = placeholders ? 0 : 2024;
        t.tracknumber = placeholders ? 0 : 12;
        t.hasTitle = t.hasArtist = !placeholders;
        t.hasAlbum = true;
        QVERIFY(TagLibBuilder().saveTags(t));
        const track back = trackOf(file);
        const QStringList texts = {back.trackname, back.artistname, back.albumname, back.genre};
        QCOMPARE(texts,
            placeholders ? QStringList({"Old", "Band", "Old Album", "Soul"})
                         : QStringList({t.trackname, t.artistname, t.albumname, t.genre}));
        QCOMPARE(QList<int>({back.year, back.tracknumber}),
            placeholders ? QList<int>({1980, 4}) : QList<int>({2024, 12}));
        QVERIFY(back.duration == 1.0 && back.frequency == 22050);
        QVERIFY(leftovers(path("write")).isEmpty());

        t.filepath = path("missing.mp3");
        QVERIFY(!TagLibBuilder().saveTags(t));
        QVERIFY(!QFile::exists(t.filepath));
    }

    void everyFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("tagged");
        QTest::addColumn<bool>("holdsCover");
        for (const char *suffix : {"mp3", "m4a", "flac", "wma", "aiff", "ogg", "wav"}) {
            const QString s = QString::fromLatin1(suffix);
            QTest::addRow("%s tagged", suffix) << s << true << (s != "ogg" && s != "wav");
            QTest::addRow("%s untagged", suffix) << s << false << false;
        }
    }

    // Each format becomes a complete track in the result map and the repository: texts in full
    // Unicode (WAV from its INFO chunk), numbers, audio properties, and its cover in the artwork
    // folder, fit to 110 px. Untagged files get the default texts.
    void everyFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, tagged);
        QFETCH(bool, holdsCover);
        const bool wav = suffix == QLatin1String("wav");  // INFO holds Latin-1 only
        const QString title = wav ? QStringLiteral("Song") : QStringLiteral("Пісня 歌 🎵");
        const QString artist = wav ? QStringLiteral("Artist") : QStringLiteral("Ёлка & 坂本龍一 😀");
        MediaGen::Audio media = audio(" " + title + " ", "Album " + suffix, holdsCover);
        if (!tagged)
            media.tags.clear();
        else
            media.tags.insert(QMap<QString, QString>({{"artist", artist}, {"genre", "Jazz"},
                {"comment", "Fine"}, {"date", "1999"}, {"track", "3"}}));
        media.seconds = 2;
        media.bitrateKbps = suffix == QLatin1String("ogg") ? 64 : 96;  // Vorbis tops out near 64k here
        const QString file = path(QStringLiteral("formats/%1%2/Файл 音楽 🎶.%1").arg(suffix).arg(tagged));
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        Database database;
        QVERIFY2(database.open(QStringLiteral("KivoData"), true), qPrintable(database.lastError()));
        QVERIFY2(database.initStructure(), qPrintable(database.lastError()));
        AppPaths paths;
        paths.resetFolderAlbumCounts();
        track_data data;
        const qint64 key = m_key;
        const track t = build(data, file);
        QVERIFY(m_key == key + 1 && t.id == key);
        if (tagged) {
            QCOMPARE(QStringList({t.trackname, t.artistname, t.albumname, t.genre}),
                QStringList({title, artist, "Album " + suffix, "Jazz"}));
            // ffmpeg writes its comment as a user text frame in ID3v2 and ASF, which is no comment.
            if (!QStringList({"mp3", "wma", "aiff"}).contains(suffix))
                QCOMPARE(t.comment, QStringLiteral("Fine"));
            QVERIFY(t.year == 1999 && t.tracknumber == 3 && t.hasTitle && t.hasArtist && t.hasAlbum);
        } else {
            QCOMPARE(QStringList({t.trackname, t.artistname, t.albumname}),
                QStringList({QFileInfo(file).completeBaseName(), "Unknown Artist", "Unknown Album"}));
            QVERIFY(t.year == 0 && t.tracknumber == 0 && !t.hasArtist && !t.hasAlbum);
        }
        QVERIFY(t.duration == 2.0 && t.frequency == 22050 && !t.isVideo);
        // AAC in MPEG-4 always declares two channels in its sample entry.
        QCOMPARE(t.channels, qint16(suffix == QLatin1String("m4a") ? 2 : 1));
        QVERIFY(t.bitrate > 0 && t.quality == bitrateClass(t.bitrate));
        QVERIFY(t.filesize == QFileInfo(file).size() && t.folderLocation == QFileInfo(file).absolutePath());
        if (wav && tagged) {
            TagLib::RIFF::WAV::File riff(QFile::encodeName(file).constData());
            QVERIFY(!riff.hasID3v2Tag() && riff.hasInfoTag());
        }

        const QString cover = artworkFolder() + "/Album " + suffix + ".png";
        QVERIFY(t.hasCover == holdsCover && t.missingMediaData == !holdsCover);
        QVERIFY(!tagged || QFile::exists(cover) == holdsCover);
        if (holdsCover) {
            QCOMPARE(t.cover, cover);
            const QImage image(cover);
            QCOMPARE(image.size(), QSize(110, 73));
            QCOMPARE(QColor(image.pixel(50, 30)), QColor(Qt::red));
        } else if (tagged) {
            QCOMPARE(t.cover, AppPaths().noArtworkUrl);
        }

        {
            QSqlQuery query(Database::threadConnection());
            QVERIFY(query.prepare("SELECT count(*), max(trackname) FROM TrackRepo WHERE filepath = ?"));
            query.addBindValue(file);
            QVERIFY(query.exec() && query.next());
            QCOMPARE(QStringList({query.value(0).toString(), query.value(1).toString()}),
                QStringList({"1", t.trackname}));
        }
        Database::close();
        // Counted once for its folder and album: one more count makes the folder mixed.
        QVERIFY(!paths.isMixedFolder(t.folderLocation, false));
        paths.countFolderAlbumTrack(t.folderLocation, t.album_id);
        QVERIFY(paths.isMixedFolder(t.folderLocation, false));
        QCOMPARE(track_data::scanTrackMap().value(t.id).filepath, file);
    }

    void measuredByFfprobe_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<qint64>("cutTo");  // bytes kept, or -1
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<double>("duration");
        QTest::newRow("raw aac") << "Raw Song.aac"
                                 << "" << 3 << qint64(-1) << 22050 << 1 << 3.0;
        QTest::newRow("ac-3 in mp4") << "Dolby.m4a"
                                     << "ac3" << 3 << qint64(-1) << 44100 << 2 << 3.0;
        // 300 s at 64 kbit/s cut to 150000 bytes: under 19 s are left of what the header claims.
        QTest::newRow("cut short") << "Cut.mp3"
                                   << "" << 300 << qint64(150000) << 22050 << 1 << 18.0;
    }

    // TagLib reads no raw AAC, measures no AC-3 inside MP4 and believes the header of a file cut
    // short: ffprobe measures them.
    void measuredByFfprobe()
    {
        QFETCH(QString, name);
        QFETCH(QString, codec);
        QFETCH(int, seconds);
        QFETCH(qint64, cutTo);
        QFETCH(int, sampleRate);
        QFETCH(int, channels);
        QFETCH(double, duration);
        MediaGen::Audio media;
        media.seconds = seconds;
        media.codec = codec;
        media.sampleRate = sampleRate;
        media.channels = channels;
        media.bitrateKbps = 64;
        const QString file = path("probe/" + name);
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(cutTo < 0 || QFile(file).resize(cutTo));
        track_data data;
        const track t = build(data, file);
        QCOMPARE(t.filepath, file);
        QCOMPARE(t.trackname, QFileInfo(name).completeBaseName());
        QVERIFY2(qAbs(t.duration - duration) <= 1.0, qPrintable(QString::number(t.duration)));
        QVERIFY(t.frequency == sampleRate && t.channels == channels && t.bitrate > 0);
    }

    // One album, one cover: a later file's picture never replaces the first one's.
    void coverOncePerAlbum()
    {
        track_data data;
        MediaGen::Audio media = audio("One", "Shared Album", true);
        media.coverColor = Qt::blue;
        QVERIFY(MediaGen::makeAudio(path("shared/one.mp3"), media).isEmpty());
        media.tags["artist"] = "Other Band";
        media.coverColor = Qt::green;
        QVERIFY(MediaGen::makeAudio(path("shared/two.flac"), media).isEmpty());

        const track one = build(data, path("shared/one.mp3"));
        const QString cover = artworkFolder() + "/Shared Album.png";
        QCOMPARE(one.cover, cover);
        const QDateTime written = QFileInfo(cover).lastModified();
        const track two = build(data, path("shared/two.flac"));
        QCOMPARE(two.cover, cover);
        QCOMPARE(QFileInfo(cover).lastModified(), written);
        QCOMPARE(QColor(QImage(cover).pixel(5, 5)), QColor(Qt::blue));
        QVERIFY(two.album_id == one.album_id && two.artist_id != one.artist_id && two.id == one.id + 1);
        QCOMPARE(TagLibBuilder().extractCoverArt(cover, path("shared/two.flac")), QStringLiteral(""));
        QCOMPARE(QDir(artworkFolder()).entryList({"Shared*"}, QDir::Files).size(), 1);
    }

    // A file without any tag is taken with the default texts and its file name as title.
    void titleFromFileName()
    {
        const QList<std::tuple<QString, QString, bool>> rows
            = {{"Loud.MP3", "Loud", true}, {"Track 07.mp3", "Track 07", false}, {".mp3", "", false}};
        for (const auto &[name, title, hasTitle] : rows) {
            const QString file = path("names/" + name);
            QVERIFY(MediaGen::makeAudio(path("names/plain.mp3")).isEmpty());
            QVERIFY(QFile::rename(path("names/plain.mp3"), file));
            track_data data;
            const track t = build(data, file);
            QCOMPARE(t.trackname, title);
            QCOMPARE(t.hasTitle, hasTitle);
            QCOMPARE(t.albumname, QStringLiteral("Unknown Album"));
            QVERIFY(!t.hasArtist && !t.hasAlbum && !t.hasCover && t.missingMediaData);
            QFile::remove(file);
        }
    }

    // Covers are written only inside the artwork folder, its whole chain made for the first one;
    // a picture that does not decode leaves no file behind, not even a temporary one.
    void coverFiles()
    {
        {
            TestEnv fresh;
            QVERIFY(MediaGen::makeAudio(path("first.m4a"), audio("First", "First Album", true)).isEmpty());
            track_data data;
            const track t = build(data, path("first.m4a"));
            QVERIFY(t.cover.startsWith(fresh.appDataDir() + "/Artwork/"));
            QVERIFY(t.hasCover && QFile::exists(t.cover));
        }

        TagLibBuilder builder;
        const QString inside = artworkFolder() + "/sub/deeper/cover.png";
        QCOMPARE(builder.extractCoverArt(inside, path("first.m4a")), inside);
        QVERIFY(!QImage(inside).isNull());
        for (const QString &target : {path("elsewhere/cover.png"), artworkFolder() + "/../escape.png"}) {
            QCOMPARE(builder.extractCoverArt(target, path("first.m4a")), QStringLiteral(""));
            QVERIFY(!QFile::exists(target));
        }

        const QString file = path("broken.mp3");
        QVERIFY(MediaGen::makeAudio(file, audio("Broken", "Broken Cover")).isEmpty());
        QVERIFY(MediaGen::attachCover(file, QByteArray(5000, 'x')).isEmpty());
        track_data data;
        const track t = build(data, file);
        QVERIFY(t.cover == AppPaths().noArtworkUrl && t.missingMediaData);
        QVERIFY(readLog().contains(QStringLiteral("Embedded cover does not decode: ") + file));
        for (const QString &name : QDir(artworkFolder()).entryList(QDir::Files | QDir::Hidden))
            QVERIFY2(
                !name.startsWith("Broken") && !name.contains("tmp", Qt::CaseInsensitive), qPrintable(name));
    }

    // Quality classes at their borders, a track number beyond 16 bits clamped, placeholder texts
    // not taken as tags.
    void bordersOfNumbers()
    {
        const QString file = path("numbers.wav");
        QVERIFY(MediaGen::makeAudio(file).isEmpty());
        for (const auto &[bitrate, quality] :
            QList<std::pair<int, int>>{{128, 0}, {129, 1}, {256, 2}, {1000000, 2}}) {
            tagInfo info;
            info.title = toTString("T");
            info.artist = toTString("Unknown Artist");
            info.album = toTString(" Album ");
            info.bitrate = bitrate;
            info.length = 245;
            info.track = 70000;
            track_data data;
            track t = AppPaths().clearTrack(track{});
            data.buildTrack(m_key, t, info, QFileInfo(file), false, QString(), false, true);
            QVERIFY2(t.quality == quality && t.duration == 245.0 && t.tracknumber == 32767,
                qPrintable(QString::number(bitrate)));
            QVERIFY(!t.hasArtist && t.hasAlbum && t.albumname == QLatin1String("Album"));
        }
    }

    void lengthAndThumbnail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withAudio");
        QTest::addColumn<QString>("thumbnail");
        QTest::newRow("mp4") << "Holiday.MP4" << true << "Holiday.png";
        QTest::newRow("silent mp4") << "again.mp4.mp4" << false << "again.png";
        QTest::newRow("avi") << "clip.avi" << true << "clip.png";
        QTest::newRow("silent avi") << "quiet.avi" << false << "quiet.png";
    }

    // The length comes from TagLib or the tools; the thumbnail is one frame of the video, written
    // through a temporary name, and once there it is reused, never remade.
    void lengthAndThumbnail()
    {
        QFETCH(QString, name);
        QFETCH(bool, withAudio);
        QFETCH(QString, thumbnail);
        const QString file = path(name);
        const QString error = MediaGen::makeVideo(file, 2, withAudio);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        VideoMetadata reader;
        const track t = reader.readVideoInfo(file, 1);
        QVERIFY2(qAbs(t.duration - 2.0) < 0.2, qPrintable(QString::number(t.duration)));
        QCOMPARE(t.cover, artworkFolder(true) + "/" + thumbnail);
        QCOMPARE(QImage(t.cover).size(), QSize(160, 120));
        QVERIFY(leftovers(artworkFolder(true)).isEmpty());
        writeBytes(t.cover, "mine");
        QCOMPARE(reader.readVideoInfo(file, 1).cover, t.cover);
        QCOMPARE(fileBytes(t.cover), QByteArray("mine"));
    }

    // Several threads read at once, the same video among them, each with its own result.
    void concurrentCalls()
    {
        QList<QPair<QString, double>> videos;
        for (int i = 0; i < 6; ++i) {
            const QString file = path(QStringLiteral("many/v%1.%2").arg(i).arg(i % 2 ? "avi" : "mp4"));
            QVERIFY(MediaGen::makeVideo(file, 1 + i % 3).isEmpty());
            videos.append({file, 1 + i % 3});
        }
        videos.append(videos.first());
        VideoMetadata reader;
        QThreadPool pool;
        pool.setMaxThreadCount(7);
        const QList<track> results = QtConcurrent::blockingMapped(&pool, videos,
            [&reader](const QPair<QString, double> &v) { return reader.readVideoInfo(v.first, 1); });
        for (int i = 0; i < videos.size(); ++i) {
            QVERIFY2(
                qAbs(results.at(i).duration - videos.at(i).second) < 0.2, qPrintable(videos.at(i).first));
            QVERIFY(!QImage(results.at(i).cover).isNull());
        }
    }

    void brokenVideo_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("tool");
        QTest::newRow("garbage avi") << "garbage.avi" << garbage(50000) << "";
        QTest::newRow("garbage mp4") << "garbage.mp4" << garbage(50000) << "";
        QTest::newRow("empty mkv") << "empty.mkv" << QByteArray() << "";
        QVERIFY(MediaGen::makeVideo(path("source.avi"), 1).isEmpty());
        const QByteArray avi = fileBytes(path("source.avi"));
        QTest::newRow("cut avi") << "cut.avi" << avi.left(3000) << "";
        QVERIFY(MediaGen::makeProtected(path("locked-video.mp4")).isEmpty());
        QTest::newRow("protected mp4") << "locked.mp4" << fileBytes(path("locked-video.mp4")) << "";
        const QString hanging = path("hanging-tool");
        writeBytes(hanging, "#!/bin/sh\nexec sleep 30\n");
        QFile::setPermissions(hanging, QFile::permissions(hanging) | QFileDevice::ExeOwner);
        QTest::newRow("missing tools") << "tools-missing.avi" << avi << path("no-such-tool");
        QTest::newRow("hanging tools") << "tools-hanging.avi" << avi << hanging;
    }

    // Broken videos, missing tools and hanging ones give a zero length, no image and a log line,
    // within the time-out.
    void brokenVideo()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, tool);
        const QString file = path("broken/" + name);
        writeBytes(file, bytes);
        const auto restore = qScopeGuard([] {
            qunsetenv("KIVO_FFPROBE");
            qunsetenv("KIVO_FFMPEG");
        });
        if (!tool.isEmpty()) {
            qputenv("KIVO_FFPROBE", QFile::encodeName(tool));
            qputenv("KIVO_FFMPEG", QFile::encodeName(tool));
        }
        VideoMetadata reader;
        reader.toolTimeoutMs = 500;
        QElapsedTimer clock;
        clock.start();
        const track t = reader.readVideoInfo(file, 1);
        QVERIFY(clock.elapsed() < 10000 && t.duration == 0.0 && !QFile::exists(t.cover));
        QVERIFY(readLog().contains(
            (tool.isEmpty() ? QString() : QStringLiteral("Thumbnail not made for ")) + file));
    }
};

KIVO_TEST_MAIN(TestMediaFiles)
#include "tst_mediafiles.moc"
