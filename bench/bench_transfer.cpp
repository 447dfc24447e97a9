// The transfer run against plain work on the same files, in the same run.
//
//   bench_transfer copy [files] [runs]       (default 2000 files, 5 runs)
//   bench_transfer arrange [files] [runs] [big folder]  (default 2000 files, 5 runs, 1001 songs)
//   bench_transfer transcode [files] [runs]  (default 200 files, 5 runs)
//
// copy: files of about 1 MB that the system plays, 20 per album folder with a 500 x 500 JPEG
// cover beside them, transferred by ffmpeghandler::transferTracks (which flushes the target's
// file system before it ends) against `cp -r` of the same tree followed by `sync -f` on the
// target, so both pay the flush, onto two targets: a FAT32 image made afresh with mkfs.vfat for
// every run of each side and mounted with `fusefat -o rw+` (skipped, with a line saying so,
// without FUSE), and a plain folder. Both read a warm file cache; `sync` runs (untimed) before
// each run.
//
// arrange: the same albums onto the FAT image only, then more onto the same stick, where the run
// must move entries back into play order: a first whole transfer, then one more track in each
// album whose name sorts in its middle (every album rearranged), then a new album whose name sorts
// before the others (the media folder rearranged). Each transfer is timed, and so is the time from
// each sgArranging to the signal after it; the stick is unmounted between transfers, and the
// image's own folder slots must show the files and album folders in play order. Then one big
// album folder whose first song comes last, beside a file of the user's: see transfer_arrange.cpp.
//
// transcode: FLAC files that an mp3-only system cannot play, in four playlists whose entries
// alternate in key order, transferred with one probe or transcode at a time against one per
// processor; the transcode cache is emptied before each run. Checks that both give the same
// progress signals and playlist files, in play order (one playlist after the other), and stop at
// the same file when the drive fills up.

#include "bench_transfer.h"

#include "applog.h"
#include "kivodb.h"
#include "mediagen.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace transferbench {

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "bench_transfer: %s\n", qPrintable(why));
    std::exit(1);
}

void settle(const QStringList &remove)
{
    for (const QString &path : remove)
        QDir(path).removeRecursively();
    QProcess::execute(QStringLiteral("sync"), {});
}

Outcome transfer(const TrackMap &tracks, const QString &target, SystemInfo *system, int jobs, qint64 space,
    const std::function<void(ffmpeghandler &)> &watch)
{
    QDir().mkpath(target);
    transferDetail detail;
    detail.destination = target;
    detail.availableSpace = space;
    detail.systemInfo = *system;
    ffmpeghandler handler;
    handler.parallelJobs = jobs;
    Outcome out;
    QObject::connect(
        &handler, &ffmpeghandler::incrementProgress, [&out](const QString &file) { out.progress << file; });
    if (watch)
        watch(handler);
    resetPeak();
    QElapsedTimer timer;
    timer.start();
    out.report = handler.transferTracks(tracks, detail);
    out.ms = timer.nsecsElapsed() / 1e6;
    out.peakKb = statusKb("VmHWM:");
    return out;
}

