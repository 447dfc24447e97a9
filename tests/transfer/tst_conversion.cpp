#include "apppaths.h"
#include "database.h"
#include "encodeprogress.h"
#include "ffmpeghandler.h"
#include "kivodb.h"
#include "mediagen.h"
#include "testenv.h"
#include "toolpaths.h"
#include "transcodenames.h"
#include "videoencoding.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>

// Conversion when media is added: audio the car cannot play, and videos for the head unit, with
// the real ffmpeg on generated media.
class TestConversion : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SystemInfo m_mp3System;
    Database m_database;

    QString media(const QString &name, const MediaVideo &video)
    {
        const QString path = m_dir.filePath(name);
        const QString error = MediaGen::makeVideo(path, video);
        if (!error.isEmpty())
            qFatal("%s", qPrintable(error));
        return path;
    }

    static track entry(qint64 id, const QString &path, bool video = false)
    {
        track t;
        t.id = id;
        t.originalPath = path;
        t.filepath = kivoDB::libraryRoot() + "/Album/" + QFileInfo(path).fileName();
        t.trackname = QFileInfo(path).completeBaseName();
        t.albumname = "Album";
        t.artistname = "Artist";
        t.isVideo = video;
        return t;
    }

    // "codec_name,width,height" of the first video stream, or of the first audio stream with
    // "channels,sample_rate".
    static QString probe(const QString &path, const QString &stream, const QString &entries)
    {
        QProcess p;
        p.start(platform::locateTool(platform::Tool::Ffprobe).path,
            {"-v", "error", "-select_streams", stream, "-show_entries", "stream=" + entries, "-of", "csv=p=0",
                path});
        p.waitForFinished(-1);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    struct Run {
        QList<track> complete;
        QList<track> setAside;
        int skipped = 0;
        QList<qint64> progress;
        int finished = 0;
    };

    static Run optimise(
        VideoEncoding &encoder, const TrackMap &queue, const std::function<void()> &whileRunning = {})
    {
        Run run;
        QObject guard;
        connect(
            &encoder, &VideoEncoding::onFileComplete, &guard, [&](const track &t) { run.complete << t; },
            Qt::DirectConnection);
        connect(
            &encoder, &VideoEncoding::onMultiChannelsFile, &guard, [&](const track &t) { run.setAside << t; },
            Qt::DirectConnection);
        connect(
            &encoder, &VideoEncoding::onSkipFile, &guard, [&] { ++run.skipped; }, Qt::DirectConnection);
        connect(
            &encoder, &VideoEncoding::onProgressChange, &guard,
            [&](const QString &, qint64, qint64 p) { run.progress << p; }, Qt::DirectConnection);
        connect(
            &encoder, &VideoEncoding::onAllFilesCompleate, &guard, [&] { ++run.finished; },
            Qt::DirectConnection);
        encoder.setArg(queue, transferDetail());
        encoder.start();
        if (whileRunning)
            whileRunning();
        encoder.wait();
        return run;
    }

private slots:
    void initTestCase()
    {
        initKivoResources();
        QFile xml(":resources/xml/systems.xml");
        QVERIFY(xml.open(QIODevice::ReadOnly) && readSystemInfo(&xml, "CMS-1100", &m_mp3System));
        QVERIFY(m_database.open(QStringLiteral("KivoData"), true) && m_database.initStructure());
    }

    // A WAV and a FLAC become mp3 files in the library's transcode folder and rows in the store;
    // an mp3 is left alone. Added again, the transcodes are reused and still finish the add.
    void libraryTranscoding()
    {
        MediaAudio audio;
        audio.tags = {{"title", "Song"}};
        const QString wav = m_dir.filePath("one.wav"), flac = m_dir.filePath("two.flac");
        const QString mp3 = m_dir.filePath("three.mp3");
        QVERIFY(MediaGen::makeAudio(wav, audio).isEmpty() && MediaGen::makeAudio(flac, audio).isEmpty()
            && MediaGen::makeAudio(mp3).isEmpty());
        TrackMap tracks;
        tracks.insert(4, entry(4, wav));
        tracks.insert(5, entry(5, flac));
        tracks.insert(6, entry(6, mp3));
        tracks.insert(7, entry(7, m_dir.filePath("missing.wav")));
        tracks[4].trackname = tracks[5].trackname = "Song";
        transferDetail detail;
        detail.systemInfo = m_mp3System;

        ffmpeghandler handler;
        QList<qint64> flags;
        connect(
            &handler, &ffmpeghandler::sgRemoveFile, this,
            [&](const QString &, qint64, qint64 flag) { flags << flag; }, Qt::DirectConnection);
        const QList<track> made = handler.transcodeTracks(tracks, detail);
        QCOMPARE(flags, QList<qint64>({3, 3}));
        QCOMPARE(made.size(), 2);
        const TrackMap stored = kivoDB().loadLibrary(QSqlDatabase());
        for (int i = 0; i < 2; ++i) {
            const track &t = made.at(i);
            QVERIFY(t.filepath.startsWith(kivoDB::libraryRoot() + "/Transcoded Media/Album/"));
            QVERIFY(t.filepath.endsWith(".mp3"));
            QCOMPARE(ffmpeghandler::probeCodec(t.filepath), QString("mp3"));
            QCOMPARE(t.codec, QString("mp3"));
            QCOMPARE(t.originalPath, tracks.value(i + 4).filepath);
            QCOMPARE(t.artistname, QString("Artist"));
            QVERIFY(stored.contains(t.id));
            QCOMPARE(stored.value(t.id).filepath, t.filepath);
        }
        QVERIFY(made.at(0).filepath != made.at(1).filepath);

        flags.clear();
        const QDateTime before = QFileInfo(made.at(0).filepath).lastModified();
        const QList<track> again = handler.transcodeTracks(tracks, detail);
        QCOMPARE(flags, QList<qint64>({2, 2}));
        QCOMPARE(again.size(), 2);
        QCOMPARE(again.at(0).filepath, made.at(0).filepath);
        QCOMPARE(QFileInfo(made.at(0).filepath).lastModified(), before);

        // Plain titles, marked only where two sources meet; a file no source was given is left
        // alone, and names too long for the file system are cut.
        QStringList names{
            QFileInfo(made.at(0).filepath).fileName(), QFileInfo(made.at(1).filepath).fileName()};
        names.sort();
        QCOMPARE(names, QStringList({"Song (2).mp3", "Song.mp3"}));
        const QString folder = kivoDB::libraryRoot() + "/Transcoded Media/Album/";
        QFile foreign(folder + "one.mp3");
        QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write("mine") == 4);
        foreign.close();
        tracks.remove(5);
        tracks[4].trackname = "one";
        tracks[6].originalPath = m_dir.filePath("long.flac");
        QVERIFY(MediaGen::makeAudio(tracks[6].originalPath).isEmpty());
        tracks[6].albumname = "A" + QString(100, QChar(0x97f3));
        tracks[6].trackname = QString(120, QChar(0x6f22));
        const QList<track> third = handler.transcodeTracks(tracks, detail);
        QCOMPARE(third.size(), 2);
        QCOMPARE(third.at(0).filepath, folder + "one (2).mp3");
        QCOMPARE(QFileInfo(third.at(1).filepath).absolutePath(),
            kivoDB::libraryRoot() + "/Transcoded Media/" + albumFolderName(tracks[6].albumname));
        QCOMPARE(QFileInfo(third.at(1).filepath).fileName(), QString(83, QChar(0x6f22)) + ".mp3");
        QCOMPARE(foreign.size(), 4);
    }

    // Large pictures fit into 1024 x 600 with the aspect kept and even sizes, as H.264 main with
    // stereo AAC at 44.1 kHz; a compatible MP4 is copied; a 6-channel video is set aside.
    void videoOptimiser()
    {
        MediaVideo wide;
        wide.size = QSize(1440, 1080);
        wide.seconds = 1;
        const QString big = media("big.avi", wide);
        wide.size = QSize(1280, 534);
        wide.channels = 2;
        const QString scope = media("scope.mkv", wide);
        MediaVideo small;
        small.videoCodec = "libx264";
        const QString fits = media("fits.mp4", small);
        small.channels = 6;
        const QString surround = media("surround.mp4", small);

        TrackMap queue;
        queue.insert(1000001, entry(1000001, big, true));
        queue.insert(1000002, entry(1000002, scope, true));
        queue.insert(1000003, entry(1000003, fits, true));
        queue.insert(1000004, entry(1000004, surround, true));
        queue.insert(1000005, entry(1000005, m_dir.filePath("gone.mp4"), true));
        VideoEncoding encoder;
        const Run run = optimise(encoder, queue);
        QCOMPARE(run.finished, 1);
        QCOMPARE(run.complete.size(), 3);
        QCOMPARE(run.setAside.size(), 1);
        QCOMPARE(run.setAside.first().id, 1000004);
        QCOMPARE(run.skipped, 1);

        QCOMPARE(run.complete.at(0).id, 1000001);
        const QString bigOut = run.complete.at(0).filepath;
        QCOMPARE(bigOut, kivoDB::libraryRoot() + "/Transcoded Media/Videos/big.mp4");
        QCOMPARE(probe(bigOut, "v:0", "codec_name,profile,width,height"), QString("h264,Main,800,600"));
        QCOMPARE(probe(bigOut, "a:0", "codec_name,sample_rate,channels"), QString("aac,44100,2"));
        const QStringList scopeSize = probe(run.complete.at(1).filepath, "v:0", "width,height").split(',');
        QCOMPARE(scopeSize.value(0), QString("1024"));
        QVERIFY(qAbs(scopeSize.value(1).toInt() - 427) <= 1 && scopeSize.value(1).toInt() % 2 == 0);
        QCOMPARE(run.complete.at(2).filesize, QFileInfo(fits).size());
        QCOMPARE(QFileInfo(run.complete.at(2).filepath).size(), QFileInfo(fits).size());
        QCOMPARE(QDir(kivoDB::libraryRoot() + "/Transcoded Media/Videos")
                     .entryList(QDir::Files | QDir::Hidden)
                     .size(),
            3);

        // The stream listing: a cover picture is no video stream.
        const VideoStreamInfo info = VideoEncoding::parseStreams(
            "[STREAM]\ncodec_name=h264\ncodec_type=video\n"
            "width=1024\nheight=576\nr_frame_rate=30000/1001\nduration=N/A\nnb_frames=N/A\n[/STREAM]\n"
            "[STREAM]\ncodec_name=aac\ncodec_type=audio\nchannels=2\n[/STREAM]\n[STREAM]\ncodec_name=mjpeg\n"
            "codec_type=video\nwidth=600\nheight=600\nDISPOSITION:attached_pic=1\n[/STREAM]\n");
        QCOMPARE(info.videoCodec, QString("h264"));
        QCOMPARE(info.frameRate, 29);
        QVERIFY(VideoEncoding::isCarCompatible(QFileInfo("x.MP4"), info));
        QVERIFY(!VideoEncoding::isCarCompatible(QFileInfo("x.m4v"), info));
    }

    // ffmpeg's output as it prints it: a header, then status lines ended by "\r", split anywhere.
    // A name whose owner cannot be recorded is not given: the next start would hand its file to
    // whichever source the record named last.
    void unrecordedNameIsNotGiven()
    {
        TestEnv env;
        const QString root = env.root() + "/Transcoded Media";
        QVERIFY(QDir().mkpath(root + "/.sources"));  // a folder: the record cannot be appended to
        QString error;
        QVERIFY(TranscodeNames::claim(root, "Album", "Title", "/music/b.mp3", &error).isEmpty());
        QVERIFY(!error.isEmpty());
        QVERIFY(QDir(root).rmdir(".sources"));
        QCOMPARE(TranscodeNames::claim(root, "Album", "Title", "/music/b.mp3"), root + "/Album/Title");
        QFile record(root + "/.sources");
        QVERIFY(record.open(QIODevice::ReadOnly));
        QCOMPARE(record.readAll(), QByteArray("Album%2FTitle\t%2Fmusic%2Fb.mp3\n"));
    }

    void progressParsing()
    {
        EncodeProgress progress;
        progress.startFile(2500, 5000);
        QVERIFY(!progress.feed("Input #0, avi, from 'a.avi':\n  Metadata:\n    creation_time   : 2026-01-01\n"
                               "  Duration: 00:01:40.00, start: 0.000000, bitrate: 1205 kb/s\n"));
        QCOMPARE(progress.durationText(), QString("00:01:40.00"));
        QVERIFY(!progress.feed("frame=  250 fps= 25 q=28.0 size=    1024kB time=00:00:1"));
        QVERIFY(progress.feed("0.00 bitrate= 838.9kbits/s speed=1.0x\r"));
        QCOMPARE(progress.status().percent, 10);
        QCOMPARE(progress.status().fileSecondsLeft, 90);
        QCOMPARE(progress.status().queueSecondsLeft, 190);
        // Several lines in one read: the last counts. No speed yet: no time left, and no division.
        progress.startFile(2500, 5000);
        QVERIFY(progress.feed(
            "  Duration: 00:01:40.00, start: 0.0\nframe=1 fps=0.0 q=0.0 size=0kB time=00:00:00.50 "
            "bitrate=N/A\rframe=  2 fps=0.0 q=0.0 size=0kB time=00:01:45.00 bitrate=N/A\r"));
        QCOMPARE(progress.status().percent, 100);
        QCOMPARE(progress.status().fileSecondsLeft, -1);
        progress.startFile(0, 0);
        QVERIFY(progress.feed("frame=9 fps=9.5 q=1 size=1kB time=00:00:01.00 bitrate=1\r"));
        QCOMPARE(progress.status().percent, -1);
        QCOMPARE(progress.status().fileSecondsLeft, 0);
    }

    // A cancel while ffmpeg encodes ends it at once: no output, no temporary file, no record.
    void cancelMidEncode()
    {
        MediaVideo longer;
        longer.size = QSize(1280, 720);
        longer.rate = 25;
        longer.seconds = 30;
        const QString path = media("long.avi", longer);
        TrackMap queue;
        queue.insert(1, entry(1, path, true));
        queue.insert(2, entry(2, path, true));
        VideoEncoding encoder;
        // Counted from the cancel: how long ffmpeg takes to begin is no part of it.
        QElapsedTimer clock;
        const QString folder = kivoDB::libraryRoot() + "/Transcoded Media/Videos";
        const Run run = optimise(encoder, queue, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(
                !QDir(folder).entryList({".kivo-*"}, QDir::Files | QDir::Hidden).isEmpty(), 60000);
            clock.start();
            encoder.onCanclePressed();
        });
        QVERIFY(clock.isValid());
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(run.finished, 1);
        QCOMPARE(run.complete.size(), 0);
        QVERIFY(run.progress.contains(-1));
        QVERIFY(QDir(folder).entryList({"*long*", ".kivo-*"}, QDir::Files | QDir::Hidden).isEmpty());
    }
};

KIVO_TEST_MAIN(TestConversion)
#include "tst_conversion.moc"
