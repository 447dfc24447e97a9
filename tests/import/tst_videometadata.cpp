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
        QVERIFY(!QFile::exists(videoArtwork()));
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

    // The length comes from TagLib or the tools; the thumbnail is one frame of the video.
    void lengthAndThumbnail()
    {
        QFETCH(QString, name);
        QFETCH(bool, withAudio);
        const QString file = path(name);
        const QString error = MediaGen::makeVideo(file, 2, withAudio);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        VideoMetadata reader;
        const track t = reader.readVideoInfo(file, 1);
        QVERIFY2(qAbs(t.duration - 2.0) < 0.2, qPrintable(QString::number(t.duration)));
        QCOMPARE(t.cover, videoArtwork() + "/" + QFileInfo(name).completeBaseName() + ".png");
        const QImage image(t.cover);
        QCOMPARE(image.size(), QSize(160, 120));
        QVERIFY(t.trackname.isNull() && t.id == 0);
        QVERIFY(QDir(videoArtwork()).entryList({".thumb-*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // Without the probe flag the tools are not asked for the length; the thumbnail still is made.
    void noProbe()
    {
        const QString file = path("noprobe.avi");
        QVERIFY(MediaGen::makeVideo(file, 1).isEmpty());
        VideoMetadata reader;
        const track t = reader.readVideoInfo(file, 0);
        QCOMPARE(t.duration, 0.0);
        QVERIFY(QFile::exists(t.cover));
    }

    // An existing thumbnail is reused, never remade.
    void thumbnailReused()
    {
        const QString file = path("again.mp4");
        QVERIFY(MediaGen::makeVideo(file, 1).isEmpty());
        VideoMetadata reader;
        const QString thumbnail = reader.thumbnailPath(file);
        QDir().mkpath(QFileInfo(thumbnail).absolutePath());
        {
            QFile marker(thumbnail);
            QVERIFY(marker.open(QIODevice::WriteOnly));
            marker.write("mine");
        }
        const track t = reader.readVideoInfo(file, 1);
        QCOMPARE(t.cover, thumbnail);
        QFile marker(thumbnail);
        QVERIFY(marker.open(QIODevice::ReadOnly));
        QCOMPARE(marker.readAll(), QByteArray("mine"));
    }

    void thumbnailName()
    {
        VideoMetadata reader;
        QCOMPARE(QFileInfo(reader.thumbnailPath("/x/clip.mp4.mp4")).fileName(), QStringLiteral("clip.png"));
        QCOMPARE(QFileInfo(reader.thumbnailPath("/x/Holiday.MP4")).fileName(), QStringLiteral("Holiday.png"));
        QCOMPARE(QFileInfo(reader.thumbnailPath("/x/Відео 映像.avi")).fileName(),
            QStringLiteral("Відео 映像.png"));
    }

    // Several threads read at once, each with its own processes and result.
    void concurrentCalls()
    {
        QList<QPair<QString, double>> videos;
        for (int i = 0; i < 6; ++i) {
            const double seconds = 1 + i % 3;
            const QString file = path(QStringLiteral("many/v%1.%2").arg(i).arg(i % 2 ? "avi" : "mp4"));
            QVERIFY(MediaGen::makeVideo(file, seconds).isEmpty());
            videos.append({file, seconds});
        }
        videos.append(videos.first());  // the same video twice at once
        VideoMetadata reader;
        QThreadPool pool;
        pool.setMaxThreadCount(7);
        const QList<track> results = QtConcurrent::blockingMapped(&pool, videos,
            [&reader](const QPair<QString, double> &v) { return reader.readVideoInfo(v.first, 1); });
        QCOMPARE(results.size(), videos.size());
        for (int i = 0; i < videos.size(); ++i) {
            QVERIFY2(
                qAbs(results.at(i).duration - videos.at(i).second) < 0.2, qPrintable(videos.at(i).first));
            QVERIFY(!QImage(results.at(i).cover).isNull());
        }
    }

    void protectedVideo()
    {
        const QString file = path("locked.mp4");
        QVERIFY(MediaGen::makeProtected(file).isEmpty());
        VideoMetadata reader;
        const track t = reader.readVideoInfo(file, 1);
        QCOMPARE(t.duration, 0.0);
        QCOMPARE(t.cover, reader.thumbnailPath(file));
    }

    // Broken videos give a zero length, no image and a log line, never a hang.
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
        const QString source = path("source.avi");
        QVERIFY(MediaGen::makeVideo(source, 2).isEmpty());
        QFile in(source);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QTest::newRow("cut avi") << "cut.avi" << in.read(3000);
    }

    void brokenVideo()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString file = path("broken/" + name);
        QDir().mkpath(path("broken"));
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        VideoMetadata reader;
        const track t = reader.readVideoInfo(file, 1);
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
        {
            QFile script(hanging);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nexec sleep 30\n");
        }
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

    void parsers()
    {
        const QByteArray probe = "[STREAM]\ncodec_type=audio\nduration=9.5\n[/STREAM]\n[STREAM]\n"
                                 "codec_type=video\nduration=N/A\n[/STREAM]\n";
        QCOMPARE(VideoMetadata::parseStreamDuration(probe), 0.0);
        QCOMPARE(VideoMetadata::parseStreamDuration("codec_type=video\nDURATION=12.25\n"), 12.25);
        QCOMPARE(VideoMetadata::parseStreamDuration(""), 0.0);
        VideoMetadata reader;
        QCOMPARE(reader.parseDurationLine("  Duration: 00:03:25.12, start: 0.0"), 205.12);
        QCOMPARE(reader.parseDurationLine("  Duration: N/A, bitrate: N/A"), 0.0);
        QCOMPARE(reader.parseDurationLine("nothing"), 0.0);
    }
};

KIVO_TEST_MAIN(TestVideoMetadata)
#include "tst_videometadata.moc"
