#include "childprocess.h"
#include "drivemessages.h"
#include "drivenames.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "mediagen.h"
#include "testenv.h"
#include "toolpaths.h"
#include "toolwatchdog.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QtConcurrent>

#include <numeric>
#include <random>
#include <signal.h>
#include <unistd.h>

// A transfer run against a folder target and a FAT image, with media made by the real ffmpeg.
class TestTransfer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;  // sources
    QString m_cover;  // a 500 x 300 cover image
    SystemInfo m_mp3System, m_aacSystem;

    QString source(const QString &name, const MediaAudio &audio = {})
    {
        const QString path = m_media + "/" + name;
        if (!QFile::exists(path)) {
            const QString error = MediaGen::makeAudio(path, audio);
            if (!error.isEmpty())
                qFatal("%s", qPrintable(error));
        }
        return path;
    }

    static MediaAudio tone(double seconds, int kbps = 0, const QMap<QString, QString> &tags = {})
    {
        MediaAudio audio;
        audio.seconds = seconds;
        audio.sampleRate = 44100;
        audio.channels = 2;
        audio.bitrateKbps = kbps;
        audio.tags = tags;
        return audio;
    }

    static track song(qint64 id, const QString &path, const QString &album, const QString &title = {},
        const QString &playlist = {}, const QString &cover = {})
    {
        track t;
        t.id = id;
        t.filepath = path;
        t.albumname = album;
        t.trackname = title;
        t.playlist = playlist;
        t.cover = cover;
        return t;
    }

    static TrackMap mapOf(const QList<track> &tracks)
    {
        TrackMap map;
        for (const track &t : tracks)
            map.insert(t.id, t);
        return map;
    }

    transferDetail detail(const QString &target, SystemInfo *system, qint64 space = 1LL << 40)
    {
        QDir().mkpath(target);
        transferDetail d;
        d.destination = target;
        d.availableSpace = space;
        if (system)
            d.systemInfo = *system;
        return d;
    }

    static QByteArray bytes(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Runs a transfer here, collecting its progress texts and failures.
    struct Outcome {
        TransferReport report;
        QStringList progress, failures;
        int finished = 0, diskFull = 0, removed = 0;
    };
    Outcome run(ffmpeghandler &handler, const TrackMap &tracks, const transferDetail &d)
    {
        Outcome out;
        QObject guard;
        connect(&handler, &ffmpeghandler::incrementProgress, &guard,
            [&](const QString &f) { out.progress << f; });
        connect(&handler, &ffmpeghandler::sgFileFailed, &guard,
            [&](const QString &f, const QString &) { out.failures << f; });
        connect(&handler, &ffmpeghandler::sgTransferFinished, &guard, [&] { ++out.finished; });
        connect(&handler, &ffmpeghandler::sgDiskFull, &guard, [&] { ++out.diskFull; });
        connect(&handler, &ffmpeghandler::sgDriveRemoved, &guard, [&] { ++out.removed; });
        out.report = handler.transferTracks(tracks, d);
        return out;
    }

    // ffmpeg wrapped by a script that logs each call and fails every encode with `failingEncoder`.
    QString ffmpegStub(const QString &failingEncoder)
    {
        const QString path = m_dir.filePath("ffmpeg-" + failingEncoder + ".sh");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(QString(
            "#!/bin/sh\necho \"$*\" >> %1/ffmpeg.log\ncase \" $* \" in *\" -acodec %2 \"*) exit 1;; esac\n"
            "exec %3 \"$@\"\n")
                       .arg(m_dir.path(), failingEncoder, platform::locateTool(platform::Tool::Ffmpeg).path)
                       .toUtf8());
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        return path;
    }

private slots:
    void initTestCase()
    {
        m_media = m_dir.filePath("media");
        m_cover = m_dir.filePath("cover.png");
        QDir().mkpath(m_media);
        QImage(500, 300, QImage::Format_RGB32).save(m_cover);
        initKivoResources();
        QFile xml(":resources/xml/systems.xml");
        QVERIFY(xml.open(QIODevice::ReadOnly) && readSystemInfo(&xml, "CMS-1100", &m_mp3System));
        xml.seek(0);
        QVERIFY(readSystemInfo(&xml, "CMS-2200", &m_aacSystem));
        m_mp3System.vehicle = m_aacSystem.vehicle = "Example";
    }

    void probesAndCodecList()
    {
        const QString mp3 = source("probe.mp3", tone(2.0, 256));
        const QString flac = source("probe.flac");
        QCOMPARE(ffmpeghandler::probeCodec(mp3), QString("mp3"));
        QCOMPARE(ffmpeghandler::probeCodec(flac), QString("flac"));
        QCOMPARE(ffmpeghandler::audioCodecOf(flac), QString("flac"));
        QCOMPARE(ffmpeghandler::probeCodec(m_cover + ".missing"), QString());
        QVERIFY(qAbs(ffmpeghandler::readAudioBitrate(mp3) - 256) < 5);
        QCOMPARE(ffmpeghandler::readAudioBitrate(m_cover), 0);

        QStringList pairs;
        for (const AudioCodec &c : ffmpeghandler::loadSystemInfo("CMS-2200"))
            pairs << QString::fromStdString(c.name + "/" + c.extension);
        QCOMPARE(pairs,
            QStringList({"mp3/mp3", "mp3/mp3", "aac/m4a", "aac/m4b", "aac/mp4", "aac/aac", "wmav2/wma"}));
        QCOMPARE(ffmpeghandler::loadSystemInfo("cms-2200").size(), 1);
    }

    // Albums, playlists (left and come back to), videos, album art, names FAT refuses, missing
    // sources and a transcode, in one run.
    void layoutAndPlaylists()
    {
        const QString mp3 = source("a.mp3"), flac = source("b.flac", tone(1.0, 0, {{"title", "B"}}));
        const QString oddName = m_media + "/Why? \"é\".mp3";
        QFile::copy(mp3, oddName);
        QVERIFY(MediaGen::makeVideo(m_media + "/clip.mp4").isEmpty());
        const QList<track> tracks = {song(1, mp3, "Greatest Hits Vol. 1", "A", {}, m_cover),
            song(2, flac, "Greatest Hits Vol. 1", "Song: Two?"), song(3, m_media + "/clip.mp4", "x"),
            song(4, mp3, "x", "A", "Road Trip"), song(5, mp3, "x", "A", "Mix.2"),
            song(6, oddName, "x", "O", "Road Trip"), song(7, mp3, "Unknown Album", "A", {}, m_cover),
            song(8, m_media + "/gone.mp3", "x", "G", "Road Trip"), song(9, mp3, "Ünïcødé 日本 <1>", "A"),
            song(10, flac, "...", "Song: Two?")};
        TrackMap map = mapOf(tracks);
        map[3].isVideo = true;

        ffmpeghandler handler;
        const QString out = m_dir.filePath("out");
        const Outcome o = run(handler, map, detail(out, &m_mp3System));
        const QString root = out + "/Example Media/";
        // Folders by name, each whole: an album's files by name where they have no numbers, a
        // playlist's in its own order.
        QCOMPARE(o.progress,
            QStringList({"Copying a.mp3", "Copying Song Two.mp3", "Copying a.mp3", "Copying a.mp3",
                "Copying Why é.mp3", "Skip File gone.mp3", "Copying a.mp3", "Copying a.mp3",
                "Copying Song Two.mp3", "Copying clip.mp4"}));
        QCOMPARE(o.failures, QStringList{"gone.mp3"});
        QCOMPARE(o.finished, 1);
        QCOMPARE(o.report.stop, TransferReport::Completed);
        QCOMPARE(o.report.transcoded, 2);
        QCOMPARE(bytes(root + "Greatest Hits Vol 1/a.mp3"), bytes(mp3));
        QCOMPARE(ffmpeghandler::probeCodec(root + "Greatest Hits Vol 1/Song Two.mp3"), QString("mp3"));
        QVERIFY(QFile::exists(root + "Unknown Album/Song Two.mp3"));
        QCOMPARE(QImage(root + "Greatest Hits Vol 1/Folder.png").size(), QSize(110, 66));
        QVERIFY(!QFile::exists(root + "Unknown Album/Folder.png"));
        QVERIFY(QFile::exists(root + "Videos/clip.mp4"));
        QVERIFY(QFile::exists(root + QString("Ünïcødé 日本 1/a.mp3")));
        QCOMPARE(bytes(root + "Road Trip.m3u"),
            QString("#EXTM3U:\r\n#EXTINF:\r\nRoad Trip/a.mp3\r\n#EXTINF:\r\nRoad Trip/Why é.mp3\r\n")
                .toUtf8());
        QCOMPARE(bytes(root + "Mix.2.m3u"), QByteArray("#EXTM3U:\r\n#EXTINF:\r\nMix2/a.mp3\r\n"));
        // A second run begins each playlist afresh and reuses the transcode.
        QFile::remove(m_dir.filePath("ffmpeg.log"));
        qputenv("KIVO_FFMPEG", ffmpegStub("none").toUtf8());
        run(handler, map, detail(out, &m_mp3System));
        qunsetenv("KIVO_FFMPEG");
        QVERIFY(!QFile::exists(m_dir.filePath("ffmpeg.log")));
        QCOMPARE(bytes(root + "Mix.2.m3u"), QByteArray("#EXTM3U:\r\n#EXTINF:\r\nMix2/a.mp3\r\n"));
        QVERIFY(QDir(root + "Greatest Hits Vol 1")
                    .entryList(QDir::Hidden | QDir::Files)
                    .filter(".kivo")
                    .isEmpty());
    }

    void overwriteOptions_data()
    {
        QTest::addColumn<int>("option");  // 0 none, 1 all, 2 higher quality, 3 newer
        QTest::addColumn<int>("onDrive");  // bit rate of the file already there
        QTest::addColumn<bool>("replaced");
        QTest::newRow("none keeps") << 0 << 128 << false;
        QTest::newRow("all replaces") << 1 << 320 << true;
        QTest::newRow("lower rate replaced") << 2 << 128 << true;
        QTest::newRow("higher rate kept") << 2 << 320 << false;
        QTest::newRow("older source kept") << 3 << 128 << false;
    }
    void overwriteOptions()
    {
        QFETCH(int, option);
        QFETCH(int, onDrive);
        QFETCH(bool, replaced);
        const QString src = source("hq.mp3", tone(1.0, 256));
        const QString old = source(QString("old%1.mp3").arg(onDrive), tone(1.5, onDrive));
        const QString out = m_dir.filePath(QString("ow%1").arg(QTest::currentDataTag())),
                      folder = out + "/Example Media/P";
        QDir().mkpath(folder);
        QFile::copy(old, folder + "/hq.mp3");
        transferDetail d = detail(out, &m_mp3System);
        d.overwriteall = option == 1;
        d.overwritequality = option == 2;
        d.overwritenewer = option == 3;
        ffmpeghandler handler;
        const Outcome o = run(handler, mapOf({song(1, src, "Al", "T", "P")}), d);
        QCOMPARE(bytes(folder + "/hq.mp3"), bytes(replaced ? src : old));
        QCOMPARE(o.progress, QStringList{"Copying hq.mp3"});
        QCOMPARE(bytes(out + "/Example Media/P.m3u"), QByteArray("#EXTM3U:\r\n#EXTINF:\r\nP/hq.mp3\r\n"));
        QCOMPARE(o.report.kept, replaced ? 0 : 1);
    }

    // A second run onto what the first left, with each overwrite option: every file is counted
    // once, as copied, converted, kept, replaced or failed, and the end message says so.
    void secondRunCounts_data()
    {
        QTest::addColumn<int>("option");  // 0 none, 1 all, 2 higher quality, 3 newer
        QTest::addColumn<QList<int>>("counts");  // copied, converted, kept, replaced
        QTest::newRow("never") << 0 << QList<int>{0, 0, 3, 0};
        QTest::newRow("all") << 1 << QList<int>{0, 0, 0, 3};
        QTest::newRow("higher quality") << 2 << QList<int>{0, 0, 2, 1};
        QTest::newRow("newer") << 3 << QList<int>{0, 0, 2, 1};
    }
    void secondRunCounts()
    {
        QFETCH(int, option);
        QFETCH(QList<int>, counts);
        const QString hq = source("hq.mp3", tone(1.0, 256)), other = source("other.mp3", tone(1.2, 192));
        const QString lossless = source("lossless.flac", tone(1.0)), low = source("low.mp3", tone(1.0, 128));
        const TrackMap map = mapOf({song(1, hq, "Al"), song(2, other, "Al"), song(3, lossless, "Al", "Free"),
            song(4, m_media + "/gone.mp3", "Al")});
        const QString out = m_dir.filePath(QString("second-%1").arg(option)),
                      folder = out + "/Example Media/Al";
        ffmpeghandler handler;
        Outcome o = run(handler, map, detail(out, &m_mp3System));
        QCOMPARE(QList<int>({o.report.copied, o.report.transcoded, o.report.kept, o.report.replaced}),
            QList<int>({3, 1, 0, 0}));
        QCOMPARE(DriveMessages().endOfTransfer(o.report, 4, "/data/debug.log"),
            QString("Transfer complete: 4 files — 2 copied, 1 converted, 0 kept (already on the drive), 0 "
                    "replaced; 1 failed.\n\nThese files could not be transferred:\ngone.mp3: the file is no "
                    "longer there\nSee the log: /data/debug.log"));

        // What each option is to act on: a poorer copy on the drive, or one older than its source.
        if (option == 2)
            QVERIFY(QFile::remove(folder + "/hq.mp3") && QFile::copy(low, folder + "/hq.mp3"));
        if (option == 3) {
            QFile onDrive(folder + "/hq.mp3");
            QVERIFY(onDrive.open(QIODevice::ReadWrite)
                && onDrive.setFileTime(
                    QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        }
        transferDetail d = detail(out, &m_mp3System);
        d.overwriteall = option == 1;
        d.overwritequality = option == 2;
        d.overwritenewer = option == 3;
        o = run(handler, map, d);
        const int plain = o.report.copied - o.report.transcoded - o.report.replaced;
        QCOMPARE(QList<int>({plain, o.report.transcoded, o.report.kept, o.report.replaced}), counts);
        QCOMPARE(o.report.failures.size(), 1);
        QCOMPARE(o.report.stop, TransferReport::Completed);
        QCOMPARE(bytes(folder + "/hq.mp3"), bytes(hq));
        QVERIFY(
            DriveMessages()
                .endOfTransfer(o.report, 4, "/l")
                .startsWith(QString("Transfer complete: 4 files — 0 copied, 0 converted, %1 kept (already on "
                                    "the drive), %2 replaced; 1 failed.")
                                .arg(counts[2])
                                .arg(counts[3])));
    }

    // A target that takes no writes says so at once; a chosen folder deleted mid-run is not made
    // again. Both tell how many files were written.
    void readOnlyAndVanished()
    {
        const QString a = source("a.mp3");
        const TrackMap map = mapOf({song(1, a, "A"), song(2, a, "B"), song(3, a, "C")});
        ffmpeghandler handler;
        const QString locked = m_dir.filePath("locked");
        QDir().mkpath(locked);
        const bool mounted = getuid() == 0
            && QProcess::execute("mount", {"-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", locked}) == 0;
        if (!mounted)
            QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (mounted || getuid() != 0) {
            const Outcome o = run(handler, map, detail(locked, &m_mp3System));
            if (mounted)
                QProcess::execute("umount", {locked});
            QCOMPARE(o.report.stop, TransferReport::ReadOnly);
            QCOMPARE(o.report.copied, 0);
            QCOMPARE(o.progress.size(), 0);
            const QString text = DriveMessages().endOfTransfer(o.report, 3, "/l");
            QVERIFY2(text.startsWith(locked + " cannot be written (")
                    && text.contains("0 of 3 files were written"),
                qPrintable(text));
        }

        // The chosen folder goes after the first file.
        const QString out = m_dir.filePath("vanishing");
        QObject guard;
        connect(
            &handler, &ffmpeghandler::incrementProgress, &guard, [out] { QDir(out).removeRecursively(); });
        transferDetail d = detail(out, &m_mp3System);
        d.ignoreSpaceLimit = true;
        Outcome o = run(handler, map, d);
        QCOMPARE(o.report.stop, TransferReport::FolderGone);
        QCOMPARE(o.report.copied, 1);
        QVERIFY(!QFileInfo::exists(out));
        QCOMPARE(DriveMessages().endOfTransfer(o.report, 3, "/l").section('\n', 0, 0),
            QString("The folder %1 disappeared; 1 of 3 files were written.").arg(out));

        // Only the media folder goes; the drive stays.
        QObject::disconnect(&handler, nullptr, &guard, nullptr);
        connect(&handler, &ffmpeghandler::incrementProgress, &guard,
            [out] { QDir(out + "/Example Media").removeRecursively(); });
        o = run(handler, map, detail(out, &m_mp3System));
        QCOMPARE(o.report.stop, TransferReport::FolderGone);
        QCOMPARE(o.report.stopPath, out + "/Example Media");
        QVERIFY(!QFileInfo::exists(out + "/Example Media"));
    }

    // A file exactly as large as the room left does not fit: the run stops there.
    void spaceRule()
    {
        const QString a = source("a.mp3"), b = source("b.flac");
        const qint64 size = QFileInfo(a).size();
        ffmpeghandler handler;
        const QString out = m_dir.filePath("space");
        Outcome o
            = run(handler, mapOf({song(1, a, "S"), song(2, a, "T")}), detail(out, &m_mp3System, 2 * size));
        QCOMPARE(o.progress, QStringList{"Copying a.mp3"});
        QCOMPARE(o.diskFull, 1);
        QCOMPARE(o.report.stop, TransferReport::DiskFull);
        QVERIFY(!QFile::exists(out + "/Example Media/T/a.mp3"));
        o = run(handler, mapOf({song(1, a, "S2"), song(2, a, "T2"), song(3, b, "U")}),
            detail(out, &m_mp3System, 2 * size + 1));
        QCOMPARE(o.progress.size(), 2);
        QCOMPARE(o.diskFull, 1);
    }

    // The system's codec first; the others in turn when ffmpeg fails; a file none can make is
    // skipped and the run goes on. Same titles never share a transcode.
    void transcodeAndFallback()
    {
        const QString one = source("t1.flac", tone(1.0, 0, {{"title", "Same"}, {"artist", "Ärtist"}}));
        const QString two = source("t2.flac", tone(2.0, 0, {{"title", "Same"}}));
        const QString mp3 = source("a.mp3");
        const TrackMap map
            = mapOf({song(1, one, "Al", "Same"), song(2, two, "Al", "Same"), song(3, mp3, "Al")});
        ffmpeghandler handler;
        QString root = m_dir.filePath("aac") + "/Example Media/Al/";
        Outcome o = run(handler, map, detail(m_dir.filePath("aac"), &m_aacSystem));
        QCOMPARE(o.progress, QStringList({"Copying a.mp3", "Copying Same.m4a", "Copying Same (2).m4a"}));
        QCOMPARE(ffmpeghandler::probeCodec(root + "Same.m4a"), QString("aac"));
        QVERIFY(bytes(root + "Same.m4a") != bytes(root + "Same (2).m4a"));
        QProcess probe;
        probe.start(platform::locateTool(platform::Tool::Ffprobe).path,
            {"-v", "error", "-show_entries", "format_tags=artist", "-of", "csv=p=0", root + "Same.m4a"});
        QVERIFY(probe.waitForFinished(-1));
        QCOMPARE(probe.readAllStandardOutput().trimmed(), QString("Ärtist").toUtf8());

        // A source newer than its transcode is converted again; aac fails, so mp3 follows.
        QFile touched(one);
        QVERIFY(touched.open(QIODevice::ReadWrite)
            && touched.setFileTime(
                QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        touched.close();
        qputenv("KIVO_FFMPEG", ffmpegStub("aac").toUtf8());
        root = m_dir.filePath("fallback") + "/Example Media/Al/";
        o = run(handler, map, detail(m_dir.filePath("fallback"), &m_aacSystem));
        QCOMPARE(o.progress, QStringList({"Copying a.mp3", "Copying Same.mp3", "Copying Same.m4a"}));
        QCOMPARE(ffmpeghandler::probeCodec(root + "Same.mp3"), QString("mp3"));

        qputenv("KIVO_FFMPEG", ffmpegStub("libmp3lame").toUtf8());
        o = run(handler, mapOf({song(1, source("t3.ogg"), "Al", "Ogg"), song(2, mp3, "Al")}),
            detail(m_dir.filePath("none"), &m_aacSystem));
        qunsetenv("KIVO_FFMPEG");
        QCOMPARE(o.progress, QStringList({"Copying a.mp3", "Skip File t3.ogg"}));
        QCOMPARE(o.diskFull, 0);
        QCOMPARE(o.report.failures.size(), 1);
        QVERIFY(
            QDir(m_dir.filePath("none") + "/Example Media/Al").entryList(QDir::Hidden | QDir::Files).size()
            == 1);
    }

    // ffmpeg that never answers on one file: that file fails naming it, the others arrive. Hanging
    // twice sets ffmpeg aside for the rest of the run, and no hung child is left behind.
    void hungFfmpegFailsOnlyItsFile()
    {
        const QString a = source("w1.flac"), hang = source("zzhang1.flac"), b = source("w2.flac");
        const QString hang2 = source("zzhang2.flac"), hang3 = source("zzhang3.flac"),
                      hang4 = source("zzhang4.flac");
        const QString path = m_dir.filePath("ffmpeg-hangs.sh");
        QFile stub(path);
        QVERIFY(stub.open(QIODevice::WriteOnly));
        stub.write(
            QString("#!/bin/sh\necho \"$*\" >> %1/hang.log\ncase \"$*\" in *zzhang*) exec sleep 300;; esac\n"
                    "exec %2 \"$@\"\n")
                .arg(m_dir.path(), platform::locateTool(platform::Tool::Ffmpeg).path)
                .toUtf8());
        stub.close();
        stub.setPermissions(stub.permissions() | QFileDevice::ExeOwner);
        qputenv("KIVO_FFMPEG", QFile::encodeName(path));
        // The cap holds for the real ffmpeg on the healthy files too, which may start slowly on
        // a busy machine; the hung one stays quiet far longer than the cap.
        platform::ToolWatchdog::setLimitCeiling(8000);
        ffmpeghandler handler;
        handler.parallelJobs = 1;
        Outcome o = run(handler,
            mapOf({song(1, a, "W", "One"), song(2, hang, "W", "Hang"), song(3, b, "W", "Two")}),
            detail(m_dir.filePath("hang"), &m_mp3System));
        const QString root = m_dir.filePath("hang") + "/Example Media/W/";
        QCOMPARE(o.report.stop, TransferReport::Completed);
        QVERIFY(QFileInfo(root + "One.mp3").size() > 0 && QFileInfo(root + "Two.mp3").size() > 0);
        QCOMPARE(o.failures, QStringList{"zzhang1.flac"});
        QCOMPARE(o.report.failures.size(), 1);
        QVERIFY2(o.report.failures.first().contains("ffmpeg stopped responding on zzhang1.flac"),
            qPrintable(o.report.failures.first()));

        // Two hangs set ffmpeg aside for the rest of the run, told once. At most two transcodes run
        // at once here, so the fourth file begins after two hangs and is not tried.
        QFile::remove(m_dir.filePath("hang.log"));
        o = run(handler,
            mapOf({song(1, hang, "W", "Hang"), song(2, hang2, "W", "Hang2"), song(3, hang3, "W", "Hang3"),
                song(4, hang4, "W", "Hang4")}),
            detail(m_dir.filePath("hang2"), &m_mp3System));
        platform::ToolWatchdog::setLimitCeiling(0);
        qunsetenv("KIVO_FFMPEG");
        QCOMPARE(o.failures, QStringList({"zzhang1.flac", "zzhang2.flac", "zzhang3.flac", "zzhang4.flac"}));
        QCOMPARE(o.report.failures.filter("not tried again").size(), 1);
        QVERIFY(o.report.failures.last().contains("set aside"));
        QVERIFY(bytes(m_dir.filePath("hang.log")).count('\n') <= 3);
        QCOMPARE(platform::runningChildCount(), 0);
    }

    // Names longer than a file system holds: a 301-byte album, a 360-byte title converted, a
    // 300-character playlist, into a folder (bytes counted) and as FAT counts them.
    void longNames()
    {
        const QString album = "A" + QString(100, QChar(0x97f3)), title = QString(120, QChar(0x6f22));
        const QString playlist = QString(300, 'P');
        const QString flac = source("long.flac", tone(1.0, 0, {{"title", title}}));
        const QString mp3 = source("a.mp3");
        ffmpeghandler handler;
        const QString out = m_dir.filePath("long");
        const Outcome o = run(handler,
            mapOf({song(1, flac, album, title), song(2, mp3, album, "A"), song(3, mp3, "x", "A", playlist)}),
            detail(out, &m_mp3System));
        QCOMPARE(o.report.failures, QStringList());
        QCOMPARE(o.report.transcoded, 1);
        const QString root = out + "/Example Media/";
        const QString folder = root + driveFolderName(album, NameUnits::Utf8Bytes);
        QVERIFY(folder.toUtf8().size() - root.toUtf8().size() <= 255);
        QVERIFY(QFile::exists(folder + "/a.mp3"));
        const QStringList made = QDir(folder).entryList({"*.mp3"});
        QCOMPARE(made.size(), 2);
        const QString converted = made.filter(QChar(0x6f22)).value(0);
        QVERIFY(converted.endsWith(".mp3") && converted.toUtf8().size() <= 255);
        QCOMPARE(ffmpeghandler::probeCodec(folder + "/" + converted), QString("mp3"));
        QVERIFY(QFile::exists(root + drivePlaylistFileName(playlist, NameUnits::Utf8Bytes)));

        // FAT counts UTF-16 units; a cut never leaves a dot FAT would drop.
        QCOMPARE(driveFolderName(album), album);
        const QString m3u = drivePlaylistFileName(playlist);
        QVERIFY(m3u.size() == 255 && m3u.startsWith(QString(242, 'P') + " ") && m3u.endsWith(".m3u"));
        QVERIFY(m3u != drivePlaylistFileName(playlist + "Q"));
        QCOMPARE(fatSafeName(QString(254, 'a') + "." + QString(20, 'b'), "x"), QString(254, 'a'));
        QCOMPARE(fatSafeName(QString(250, 'a') + QString(" .").repeated(9) + ".mp3", "x"),
            QString(250, 'a') + ".mp3");
    }

    // A stop before the run starts is kept; one mid-run ends it after the file in hand; a request
    // made after a stop is not stopped by it. A vanished target ends the run.
    void stopAndRemoval()
    {
        const QString a = source("a.mp3");
        const TrackMap map = mapOf({song(1, a, "A"), song(2, a, "B"), song(3, a, "C")});
        ffmpeghandler handler;
        const transferDetail early = detail(m_dir.filePath("stop1"), &m_mp3System);
        ffmpeghandler::cancelTransfer(early);
        Outcome o = run(handler, map, early);
        QCOMPARE(o.progress.size(), 0);
        QCOMPARE(o.report.stop, TransferReport::Cancelled);
        QCOMPARE(o.finished, 1);

        QObject guard;
        const transferDetail later = detail(m_dir.filePath("stop2"), &m_mp3System);
        connect(&handler, &ffmpeghandler::incrementProgress, &guard,
            [later] { ffmpeghandler::cancelTransfer(later); });
        o = run(handler, map, later);
        QCOMPARE(o.progress.size(), 1);
        QCOMPARE(o.report.stop, TransferReport::Cancelled);

        const QString out = m_dir.filePath("gone");
        QObject::disconnect(&handler, nullptr, &guard, nullptr);
        connect(
            &handler, &ffmpeghandler::incrementProgress, &guard, [out] { QDir(out).removeRecursively(); });
        o = run(handler, map, detail(out, &m_mp3System));
        QCOMPARE(o.progress.size(), 1);
        QCOMPARE(o.removed, 1);
        QCOMPARE(o.report.stop, TransferReport::DriveRemoved);
    }

    // A stop after the first entry of a playlist of four: the earlier file stays byte for byte,
    // and nothing is left under a temporary name.
    void stoppedRunKeepsPlaylist()
    {
        const QString a = source("a.mp3");
        TrackMap map;
        for (int i = 1; i <= 4; ++i) {
            const QString path = m_media + QString("/stop%1.mp3").arg(i);
            QFile::copy(a, path);
            map.insert(i, song(i, path, "x", "S", "Four"));
        }
        ffmpeghandler handler;
        const QString out = m_dir.filePath("stopm3u"), file = out + "/Example Media/Four.m3u";
        run(handler, map, detail(out, &m_mp3System));
        const QByteArray whole = bytes(file);
        QCOMPARE(whole.count("#EXTINF:\r\n"), 4);
        QObject guard;
        transferDetail again = detail(out, &m_mp3System);
        again.overwriteall = true;
        connect(&handler, &ffmpeghandler::incrementProgress, &guard,
            [again] { ffmpeghandler::cancelTransfer(again); });
        const Outcome o = run(handler, map, again);
        QCOMPARE(o.progress.size(), 1);
        QCOMPARE(o.report.stop, TransferReport::Cancelled);
        QCOMPARE(bytes(file), whole);
        QVERIFY(QDir(out + "/Example Media").entryList(QDir::Hidden | QDir::Files).filter(".kivo").isEmpty());
        // A run that brings none of its files leaves the file as it was too.
        QObject::disconnect(&handler, nullptr, &guard, nullptr);
        run(handler, mapOf({song(1, m_media + "/gone.mp3", "x", "G", "Four")}), detail(out, &m_mp3System));
        QCOMPARE(bytes(file), whole);
    }

    // A playlist on a real FAT driver: its file read back with mtools names files that are on the
    // image, relative to the file, also after names lost FAT's forbidden characters, and again
    // after a second run under each overwrite option. fusefat refuses names outside ASCII, so
    // such an entry is left out of the file rather than naming nothing.
    void playlistOnFat()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("pl.img"), mount = m_dir.filePath("plmnt");
        QVERIFY(fatimage::make(image, "8M", {"-F", "16", "-s", "1", "-S", "512", "-n", "CAR"}));
        const QString a = source("a.mp3"), flac = source("b.flac", tone(1.0, 0, {{"title", "B: side?"}}));
        const QString odd = m_media + "/Why? \"q\".mp3", accent = m_media + "/é.mp3";
        QFile::copy(a, odd);
        QFile::copy(a, accent);
        const TrackMap map = mapOf({song(1, a, "Alb", "A"), song(2, a, "x", "A", "Road: Trip*"),
            song(3, odd, "x", "Q", "Road: Trip*"), song(4, accent, "x", "E", "Road: Trip*"),
            song(5, flac, "x", "B: side?", "Road: Trip*")});
        const QString expected
            = "#EXTM3U:\r\n#EXTINF:\r\nRoad Trip/a.mp3\r\n#EXTINF:\r\nRoad Trip/Why q.mp3\r\n"
              "#EXTINF:\r\nRoad Trip/B side.mp3\r\n";
        for (int option = 0; option < 4; ++option) {
            QVERIFY(fatimage::mount(image, mount));
            transferDetail d = detail(mount, &m_mp3System, 6 << 20);
            d.overwriteall = option == 1;
            d.overwritenewer = option == 2;
            d.overwritequality = option == 3;
            ffmpeghandler handler;
            const Outcome o = run(handler, map, d);
            fatimage::unmount(mount);
            QCOMPARE(o.report.stop, TransferReport::Completed);
            QCOMPARE(o.failures, QStringList{"é.mp3"});
            QProcess dir;
            dir.start("mdir", {"-i", image, "-/", "-a", "-b", "::"});
            QVERIFY(dir.waitForFinished(-1));
            const QStringList entries
                = QString::fromUtf8(dir.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
            QVERIFY2(entries.filter(".kivo").isEmpty(), qPrintable(entries.join(' ')));
            const QString m3u = QString("::/Example Media/%1.m3u").arg(drivePlaylistName("Road: Trip*"));
            QVERIFY2(entries.contains(m3u), qPrintable(entries.join(' ')));
            QProcess type;
            type.start("mtype", {"-i", image, m3u});
            QVERIFY(type.waitForFinished(-1));
            const QByteArray text = type.readAllStandardOutput();
            QCOMPARE(QString::fromUtf8(text), expected);
            for (const QByteArray &line : text.split('\n')) {
                const QString entry = QString::fromUtf8(line).trimmed();
                if (!entry.isEmpty() && !entry.startsWith('#'))
                    QVERIFY2(entries.contains("::/Example Media/" + entry), qPrintable(entry));
            }
        }
    }

    // Through a real FAT driver, with the free space a drive list would give: names FAT refuses
    // (fusefat refuses any name outside ASCII), a file over 4 GiB, then the drive filling up.
    void fatImage()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("fat.img"), mount = m_dir.filePath("mnt");
        QVERIFY(fatimage::make(image, "4M", {"-F", "16", "-s", "1", "-S", "512", "-n", "CAR"}));
        // Removed files go at once: libfuse's stand-in name for a file still being closed needs a
        // directory entry that fusefat cannot always make on a full volume.
        QVERIFY(fatimage::mount(image, mount, {"-s", "-o", "rw+,hard_remove"}));
        const QString big = m_media + "/big.mp4";
        QFile sparse(big);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize((1LL << 32) + 1));
        sparse.close();
        const QString a = source("fat.mp3", tone(20.0, 192)), b = source("fat2.mp3", tone(20.0, 192));
        // Two albums of two files: each folder is made once and both files land in it.
        TrackMap map = mapOf({song(0, a, QString(300, 'L')), song(1, a, "A:B*?"), song(2, big, "V"),
            song(3, a, "Ünï"), song(4, b, "A:B*?"), song(5, a, "Two"), song(6, b, "Two")});
        map[2].isVideo = true;
        for (int i = 7; i < 17; ++i)
            map.insert(i, song(i, a, QString("Zfill %1").arg(i)));
        ffmpeghandler handler;
        const Outcome o = run(handler, map, detail(mount, &m_mp3System, 8095 * 512));
        fatimage::unmount(mount);
        QCOMPARE(o.report.stop, TransferReport::DiskFull);
        QCOMPARE(o.diskFull, 1);
        QCOMPARE(o.progress.mid(0, 7),
            QStringList({"Copying fat.mp3", "Copying fat2.mp3", "Copying fat.mp3", "Copying fat.mp3",
                "Copying fat2.mp3", "Skip File fat.mp3", "Skip File big.mp4"}));
        // fusefat refuses the folder "Ünï": the message names the folder, not the file.
        QVERIFY2(o.report.failures.filter("does not accept the folder name \"Ünï\"").size() == 1,
            qPrintable(o.report.failures.join('\n')));
        QProcess fsck;
        fsck.start("fsck.fat", {"-n", image});
        QVERIFY(fsck.waitForFinished(-1));
        QVERIFY2(fsck.exitCode() == 0, fsck.readAllStandardOutput().constData());
        // Every file on the image is complete and none is left under a temporary name.
        QProcess dir;
        dir.start("mdir", {"-i", image, "-/", "-a", "-b", "::"});
        QVERIFY(dir.waitForFinished(-1));
        const QStringList entries
            = QString::fromUtf8(dir.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(entries.filter(".kivo").isEmpty(), qPrintable(entries.join(' ')));
        QVERIFY(entries.contains("::/Example Media/" + driveFolderName(QString(300, 'L')) + "/fat.mp3"));
        QCOMPARE(driveFolderName(QString(300, 'L')).size(), 255);
        for (const char *file : {"AB/fat.mp3", "AB/fat2.mp3", "Two/fat.mp3", "Two/fat2.mp3"})
            QVERIFY2(entries.contains(QString("::/Example Media/") + file), file);
        QCOMPARE(entries.filter(".mp3").size(), o.report.copied);
        QCOMPARE(o.report.copied, o.progress.filter("Copying").size());
        for (const QString &file : entries.filter(".mp3")) {
            QProcess type;
            type.start("mtype", {"-i", image, file});
            QVERIFY(type.waitForFinished(-1));
            QVERIFY(type.readAllStandardOutput() == bytes(a));
        }
    }

    // Two albums whose files were made, and given ids, in shuffled order, with names that are not
    // in track order. On a real FAT driver the folders stand in name order and each album's files
    // in track order, as mdir lists the entries; the same after a run with "Overwrite all", which
    // replaces every file, and after one that brings back a removed folder and files removed from
    // the middle of an album, which the earlier files' tags place among them.
    void playOrderOnFat()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("order.img"), mount = m_dir.filePath("ordermnt");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        QDir().mkpath(m_media + "/order");
        QList<int> made(22), ids(22);
        std::iota(made.begin(), made.end(), 0);
        std::iota(ids.begin(), ids.end(), 1);
        std::shuffle(made.begin(), made.end(), std::mt19937(7));
        std::shuffle(ids.begin(), ids.end(), std::mt19937(11));
        TrackMap map;
        QHash<QString, int> numberOf;
        for (const int k : std::as_const(made)) {
            const int number = k < 10 ? k + 1 : k - 9;
            const QString name = QString("s%1.mp3").arg(k * 7 % 22, 2, 10, QChar('0'));
            const QString path = source("order/" + name, tone(0.3, 0, {{"track", QString::number(number)}}));
            track t = song(ids.at(k), path, k < 10 ? "Album 2" : "Album 10");
            t.tracknumber = qint16(number);
            map.insert(t.id, t);
            numberOf.insert(name, number);
        }
        // mdir lists a folder's entries in the order of their slots.
        const auto listed = [&](const QString &folder) {
            QProcess dir;
            dir.start("mdir", {"-i", image, "-a", "-b", "::/Example Media" + folder});
            dir.waitForFinished(-1);
            QStringList names;
            for (const QString &line :
                QString::fromUtf8(dir.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
                names << line.section('/', -1, -1, QString::SectionSkipEmpty);
            return names;
        };
        const auto numbers = [&](const QString &folder) {
            QList<int> found;
            for (const QString &name : listed(folder)) {
                if (numberOf.contains(name))
                    found << numberOf.value(name);
            }
            return found;
        };
        QList<int> two(10), ten(12);
        std::iota(two.begin(), two.end(), 1);
        std::iota(ten.begin(), ten.end(), 1);
        const auto transfer = [&](const TrackMap &tracks, bool overwrite) {
            if (!fatimage::mount(image, mount))
                return TransferReport::WriteError;
            transferDetail d = detail(mount, &m_mp3System);
            d.overwriteall = overwrite;
            ffmpeghandler handler;
            const Outcome o = run(handler, tracks, d);
            fatimage::unmount(mount);
            return o.report.stop;
        };
        const auto inOrder = [&](const QStringList &folders) {
            QCOMPARE(listed(""), folders);
            QCOMPARE(numbers("/Album 2"), two);
            QCOMPARE(numbers("/Album 10"), ten);
            QProcess fsck;
            fsck.start("fsck.fat", {"-n", image});
            QVERIFY(fsck.waitForFinished(-1));
            QVERIFY2(fsck.exitCode() == 0, fsck.readAllStandardOutput().constData());
        };

        QCOMPARE(transfer(map, false), TransferReport::Completed);
        inOrder({"Album 2", "Album 10"});
        QCOMPARE(transfer(map, true), TransferReport::Completed);
        inOrder({"Album 2", "Album 10"});
        if (QTest::currentTestFailed())
            return;

        // Removed by hand, and the slots they left taken by the user's own files: what comes back
        // would take the next free slots, out of order.
        TrackMap removed;
        QVERIFY(fatimage::mount(image, mount));
        const QString root = mount + "/Example Media/";
        for (const track &t : std::as_const(map)) {
            if (t.albumname == "Album 2"
                || (t.albumname == "Album 10" && (t.tracknumber == 3 || t.tracknumber == 7))) {
                removed.insert(t.id, t);
                QVERIFY(QFile::remove(root + t.albumname + "/" + QFileInfo(t.filepath).fileName()));
            }
        }
        QVERIFY(QDir().rmdir(root + "Album 2") && QDir().mkdir(root + "Extras"));
        QFile notes(root + "Album 10/notes.txt");
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("mine") == 4);
        notes.close();
        fatimage::unmount(mount);
        QCOMPARE(removed.size(), 12);
        QCOMPARE(transfer(removed, false), TransferReport::Completed);
        // The user's folder holds nothing the car plays: it keeps the slot it took.
        inOrder({"Extras", "Album 2", "Album 10"});
        QVERIFY(listed("/Album 10").contains("notes.txt"));
    }

    // What an arrange cut short left in its hidden folder (as an earlier version laid it out) goes
    // back into its folder at the next run; a file made there again since is kept, and the one
    // waiting goes where the user sees it, and is named.
    void arrangeCutShortComesBack()
    {
        const QString out = m_dir.filePath("recover"), album = out + "/Example Media/Al";
        const QString staging = out + "/.kivo-2147483600-1.order";
        const auto put = [](const QString &path, const QByteArray &text) {
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
        };
        QVERIFY(put(staging + "/.kivo-origin", "Example Media/Al") && put(staging + "/x.mp3", "x")
            && put(staging + "/Scans/s.jpg", "s") && put(staging + "/y.mp3", "waiting")
            && put(album + "/y.mp3", "newer"));
        ffmpeghandler handler;
        const TransferReport report
            = run(handler, mapOf({song(1, source("a.mp3"), "Other")}), detail(out, &m_mp3System)).report;
        QCOMPARE(report.stop, TransferReport::Completed);
        QCOMPARE(bytes(album + "/x.mp3"), QByteArray("x"));
        QCOMPARE(bytes(album + "/Scans/s.jpg"), QByteArray("s"));
        QCOMPARE(bytes(album + "/y.mp3"), QByteArray("newer"));
        QCOMPARE(bytes(out + "/KiVO recovered files/y.mp3"), QByteArray("waiting"));
        QVERIFY(!QFileInfo::exists(staging));
        QCOMPARE(report.notices.size(), 1);
        QVERIFY2(report.notices.first().contains("“KiVO recovered files”: y.mp3"),
            qPrintable(report.notices.first()));
        QVERIFY(DriveMessages().endOfTransfer(report, 1, "log").contains(report.notices.first()));
    }

    // The end is told only once what the run wrote is flushed to the device, and the window is
    // told meanwhile: after a complete run, a stopped one and one that filled the drive. A flush
    // that fails is a write error.
    void flushBeforeTheEnd()
    {
        const QString a = source("a.mp3");
        const TrackMap map = mapOf({song(1, a, "A"), song(2, a, "B"), song(3, a, "C")});
        ffmpeghandler handler;
        QStringList steps;
        platform::CopyOutcome flushed;
        handler.flushTarget = [&](const QString &path) {
            steps << "flush " + QFileInfo(path).fileName();
            return flushed;
        };
        QObject guard;
        connect(&handler, &ffmpeghandler::sgWritingToDrive, &guard, [&] { steps << "writing"; });
        connect(&handler, &ffmpeghandler::sgTransferFinished, &guard, [&] { steps << "end"; });
        const QStringList inTurn{"writing", "flush Example Media", "end"};

        QCOMPARE(run(handler, map, detail(m_dir.filePath("flush1"), &m_mp3System)).report.stop,
            TransferReport::Completed);
        QCOMPARE(steps, inTurn);

        steps.clear();
        const transferDetail stopped = detail(m_dir.filePath("flush2"), &m_mp3System);
        auto *stopper = new QObject(&guard);
        connect(&handler, &ffmpeghandler::incrementProgress, stopper,
            [stopped] { ffmpeghandler::cancelTransfer(stopped); });
        QCOMPARE(run(handler, map, stopped).report.stop, TransferReport::Cancelled);
        delete stopper;
        QCOMPARE(steps, inTurn);

        steps.clear();
        QCOMPARE(run(handler, map, detail(m_dir.filePath("flush3"), &m_mp3System, 2 * QFileInfo(a).size()))
                     .report.stop,
            TransferReport::DiskFull);
        QCOMPARE(steps, inTurn);

        steps.clear();
        flushed = {platform::CopyOutcome::Other, "Input/output error"};
        const TransferReport failed
            = run(handler, map, detail(m_dir.filePath("flush4"), &m_mp3System)).report;
        QCOMPARE(steps, inTurn);
        QCOMPARE(failed.stop, TransferReport::WriteError);
        QCOMPARE(failed.failures, QStringList{"Example Media: Input/output error"});
        QCOMPARE(failed.copied, 3);
    }

    // A transfer killed mid-copy, then run again: what the killed run left under a temporary name
    // goes, and every file arrives whole.
    void killedTransfer()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("killed.img"), mount = m_dir.filePath("killed");
        QVERIFY(fatimage::make(image, "300M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(fatimage::mount(image, mount));
        QStringList videos;
        TrackMap map;
        for (int i = 1; i <= 3; ++i) {
            videos << m_media + QString("/clip%1.mp4").arg(i);
            QFile file(videos.last());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QByteArray block(1 << 20, char('a' + i));
            for (int mb = 0; mb < 64; ++mb) {
                block[0] = char(mb);
                file.write(block);
            }
            map.insert(i, song(i, videos.last(), "V"));
            map[i].isVideo = true;
        }

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), QStringList{"--transfer-child", mount} + videos);
        QVERIFY(child.waitForStarted(-1));
        const QDir folder(mount + "/Example Media/Videos");
        const bool caught = QTest::qWaitFor(
            [&] {
                const QFileInfoList parts = folder.entryInfoList({".kivo-*"}, QDir::Files | QDir::Hidden);
                return !parts.isEmpty() && parts.first().size() > 0;
            },
            60000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(-1));
        QVERIFY2(caught && child.exitStatus() == QProcess::CrashExit, "the child was not caught mid-copy");
        QVERIFY(!folder.entryList({".kivo-*"}, QDir::Files | QDir::Hidden).isEmpty());

        ffmpeghandler handler;
        const Outcome o = run(handler, map, detail(mount, &m_mp3System));
        fatimage::unmount(mount);
        QCOMPARE(o.report.stop, TransferReport::Completed);
        QProcess dir;
        dir.start("mdir", {"-i", image, "-/", "-a", "-b", "::"});
        QVERIFY(dir.waitForFinished(-1));
        const QStringList entries
            = QString::fromUtf8(dir.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        QVERIFY2(entries.filter(".kivo").isEmpty(), qPrintable(entries.join(' ')));
        for (int i = 1; i <= 3; ++i) {
            QProcess type;
            type.start("mtype", {"-i", image, QString("::/Example Media/Videos/clip%1.mp4").arg(i)});
            QVERIFY(type.waitForFinished(-1));
            QVERIFY(type.readAllStandardOutput() == bytes(videos.at(i - 1)));
        }
    }

    // A Stop while a large file goes onto a slow FAT drive ends that file's copy where it is:
    // neither the part written so far nor a cut-off file under the real name stays behind.
    void stopInsideALargeCopy()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("slow.img"), mount = m_dir.filePath("slow");
        // Both sparse: only what is written takes room.
        QVERIFY(fatimage::make(image, "4500M", {"-F", "32", "-n", "SLOW"}));
        QVERIFY(fatimage::mount(image, mount));
        const auto unmount = qScopeGuard([mount] { fatimage::unmount(mount); });
        // Minutes to write through fusefat, against the moment it takes to notice its part file,
        // however busy the machine; still within FAT's largest file.
        const qint64 size = 3900LL << 20;
        const QString big = m_media + "/large.mp4";
        QFile sparse(big);
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(size));
        sparse.close();
        TrackMap map = mapOf({song(1, big, "V")});
        map[1].isVideo = true;
        const transferDetail request = detail(mount, &m_mp3System);
        ffmpeghandler handler;
        QFuture<TransferReport> job = QtConcurrent::run([&] { return handler.transferTracks(map, request); });
        const QString folder = mount + "/Example Media/Videos";
        const auto parts
            = [folder] { return QDir(folder).entryInfoList({".kivo-*"}, QDir::Hidden | QDir::Files); };
        QVERIFY(QTest::qWaitFor([&] { return !parts().isEmpty() || job.isFinished(); }, 20000));
        QVERIFY2(!job.isFinished(), "the copy ended before it could be stopped");
        ffmpeghandler::cancelTransfer(request);
        QVERIFY(QTest::qWaitFor([&] { return job.isFinished(); }, 20000));
        const TransferReport report = job.result();
        const QStringList left = QDir(folder).entryList(QDir::Hidden | QDir::Files);
        QCOMPARE(report.stop, TransferReport::Cancelled);
        QCOMPARE(report.copied, 0);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(' ')));
        QVERIFY(report.failures.isEmpty());
    }
};

// The transfer of the killed-transfer test, in a child process: "--transfer-child <target> <video>...".
static int transferChild(int argc, char *argv[])
{
    TestEnv env;
    QCoreApplication app(argc, argv);
    initKivoResources();
    SystemInfo system;
    QFile xml(":resources/xml/systems.xml");
    if (!xml.open(QIODevice::ReadOnly) || !readSystemInfo(&xml, "CMS-1100", &system))
        return 2;
    system.vehicle = "Example";
    TrackMap map;
    for (int i = 3; i < argc; ++i) {
        track t;
        t.id = qint16(i);
        t.filepath = QString::fromLocal8Bit(argv[i]);
        t.albumname = "V";
        t.isVideo = true;
        map.insert(t.id, t);
    }
    transferDetail d;
    d.destination = QString::fromLocal8Bit(argv[2]);
    d.availableSpace = 1LL << 40;
    d.systemInfo = system;
    ffmpeghandler handler;
    return handler.transferTracks(map, d).stop == TransferReport::Completed ? 0 : 1;
}

KIVO_TEST_MAIN_WITH_CHILD(TestTransfer, "--transfer-child", transferChild)
#include "tst_transfer.moc"
