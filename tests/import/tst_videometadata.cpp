#include "applog.h"
#include "apppaths.h"
#include "mediagen.h"
#include "testenv.h"
#include "videometadata.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtConcurrent>

namespace {
QString videoArtwork()
{
    return AppPaths::dataLocation() + AppPaths().videoArtworkDir;
}

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}
}  // namespace

class TestVideoMetadata : public QObject
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

    void lengthAndThumbnail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("withAudio");
        QTest::newRow("mp4") << "Holiday.MP4" << true;
        QTest::newRow("silent mp4") << "silent.mp4" << false;
        QTest::newRow("avi") << "clip.avi" << true;
        QTest::newRow("silent avi") << "quiet.avi" << false;
    }

    // The length comes from TagLib or the tools; the thumbnail is one frame of the video, written
    // through a temporary name.
    void lengthAndThumbnail()
    {
        QFETCH(QString, name);
        QFETCH(bool, withAudio);
        const QString file = path(name);
        const QString error = MediaGen::makeVideo(file, 2, withAudio);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        const track t = VideoMetadata().readVideoInfo(file, 1);
        QVERIFY2(qAbs(t.duration - 2.0) < 0.2, qPrintable(QString::number(t.duration)));
        QCOMPARE(t.cover, videoArtwork() + "/" + QFileInfo(name).completeBaseName() + ".png");
        QCOMPARE(QImage(t.cover).size(), QSize(160, 120));
        QVERIFY(QDir(videoArtwork()).entryList({".thumb-*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // An existing thumbnail is reused, never remade.
    void thumbnailReused()
    {
        const QString file = path("again.mp4.mp4");
        QVERIFY(MediaGen::makeVideo(file, 1).isEmpty());
        VideoMetadata reader;
        const QString thumbnail = reader.thumbnailPath(file);
        QCOMPARE(QFileInfo(thumbnail).fileName(), QStringLiteral("again.png"));
        writeBytes(thumbnail, "mine");
        QCOMPARE(reader.readVideoInfo(file, 1).cover, thumbnail);
        QFile marker(thumbnail);
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray("mine"));
    }

    // Several threads read at once, the same video among them, each with its own result.
    void concurrentCalls()
    {
        QList<QPair<QString, double>> videos;
        for (int i = 0; i < 6; ++i) {
            const double seconds = 1 + i % 3;
            const QString file = path(QStringLiteral("many/v%1.%2").arg(i).arg(i % 2 ? "avi" : "mp4"));
            QVERIFY(MediaGen::makeVideo(file, seconds).isEmpty());
            videos.append({file, seconds});
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
        QByteArray garbage(50000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 13 + 5) % 249);
        QTest::newRow("garbage avi") << "garbage.avi" << garbage;
        QTest::newRow("garbage mp4") << "garbage.mp4" << garbage;
        QTest::newRow("empty mkv") << "empty.mkv" << QByteArray();
        QVERIFY(MediaGen::makeVideo(path("source.avi"), 2).isEmpty());
        QFile in(path("source.avi"));
        QVERIFY(in.open(QIODevice::ReadOnly));
        QTest::newRow("cut avi") << "cut.avi" << in.read(3000);
        QVERIFY(MediaGen::makeProtected(path("locked.mp4")).isEmpty());
        QFile locked(path("locked.mp4"));
        QVERIFY(locked.open(QIODevice::ReadOnly));
        QTest::newRow("protected mp4") << "locked.mp4" << locked.readAll();
    }

    // Broken videos give a zero length, no image and a log line, never a hang.
    void brokenVideo()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = path("broken/" + name);
        writeBytes(file, bytes);
        const track t = VideoMetadata().readVideoInfo(file, 1);
        QCOMPARE(t.duration, 0.0);
        QVERIFY(!QFile::exists(t.cover));
        QVERIFY(readLog().contains(file));
    }

    // Missing or hanging tools give a zero length and a log line within the time-out.
    void toolsFailing()
    {
        const QString file = path("tools.avi");
        QVERIFY(MediaGen::makeVideo(file, 1).isEmpty());
        const QString hanging = path("hanging-tool");
        writeBytes(hanging, "#!/bin/sh\nexec sleep 30\n");
        QFile::setPermissions(hanging, QFile::permissions(hanging) | QFileDevice::ExeOwner);
        for (const QString &tool : {path("no-such-tool"), hanging}) {
            qputenv("KIVO_FFPROBE", QFile::encodeName(tool));
            qputenv("KIVO_FFMPEG", QFile::encodeName(tool));
            VideoMetadata reader;
            reader.toolTimeoutMs = 500;
            QElapsedTimer clock;
            clock.start();
            const QString named = path(QStringLiteral("tools-%1.avi").arg(QFileInfo(tool).fileName()));
            QFile::copy(file, named);
            const track t = reader.readVideoInfo(named, 1);
            QVERIFY(clock.elapsed() < 10000);
            QCOMPARE(t.duration, 0.0);
            QVERIFY(!QFile::exists(t.cover));
            QVERIFY(readLog().contains(QStringLiteral("Thumbnail not made for ") + named));
        }
        qunsetenv("KIVO_FFPROBE");
        qunsetenv("KIVO_FFMPEG");
    }

    // Only the video stream's length counts; "N/A" is no length.
    void parsers()
    {
        QCOMPARE(VideoMetadata::parseStreamDuration("[STREAM]\ncodec_type=audio\nduration=9.5\n[/STREAM]\n"
                                                    "[STREAM]\ncodec_type=video\nduration=N/A\n[/STREAM]\n"),
            0.0);
        QCOMPARE(VideoMetadata::parseStreamDuration("codec_type=video\nDURATION=12.25\n"), 12.25);
        VideoMetadata reader;
        QCOMPARE(reader.parseDurationLine("  Duration: 00:03:25.12, start: 0.0"), 205.12);
        QCOMPARE(reader.parseDurationLine("  Duration: N/A, bitrate: N/A"), 0.0);
    }
};

KIVO_TEST_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
