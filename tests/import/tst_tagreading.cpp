#include "applog.h"
#include "apppaths.h"
#include "mediagen.h"
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

QByteArray writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
    return bytes;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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

    void everyFormat_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("bitrate");
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "wav", "aiff"})
            QTest::newRow(suffix) << QString::fromLatin1(suffix) << 64;
    }

    // Texts, numbers and audio properties of each generated format, WAV from its INFO chunk.
    void everyFormat()
    {
        QFETCH(QString, suffix);
        QFETCH(int, bitrate);
        MediaGen::Audio media;
        media.seconds = 2;
        media.bitrateKbps = bitrate;
        media.tags = {{"title", "Song " + suffix}, {"artist", "The Artist"}, {"album", "The Album"},
            {"genre", "Rock"}, {"comment", "Fine"}, {"date", "2001"}, {"track", "7"}};
        const QString file = path("every." + suffix);
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, file));
        QCOMPARE(toQString(info.title), "Song " + suffix);
        QCOMPARE(toQString(info.artist), QStringLiteral("The Artist"));
        QCOMPARE(toQString(info.album), QStringLiteral("The Album"));
        QCOMPARE(toQString(info.genre), QStringLiteral("Rock"));
        // ffmpeg writes its comment as a user text frame in ID3v2 and ASF, which is no comment.
        if (suffix != QLatin1String("mp3") && suffix != QLatin1String("wma")
            && suffix != QLatin1String("aiff"))
            QCOMPARE(toQString(info.comment), QStringLiteral("Fine"));
        QCOMPARE(info.year, 2001u);
        QCOMPARE(info.track, 7u);
        QCOMPARE(info.length, 2u);
        QCOMPARE(info.sampleRate, 22050u);
        // AAC in MPEG-4 always declares two channels in its sample entry.
        QCOMPARE(info.channels, suffix == QLatin1String("m4a") ? 2 : 1);
        QVERIFY(info.bitrate > 0);

        if (suffix == QLatin1String("wav")) {
            TagLib::RIFF::WAV::File wav(QFile::encodeName(file).constData());
            QVERIFY(!wav.hasID3v2Tag());
            QVERIFY(wav.hasInfoTag());
        }
    }

    void untaggedFormat_data() { everyFormat_data(); }

    // A file without any tag is taken with the default texts and an empty title.
    void untaggedFormat()
    {
        QFETCH(QString, suffix);
        const QString file = path("untagged." + suffix);
        const QString error = MediaGen::makeAudio(file);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, file));
        QVERIFY(info.title.isEmpty());
        QCOMPARE(toQString(info.artist), QStringLiteral("Unknown Artist"));
        QCOMPARE(toQString(info.album), QStringLiteral("Unknown Album"));
        QCOMPARE(toQString(info.genre), QStringLiteral("Unknown genre"));
        QCOMPARE(toQString(info.comment), QStringLiteral("Unknown comment"));
        QCOMPARE(info.year, 0u);
        QCOMPARE(info.track, 0u);
        QCOMPARE(info.length, 1u);
        QCOMPARE(info.sampleRate, 22050u);
    }

    void unicodeTexts_data()
    {
        QTest::addColumn<QString>("suffix");
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "aiff"})
            QTest::newRow(suffix) << QString::fromLatin1(suffix);
    }

    // Texts and file names outside Latin-1 stay whole.
    void unicodeTexts()
    {
        QFETCH(QString, suffix);
        const QString title = QStringLiteral("Пісня про 歌 🎵");
        const QString artist = QStringLiteral("Ёлка & 坂本龍一");
        const QString album = QStringLiteral("Альбом 😀 アルバム");
        MediaGen::Audio media;
        media.tags = {{"title", title}, {"artist", artist}, {"album", album}};
        const QString file = path(QStringLiteral("Файл 音楽 🎶.") + suffix);
        const QString error = MediaGen::makeAudio(file, media);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, file));
        QCOMPARE(toQString(info.title), title);
        QCOMPARE(toQString(info.artist), artist);
        QCOMPARE(toQString(info.album), album);
    }

    void suffixCase()
    {
        MediaGen::Audio media;
        media.tags = {{"title", "Upper"}};
        const QString file = path("Upper.MP3");
        QVERIFY(MediaGen::makeAudio(path("upper.mp3"), media).isEmpty());
        QVERIFY(QFile::rename(path("upper.mp3"), file));
        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, file));
        QCOMPARE(toQString(info.title), QStringLiteral("Upper"));
    }

    // Without audio properties the numbers are zeros.
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
        QVERIFY(!ref.isNull());
        QVERIFY(!ref.audioProperties());
        track_data::readTags(info, ref);
        QCOMPARE(toQString(info.title), QStringLiteral("Props"));
        QCOMPARE(info.bitrate, 0);
        QCOMPARE(info.channels, 0);
        QCOMPARE(info.length, 0u);
        QCOMPARE(info.sampleRate, 0u);

        TagLib::MPEG::File mpeg(QFile::encodeName(file).constData(), false);
        info = tagInfo();
        info.bitrate = 5;
        track_data::readTags(info, mpeg.tag(), mpeg.audioProperties());
        QCOMPARE(info.bitrate, 0);
        QCOMPARE(toQString(info.title), QStringLiteral("Props"));
    }

    void protectedFiles()
    {
        const QString lockedMp4 = path("locked.mp4");
        const QString lockedM4a = path("locked.m4a");
        const QString plain = path("plain.m4a");
        QVERIFY(MediaGen::makeProtected(lockedMp4).isEmpty());
        QVERIFY(MediaGen::makeProtected(lockedM4a).isEmpty());
        QVERIFY(MediaGen::makeAudio(plain).isEmpty());
        const QString plainWma = path("plain.wma");
        QVERIFY(MediaGen::makeAudio(plainWma).isEmpty());

        track_data data;
        QVERIFY(data.isProtected(lockedMp4));
        QVERIFY(data.isProtected(lockedM4a));
        QVERIFY(!data.isProtected(plain));
        QVERIFY(!data.isProtected(plainWma));
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

        QByteArray mp3;
        {
            MediaGen::Audio media;
            media.tags = {{"title", "Cut"}};
            media.cover = true;
            const QString file = m_dir.filePath("source.mp3");
            QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
            mp3 = fileBytes(file);
        }
        QByteArray flac;
        {
            const QString file = m_dir.filePath("source.flac");
            QVERIFY(MediaGen::makeAudio(file).isEmpty());
            flac = fileBytes(file);
        }
        QByteArray m4a;
        {
            const QString file = m_dir.filePath("source.m4a");
            QVERIFY(MediaGen::makeAudio(file).isEmpty());
            m4a = fileBytes(file);
        }
        QByteArray garbage(64 * 1024, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 7919 + 13) % 251);

        QTest::newRow("empty mp3") << "empty.mp3" << QByteArray();
        QTest::newRow("empty m4a") << "empty.m4a" << QByteArray();
        QTest::newRow("empty wav") << "empty.wav" << QByteArray();
        QTest::newRow("mp3 cut in its tag") << "cut.mp3" << mp3.left(200);
        QTest::newRow("m4a cut") << "cut.m4a" << m4a.left(m4a.size() / 3);
        QTest::newRow("flac cut") << "cut.flac" << flac.left(100);
        for (const char *suffix : {"mp3", "m4a", "flac", "ogg", "wma", "wav", "aiff", "ape", "mp4", "wmv"})
            QTest::newRow(qPrintable(QStringLiteral("garbage ") + suffix))
                << QStringLiteral("garbage.") + suffix << garbage;
        QTest::newRow("flac named mp3") << "flac.mp3" << flac;
        QTest::newRow("mp3 named flac") << "mp3.flac" << mp3;
        QTest::newRow("m4a named wma") << "m4a.wma" << m4a;
        QTest::newRow("no suffix garbage") << "noSuffix" << garbage;

        // An ID3v2 header that claims a 256 MB tag in a tiny file.
        QByteArray hugeId3("ID3\x04\x00\x00\x7f\x7f\x7f\x7f", 10);
        hugeId3 += garbage.left(1000);
        QTest::newRow("absurd id3v2 size") << "huge.mp3" << hugeId3;
        // A text frame that claims more bytes than its tag holds.
        QByteArray frame("ID3\x03\x00\x00\x00\x00\x00\x20TIT2\x7f\xff\xff\xff\x00\x00\x00"
                         "abc",
            24);
        frame += mp3.mid(10);
        QTest::newRow("absurd frame size") << "frame.mp3" << frame;
        // An MP4 box that claims 4 GB.
        QByteArray bigBox = m4a;
        const int moov = bigBox.indexOf("moov");
        if (moov >= 4)
            bigBox.replace(moov - 4, 4, QByteArray("\xff\xff\xff\xf0", 4));
        QTest::newRow("absurd mp4 box") << "box.m4a" << bigBox;
    }

    // Broken media never crashes or hangs; a refused file leaves a log line.
    void badInput()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = path(QStringLiteral("bad/") + name);
        QDir().mkpath(path("bad"));
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
        const QString avi = path("clip.avi");
        const QString error = MediaGen::makeVideo(avi, 1);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        track_data data;
        tagInfo info;
        QVERIFY(data.readFileTags(info, avi));
        QCOMPARE(toQString(info.album), QStringLiteral("Unknown Album"));
    }
};

KIVO_TEST_MAIN(TestTagReading)
#include "tst_tagreading.moc"
