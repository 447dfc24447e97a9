#include "applog.h"
#include "apppaths.h"
#include "mediagen.h"
#include "taglibbuilder.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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

// No temporary copy of a tag save is left behind.
QStringList leftovers(const QString &folder)
{
    return QDir(folder).entryList({".kivo-tags-*"}, QDir::Files | QDir::Hidden);
}
}  // namespace

class TestTagReading : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
    }

    // Suffixes match in any case; videos only once the system's video flag was taken over.
    void classification()
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
    }

    void everyFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<bool>("tagged");
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "wav", "aiff"}) {
            QTest::addRow("%s tagged", suffix) << QString::fromLatin1(suffix) << true;
            QTest::addRow("%s untagged", suffix) << QString::fromLatin1(suffix) << false;
        }
    }

    // Texts (full Unicode, in the file name too), numbers and audio properties of each format;
    // WAV tags come from its INFO chunk. Untagged files get the default texts.
    void everyFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(bool, tagged);
        const bool wav = suffix == QLatin1String("wav");  // INFO holds Latin-1 only
        const QString title = wav ? QStringLiteral("Song") : QStringLiteral("Пісня 歌 🎵");
        const QString artist = wav ? QStringLiteral("Artist") : QStringLiteral("Ёлка & 坂本龍一 😀");
        MediaGen::Audio media;
        media.seconds = 2;
        media.bitrateKbps = 64;
        if (tagged)
            media.tags = {{"title", title}, {"artist", artist}, {"album", "The Album"}, {"genre", "Rock"},
                {"comment", "Fine"}, {"date", "2001"}, {"track", "7"}};
        const QString file = path(QStringLiteral("Файл 音楽 🎶 %1.%2").arg(tagged).arg(suffix));
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, file));
        QCOMPARE(toQString(info.title), tagged ? title : QString());
        QCOMPARE(toQString(info.artist), tagged ? artist : QStringLiteral("Unknown Artist"));
        QCOMPARE(
            toQString(info.album), tagged ? QStringLiteral("The Album") : QStringLiteral("Unknown Album"));
        QCOMPARE(toQString(info.genre), tagged ? QStringLiteral("Rock") : QStringLiteral("Unknown genre"));
        // ffmpeg writes its comment as a user text frame in ID3v2 and ASF, which is no comment.
        if (!tagged || !QStringList({"mp3", "wma", "aiff"}).contains(suffix))
            QCOMPARE(
                toQString(info.comment), tagged ? QStringLiteral("Fine") : QStringLiteral("Unknown comment"));
        QCOMPARE(info.year, tagged ? 2001u : 0u);
        QCOMPARE(info.track, tagged ? 7u : 0u);
        QCOMPARE(info.length, 2u);
        QCOMPARE(info.sampleRate, 22050u);
        // AAC in MPEG-4 always declares two channels in its sample entry.
        QCOMPARE(info.channels, suffix == QLatin1String("m4a") ? 2 : 1);
        QVERIFY(info.bitrate > 0);
        if (wav && tagged) {
            TagLib::RIFF::WAV::File riff(QFile::encodeName(file).constData());
            QVERIFY(!riff.hasID3v2Tag() && riff.hasInfoTag());
        }
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

    // Protected files are listed each time they are met; plain ones are not.
    void protectedFiles()
    {
        const QString lockedMp4 = path("locked.mp4");
        const QString lockedM4a = path("locked.m4a");
        QVERIFY(MediaGen::makeProtected(lockedMp4).isEmpty() && MediaGen::makeProtected(lockedM4a).isEmpty());
        QVERIFY(MediaGen::makeAudio(path("plain.m4a")).isEmpty()
            && MediaGen::makeAudio(path("plain.wma")).isEmpty());
        track_data data;
        QVERIFY(data.isProtected(lockedMp4) && data.isProtected(lockedM4a));
        QVERIFY(!data.isProtected(path("plain.m4a")) && !data.isProtected(path("plain.wma")));
        QVERIFY(data.isProtected(lockedMp4));
        QCOMPARE(data.protectedFiles(), QStringList({lockedMp4, lockedM4a, lockedMp4}));
        QVERIFY(readLog().contains(QStringLiteral("Protected media file: ") + lockedMp4));
        data.clearProtectedFiles();
        QVERIFY(data.protectedFiles().isEmpty());
    }

    void badInput_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        MediaGen::Audio media;
        media.tags = {{"title", "Cut"}};
        media.cover = true;
        QVERIFY(MediaGen::makeAudio(path("source.mp3"), media).isEmpty());
        QVERIFY(MediaGen::makeAudio(path("source.flac")).isEmpty());
        QVERIFY(MediaGen::makeAudio(path("source.m4a")).isEmpty());
        const QByteArray mp3 = fileBytes(path("source.mp3"));
        const QByteArray flac = fileBytes(path("source.flac"));
        const QByteArray m4a = fileBytes(path("source.m4a"));
        const QByteArray noise = garbage(64 * 1024);

        for (const char *suffix : {"mp3", "m4a", "wav"})
            QTest::addRow("empty %s", suffix) << QStringLiteral("empty.") + suffix << QByteArray();
        QTest::newRow("mp3 cut in its tag") << "cut.mp3" << mp3.left(200);
        QTest::newRow("m4a cut") << "cut.m4a" << m4a.left(m4a.size() / 3);
        QTest::newRow("flac cut") << "cut.flac" << flac.left(100);
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "wav", "aiff", "ape", "mp4", "wmv"})
            QTest::addRow("garbage %s", suffix) << QStringLiteral("garbage.") + suffix << noise;
        QTest::newRow("flac named mp3") << "flac.mp3" << flac;
        QTest::newRow("mp3 named flac") << "mp3.flac" << mp3;
        QTest::newRow("m4a named wma") << "m4a.wma" << m4a;
        QTest::newRow("no suffix garbage") << "noSuffix" << noise;
        // An ID3v2 header that claims a 256 MB tag in a tiny file.
        QTest::newRow("absurd id3v2 size")
            << "huge.mp3" << QByteArray("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10) + noise.left(1000);
        // A text frame that claims more bytes than its tag holds.
        QTest::newRow("absurd frame size")
            << "frame.mp3"
            << QByteArray("ID3\x03\x00\x00\x00\x00\x00\x20TIT2\x7f\xff\xff\xff\x00\x00\x00"
                          "abc",
                   24)
                + mp3.mid(10);
        // An MP4 box that claims 4 GB.
        QByteArray bigBox = m4a;
        bigBox.replace(bigBox.indexOf("moov") - 4, 4, QByteArray("\xff\xff\xff\xf0", 4));
        QTest::newRow("absurd mp4 box") << "box.m4a" << bigBox;
    }

    // Broken media never crashes or hangs; a refused file leaves a log line.
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
        if (QTest::currentDataTag() == QLatin1String("garbage mp3")
            || name.startsWith(QLatin1String("empty")))
            QVERIFY(!read);
        data.isProtected(file);
        QFile::remove(file);
    }

    // Any video is taken, even one TagLib has no reader for.
    void videoWithoutReader()
    {
        QVERIFY(MediaGen::makeVideo(path("clip.avi"), 1).isEmpty());
        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, path("clip.avi")));
        QCOMPARE(toQString(info.album), QStringLiteral("Unknown Album"));
    }

    void unicodeRoundTrip_data()
    {
        QTest::addColumn<QString>("suffix");
        for (const char *suffix : {"mp3", "m4a", "wma"})
            QTest::newRow(suffix) << QString::fromLatin1(suffix);
    }

    // Cyrillic, CJK and emoji go into the file and come back unchanged; the audio is kept.
    void unicodeRoundTrip()
    {
        QFETCH(QString, suffix);
        MediaGen::Audio media;
        media.tags = {{"title", "Old"}, {"artist", "Old Artist"}, {"album", "Old Album"}};
        const QString file = path(QStringLiteral("write/Запис 録音.") + suffix);
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        track t = trackOf(file);
        t.trackname = QStringLiteral("Пісня без кінця");
        t.artistname = QStringLiteral("坂本龍一");
        t.albumname = QStringLiteral("Road 🚗 Trip 🎵");
        t.genre = QStringLiteral("Поп");
        t.year = 2024;
        t.tracknumber = 12;
        t.hasTitle = t.hasArtist = t.hasAlbum = true;
        QVERIFY(TagLibBuilder().saveTags(t));
        const track back = trackOf(file);
        QCOMPARE(back.trackname, t.trackname);
        QCOMPARE(back.artistname, t.artistname);
        QCOMPARE(back.albumname, t.albumname);
        QCOMPARE(back.genre, t.genre);
        QCOMPARE(back.year, qint16(2024));
        QCOMPARE(back.tracknumber, qint16(12));
        QCOMPARE(back.duration, 1.0);
        QCOMPARE(back.frequency, qint64(22050));
        QVERIFY(leftovers(path("write")).isEmpty());
    }

    // Placeholders for missing data are never written over what the file holds; a missing file
    // is not made.
    void placeholdersNotWritten()
    {
        MediaGen::Audio media;
        media.tags = {{"title", "Kept Title"}, {"artist", "Kept Artist"}, {"album", "Kept Album"},
            {"genre", "Soul"}, {"date", "1980"}, {"track", "4"}};
        const QString file = path("guard.mp3");
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        track t = trackOf(file);
        t.trackname = QStringLiteral("Track 01");
        t.artistname = QStringLiteral("Unknown Artist");
        t.albumname = QStringLiteral("");
        t.hasTitle = t.hasArtist = false;
        t.hasAlbum = true;  // with an empty text
        t.genre = QStringLiteral("Unknown Genre");
        t.year = t.tracknumber = 0;
        QVERIFY(TagLibBuilder().saveTags(t));
        const track back = trackOf(file);
        QCOMPARE(QStringList({back.trackname, back.artistname, back.albumname, back.genre}),
            QStringList({"Kept Title", "Kept Artist", "Kept Album", "Soul"}));
        QVERIFY(back.year == 1980 && back.tracknumber == 4);

        t.filepath = path("missing.mp3");
        QVERIFY(!TagLibBuilder().saveTags(t));
        QVERIFY(!QFile::exists(t.filepath));
    }

    void failedSaveKeepsOriginal_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        for (const char *suffix : {"mp3", "m4a", "wma"})
            QTest::addRow("garbage %s", suffix) << QStringLiteral("bad.") + suffix << garbage(20000);
        QTest::newRow("empty mp3") << "empty.mp3" << QByteArray();
        QVERIFY(MediaGen::makeAudio(path("half.m4a")).isEmpty());
        const QByteArray m4a = fileBytes(path("half.m4a"));
        QTest::newRow("cut m4a") << "cut.m4a" << m4a.left(m4a.size() / 2);
        // A format the writer does not handle.
        QVERIFY(MediaGen::makeAudio(path("alone.flac")).isEmpty());
        QTest::newRow("flac") << "alone.flac" << fileBytes(path("alone.flac"));
    }

    // A save that cannot complete leaves the original byte for byte, and no copy.
    void failedSaveKeepsOriginal()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = path("failing/" + name);
        writeBytes(file, bytes);
        track t = AppPaths().clearTrack(track{});
        t.filepath = file;
        t.trackname = QStringLiteral("New");
        t.hasTitle = true;
        QVERIFY(!TagLibBuilder().saveTags(t));
        QCOMPARE(fileBytes(file), bytes);
        QVERIFY(leftovers(path("failing")).isEmpty());
        if (!name.endsWith(QLatin1String(".flac")))
            QVERIFY(readLog().contains(file));
    }
};

KIVO_TEST_MAIN(TestTagReading)
#include "tst_tagreading.moc"
