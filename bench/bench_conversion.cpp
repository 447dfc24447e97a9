// Conversion when media is added, against plain work on the same files in the same run.
//
//   bench_conversion video [videos] [runs]    (default 4 videos, 5 runs)
//   bench_conversion library [files] [runs]   (default 200 files, 5 runs)
//
// video: 30 s 1920 x 1080 videos at 25 frames a second (MPEG-4 part 2 with stereo MP3 in AVI,
// which the car cannot play) through the video optimiser, against the bare ffmpeg command with
// the same arguments, one video after another as the optimiser works. Outputs are removed
// before each run, so every run encodes.
//
// library: FLAC files of 5 s that an mp3-only system cannot play, through the library
// conversion with one transcode at a time against one per processor; the transcode folder is
// emptied before each run, and both must store the same records.

#include "applog.h"
#include "database.h"
#include "ffmpeghandler.h"
#include "kivodb.h"
#include "mediagen.h"
#include "procstats.h"
#include "testenv.h"
#include "toolpaths.h"
#include "videoencoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

[[noreturn]] void fail(const QString &why)
{
    std::fprintf(stderr, "bench_conversion: %s\n", qPrintable(why));
    std::exit(1);
}

void print(const char *what, const RunFigures &f)
{
    std::printf("  %-34s median %9.1f ms   min %9.1f   max %9.1f   peak RSS %lld MB\n", what, f.median(),
        f.least(), f.most(), f.peakMb());
}

track entry(qint64 id, const QString &path, bool video)
{
    track t;
    t.id = id;
    t.originalPath = path;
    t.filepath = kivoDB::libraryRoot() + QStringLiteral("/Bench/") + QFileInfo(path).fileName();
    t.trackname = QFileInfo(path).completeBaseName();
    t.albumname = QStringLiteral("Bench");
    t.isVideo = video;
    return t;
}

int benchVideo(const TestEnv &env, int videos, int runs)
{
    const QString source = env.makePath("videos"), bare = env.makePath("bare");
    TrackMap queue;
    for (int i = 0; i < videos; ++i) {
        MediaVideo video;
        video.size = QSize(1920, 1080);
        video.rate = 25;
        video.seconds = 30;
        video.channels = 2;
        const QString path = QStringLiteral("%1/film%2.avi").arg(source).arg(i);
        const QString error = MediaGen::makeVideo(path, video);
        if (!error.isEmpty())
            fail(error);
        queue.insert(i + 1, entry(i + 1, path, true));
    }
    const QString ffmpeg = platform::locateTool(platform::Tool::Ffmpeg).path;
    const QString outputs = kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media/Videos");
    std::printf("video: %d videos of 30 s at 1920 x 1080, %d processors, %d runs\n", videos,
        QThread::idealThreadCount(), runs);

    RunFigures ours, baseline;
    for (int r = 0; r < runs; ++r) {
        QDir(outputs).removeRecursively();
        int made = 0;
        measure(ours, [&] {
            VideoEncoding encoder;
            QObject::connect(&encoder, &VideoEncoding::onFileComplete, [&made] { ++made; });
            encoder.setArg(queue, transferDetail());
            encoder.start();
            encoder.wait();
        });
        if (made != videos)
            fail(QStringLiteral("the optimiser made %1 of %2 videos").arg(made).arg(videos));
        QDir(bare).removeRecursively();
        QDir().mkpath(bare);
        measure(baseline, [&] {
            for (const track &t : std::as_const(queue)) {
                const QString out = QStringLiteral("%1/%2.mp4").arg(bare).arg(t.id);
                QProcess process;
                process.setStandardOutputFile(QProcess::nullDevice());
                process.setStandardErrorFile(QProcess::nullDevice());
                process.start(ffmpeg, VideoEncoding::encodeArguments(t.originalPath, out));
                if (!process.waitForFinished(-1) || process.exitCode() != 0)
                    fail(QStringLiteral("bare ffmpeg failed on ") + t.originalPath);
            }
        });
    }
    print("optimiser", ours);
    print("bare ffmpeg, same arguments", baseline);
    std::printf("  ratio of medians %.3f (target 1.10 or less)\n", ours.median() / baseline.median());
    return 0;
}

int benchLibrary(const TestEnv &env, int files, int runs)
{
    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure())
        fail(QStringLiteral("the store cannot be set up"));
    SystemInfo system;
    initKivoResources();
    QFile xml(QStringLiteral(":resources/xml/systems.xml"));
    if (!xml.open(QIODevice::ReadOnly) || !readSystemInfo(&xml, QStringLiteral("CMS-1100"), &system))
        fail(QStringLiteral("the systems list cannot be read"));
    const QString source = env.makePath("flac");
    TrackMap tracks;
    for (int i = 0; i < files; ++i) {
        MediaAudio audio;
        audio.seconds = 5;
        audio.sampleRate = 44100;
        audio.channels = 2;
        audio.tags = {{"title", QStringLiteral("Tone %1").arg(i)}, {"artist", "Bench"}};
        const QString path = QStringLiteral("%1/tone%2.flac").arg(source).arg(i);
        if (i < 10) {
            const QString error = MediaGen::makeAudio(path, audio);
            if (!error.isEmpty())
                fail(error);
        } else {
            QFile::copy(QStringLiteral("%1/tone%2.flac").arg(source).arg(i % 10), path);
        }
        track t = entry(i + 1, path, false);
        t.albumname = QStringLiteral("Album %1").arg(i / 10);
        tracks.insert(t.id, t);
    }
    const int cores = QThread::idealThreadCount();
    const QString cache = kivoDB::libraryRoot() + QStringLiteral("/Transcoded Media");
    std::printf("library: %d FLAC files of 5 s to mp3, %d processors, %d runs\n", files, cores, runs);
    transferDetail detail;
    detail.systemInfo = system;

    RunFigures serial, parallel;
    QStringList firstPaths;
    for (int r = 0; r < runs; ++r) {
        for (const int jobs : {1, 0}) {
            QDir(cache).removeRecursively();
            QList<track> made;
            measure(jobs == 1 ? serial : parallel, [&] {
                ffmpeghandler handler;
                handler.parallelJobs = jobs;
                made = handler.transcodeTracks(tracks, detail);
            });
            QStringList paths;
            for (const track &t : std::as_const(made))
                paths << t.filepath;
            if (made.size() != files)
                fail(QStringLiteral("%1 of %2 files were converted").arg(made.size()).arg(files));
            if (firstPaths.isEmpty())
                firstPaths = paths;
            else if (paths != firstPaths)
                fail(QStringLiteral("the runs stored different records"));
        }
    }
    print("one at a time", serial);
    print(qPrintable(QStringLiteral("%1 at a time").arg(cores)), parallel);
    std::printf("  speed-up of medians %.2f (target %.2f = 0.6 x %d processors)\n",
        serial.median() / parallel.median(), 0.6 * cores, cores);
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    TestEnv env;
    QCoreApplication app(argc, argv);
    setLogFile(appLogFile(), env.appDataDir() + QStringLiteral("/debug.log"));
    const QStringList args = app.arguments();
    const QString mode = args.value(1, QStringLiteral("library"));
    const int runs = std::max(1, args.value(3, QStringLiteral("5")).toInt());
    if (mode == QLatin1String("video"))
        return benchVideo(env, std::max(1, args.value(2, QStringLiteral("4")).toInt()), runs);
    if (mode == QLatin1String("library"))
        return benchLibrary(env, std::max(1, args.value(2, QStringLiteral("200")).toInt()), runs);
    fail(QStringLiteral("usage: bench_conversion video|library [count] [runs]"));
}