bool quietly(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

SystemInfo mp3System()
{
    SystemInfo system;
    initKivoResources();
    QFile xml(QStringLiteral(":resources/xml/systems.xml"));
    if (!xml.open(QIODevice::ReadOnly) || !readSystemInfo(&xml, QStringLiteral("CMS-1100"), &system))
        fail(QStringLiteral("the systems list cannot be read"));
    system.vehicle = QStringLiteral("Bench");
    return system;
}

QString makeSource(const QString &path, double seconds, int kbps, int frequency)
{
    MediaGen::Audio audio;
    audio.seconds = seconds;
    audio.sampleRate = 44100;
    audio.channels = 2;
    audio.bitrateKbps = kbps;
    audio.tags = {{"title", QStringLiteral("Tone %1").arg(frequency)}, {"artist", "Bench"}};
    const QString error = MediaGen::makeAudio(path, audio);
    if (!error.isEmpty())
        fail(error);
    return path;
}

QString makeCover(const QString &folder, int album)
{
    const int i = album * 20;
    QDir().mkpath(folder);
    QImage cover(500, 500, QImage::Format_RGB32);
    QPainter painter(&cover);
    QLinearGradient gradient(0, 0, 500, 500);
    gradient.setColorAt(0, QColor::fromHsv((i / 20 * 37) % 360, 200, 220));
    gradient.setColorAt(1, Qt::black);
    painter.fillRect(cover.rect(), gradient);
    for (int c = 0; c < 12; ++c) {
        painter.setBrush(QColor::fromHsv((c * 53 + i) % 360, 180, 240));
        painter.drawEllipse(QPoint((c * 97) % 500, (c * 151) % 500), 20 + c * 7, 30 + c * 5);
    }
    painter.end();
    const QString path = folder + QStringLiteral("/cover.jpg");
    cover.save(path, "jpg", 90);
    return path;
}

track albumTrack(
    qint64 id, const QString &song, const QString &folder, const QString &album, const QString &name)
{
    track t;
    t.id = id;
    t.filepath = folder + QLatin1Char('/') + name;
    t.albumname = album;
    t.trackname = QStringLiteral("Track %1").arg(id - 1);
    t.cover = folder + QStringLiteral("/cover.jpg");
    if (!QFile::copy(song, t.filepath))
        fail(QStringLiteral("cannot make ") + t.filepath);
    return t;
}

TrackMap makeAlbums(const QString &source, const QString &song, int files)
{
    TrackMap tracks;
    for (int i = 0; i < files; ++i) {
        const QString album = QStringLiteral("Album %1").arg(i / 20, 3, 10, QLatin1Char('0'));
        const QString folder = source + QLatin1Char('/') + album;
        if (i % 20 == 0)
            makeCover(folder, i / 20);
        tracks.insert(i + 1,
            albumTrack(i + 1, song, folder, album,
                QStringLiteral("%1 Track.mp3").arg(i % 20 + 1, 2, 10, QLatin1Char('0'))));
    }
    return tracks;
}

void print(const char *what, const RunFigures &f)
{
    std::printf("  %-34s median %9.1f ms   min %9.1f   max %9.1f\n", what, f.median(), f.least(), f.most());
}

}  // namespace transferbench

using namespace transferbench;

namespace {

// The time of cp -r and of `sync -f` on the target's file system after it, and cp's peak RSS
// when /usr/bin/time can tell it.
double copyTree(const QString &from, const QString &to, qint64 *peakKb = nullptr)
{
    static const bool timed = QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable();
    QProcess cp;
    if (timed)
        cp.start(QStringLiteral("/usr/bin/time"),
            {QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("cp"), QStringLiteral("-r"), from,
                to});
    else
        cp.start(QStringLiteral("cp"), {QStringLiteral("-r"), from, to});
    QElapsedTimer timer;
    timer.start();
    if (!cp.waitForFinished(-1) || cp.exitCode() != 0)
        fail(QStringLiteral("cp -r failed: ") + QString::fromLocal8Bit(cp.readAllStandardError()));
    if (!quietly(QStringLiteral("sync"), {QStringLiteral("-f"), to}))
        fail(QStringLiteral("sync -f failed on ") + to);
    const double ms = timer.nsecsElapsed() / 1e6;
    if (peakKb && timed)
        *peakKb = QString::fromLocal8Bit(cp.readAllStandardError()).trimmed().section('\n', -1).toLongLong();
    return ms;
}

int benchCopy(const TestEnv &env, int files, int runs)
{
    // KIVO_BENCH_TARGET puts the targets and FAT images elsewhere, such as on a RAM disk, out of
    // the disk's write-back noise.
    const QString targets = qEnvironmentVariable("KIVO_BENCH_TARGET", env.root());
    const QString source = env.makePath("source"), ours = targets + "/kivo-ours",
                  theirs = targets + "/kivo-cp";
    const QString song = makeSource(env.root() + "/song.mp3", 32.0, 256, 440);
    const TrackMap tracks = makeAlbums(source, song, files);
    SystemInfo system = mp3System();
    std::printf("copy: %d files of %lld bytes, %d albums with covers, %d runs a side, into %s\n", files,
        QFileInfo(song).size(), (files + 19) / 20, runs, qPrintable(targets));

    // Warm the file cache for both.
    copyTree(source, theirs);
    transfer(tracks, ours, &system, 0);
    settle({ours, theirs});

    // Room for the files, their covers and the FAT's own tables.
    const qint64 imageBytes = qint64(files) * QFileInfo(song).size() * 5 / 4 + (256LL << 20);
    const QString noFat = FatTarget::unavailable();
    if (!noFat.isEmpty())
        std::printf("  FAT image: skipped, %s\n", qPrintable(noFat));
    for (const bool fat : {true, false}) {
        if (fat && !noFat.isEmpty())
            continue;
        FatTarget image(targets, imageBytes);
        RunFigures cp, run;
        // The two take turns at going first, so neither always meets the other's write-back.
        for (int r = 0; r < 2 * runs; ++r) {
            settle({ours, theirs});
            const bool baseline = (r + r / 2) % 2 == 0;
            const QString root = fat ? image.fresh() : targets;
            if (baseline) {
                qint64 peakKb = 0;
                cp.values << copyTree(source, root + QStringLiteral("/kivo-cp"), &peakKb);
                cp.peakKb << peakKb;
            } else {
                const Outcome o = transfer(tracks, root + QStringLiteral("/kivo-ours"), &system, 0);
                if (o.report.copied != files || o.report.stop != TransferReport::Completed)
                    fail(
                        QStringLiteral("the transfer copied %1 of %2 files").arg(o.report.copied).arg(files));
                run.values << o.ms;
                run.peakKb << o.peakKb;
            }
            if (fat)
                image.release();
        }
        settle({ours, theirs});
        std::printf(
            "  %s\n", fat ? "FAT32 image through fusefat -o rw+, fresh for each run:" : "plain folder:");
        print("cp -r, sync -f", cp);
        print("transferTracks", run);
        std::printf("  ratio of medians %.2f (target 1.20 or less); peak RSS: transfer %lld MB, cp %lld MB\n",
            run.median() / cp.median(), run.peakMb(), cp.peakMb());
    }
    return 0;
}

int benchTranscode(const TestEnv &env, int files, int runs)
{
    const QString source = env.makePath("flac"), target = env.root() + "/drive";
    QStringList distinct;
    for (int i = 0; i < 10; ++i)
        distinct << makeSource(QStringLiteral("%1/tone%2.flac").arg(source).arg(i), 4.0, 0, 300 + 50 * i);
    TrackMap tracks;
    QStringList walk;
    QList<int> walked;  // the files in the walk's order: each playlist whole, in its own order
    for (int list = 0; list < 4; ++list) {
        for (int i = list; i < files; i += 4) {
            walk << QStringLiteral("Copying Track %1.mp3").arg(i);
            walked << i;
        }
    }
    for (int i = 0; i < files; ++i) {
        track t;
        t.id = i + 1;
        t.filepath = QStringLiteral("%1/file%2.flac").arg(source).arg(i);
        t.albumname = QStringLiteral("Album %1").arg(i / 10);
        t.trackname = QStringLiteral("Track %1").arg(i);
        t.playlist = QStringLiteral("List %1").arg(i % 4);
        QFile::copy(distinct.at(i % distinct.size()), t.filepath);
        tracks.insert(t.id, t);
    }
    SystemInfo system = mp3System();
    const int cores = QThread::idealThreadCount();
    const QString cache = kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media");
    std::printf("transcode: %d FLAC files of 4 s to mp3, %d processors, %d runs\n", files, cores, runs);

    const auto playlists = [&] {
        QByteArray all;
        for (int k = 0; k < 4; ++k) {
            QFile file(QStringLiteral("%1/Bench Media/List %2.m3u").arg(target).arg(k));
            all += file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
        }
        return all;
    };
    RunFigures serial, parallel;
    qint64 peak = 0;
    QByteArray firstPlaylists;
    for (int r = 0; r < runs; ++r) {
        for (const int jobs : {1, 0}) {
            settle({target, cache});
            const Outcome o = transfer(tracks, target, &system, jobs);
            if (o.progress != walk || o.report.transcoded != files)
                fail(QStringLiteral("run %1 (%2 at a time) left the walk's order or missed files")
                         .arg(r)
                         .arg(jobs));
            if (firstPlaylists.isEmpty())
                firstPlaylists = playlists();
            else if (playlists() != firstPlaylists)
                fail(QStringLiteral("the playlist files differ between runs"));
            (jobs == 1 ? serial : parallel).values << o.ms;
            if (jobs == 0)
                peak = std::max(peak, o.peakKb);
        }
    }

    // Room for three quarters of the files: both stop at the same file.
    const int fit = files * 3 / 4;
    qint64 space = 1;
    for (const int i : walked.mid(0, fit))
        space
            += QFileInfo(QStringLiteral("%1/Bench Media/List %2/Track %3.mp3").arg(target).arg(i % 4).arg(i))
                   .size();
    QList<QStringList> stops;
    for (const int jobs : {1, 0}) {
        settle({target, cache});
        const Outcome o = transfer(tracks, target, &system, jobs, space);
        if (o.report.stop != TransferReport::DiskFull)
            fail(QStringLiteral("the drive did not fill up"));
        stops << o.progress;
    }
    if (stops.at(0) != walk.mid(0, fit) || stops.at(1) != stops.at(0))
        fail(QStringLiteral("the runs stopped at different files (%1 and %2 of %3)")
                 .arg(stops.at(0).size())
                 .arg(stops.at(1).size())
                 .arg(fit));

    const RunFigures &s = serial, &p = parallel;
    print("one at a time", s);
    print(qPrintable(QStringLiteral("%1 at a time").arg(cores)), p);
    std::printf(
        "  speed-up of medians %.2f (target %.2f = 0.6 x %d processors); peak RSS of the run %lld MB\n",
        s.median() / p.median(), 0.6 * cores, cores, peak / 1024);
    std::printf(
        "  progress, playlists and the disk-full stop (after %d of %d files) matched the walk\n", fit, files);
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    TestEnv env;
    QCoreApplication app(argc, argv);
    // The run logs each copy, as it does in the program.
    setLogFile(appLogFile(), env.appDataDir() + QStringLiteral("/debug.log"));
    const QStringList args = app.arguments();
    const QString mode = args.value(1, QStringLiteral("copy"));
    const int runs = std::max(1, args.value(3, QStringLiteral("5")).toInt());
    if (mode == QLatin1String("copy"))
        return benchCopy(env, std::max(1, args.value(2, QStringLiteral("2000")).toInt()), runs);
    if (mode == QLatin1String("arrange"))
        return benchArrange(env, std::max(20, args.value(2, QStringLiteral("2000")).toInt()), runs,
            std::clamp(args.value(4, QStringLiteral("1001")).toInt(), 2, 9999));
    if (mode == QLatin1String("transcode"))
        return benchTranscode(env, std::max(4, args.value(2, QStringLiteral("200")).toInt()), runs);
    fail(QStringLiteral(
        "usage: bench_transfer copy|arrange|transcode [files] [runs], or arrange [files] [runs] "
        "[songs in the big folder]"));
}
