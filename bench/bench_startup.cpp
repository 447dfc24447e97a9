// The program's start with a large library: from main() to the library shown (its models
// published, what a person waits for), with the first frame of the window beside it, the peak
// memory, and the longest stall of the window's thread while two searches run over the library.
//
//   bench_startup [runs] [sizes...]   (default 5 runs of 10000 100000 300000 tracks)
//
// Each size gets its own data folder: a store of that many tracks, 10 per album, every track a
// real (empty) file under the library folder, a vehicle chosen. Albums up to 100 000 tracks carry
// a realistic cover (a 110 px PNG of about 18 KB, as the scan writes from a photo); larger
// libraries a 600-byte one. Every run is a fresh process (this program run with --child), and the
// sizes take turns, so each size's figures come from runs spread over the whole benchmark.

#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "manager.h"
#include "procstats.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

QByteArray coverBytes(bool realistic)
{
    QRandomGenerator random(7);
    if (!realistic) {
        QByteArray bytes(600, Qt::Uninitialized);
        for (char &b : bytes)
            b = char(random.bounded(256));
        return bytes;
    }
    // A photo-like picture: smooth shading with some grain, which PNG packs to about 18 KB.
    QImage image(110, 110, QImage::Format_RGB32);
    for (int y = 0; y < 110; ++y) {
        for (int x = 0; x < 110; ++x) {
            const int grain = random.bounded(24);
            image.setPixel(x, y, qRgb((x * 2 + grain) % 256, (y * 2 + grain) % 256, (x + y + grain) % 256));
        }
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return png;
}

// A data folder below `home` holding a store of `count` tracks.
bool makeLibrary(const QString &home, int count)
{
    qputenv("XDG_DATA_HOME", (home + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/config")).toLocal8Bit());
    const AppPaths paths;
    const QString root = kivoDB::libraryRoot();
    const QString artwork = paths.dataDir + QStringLiteral("/Artwork");
    QDir().mkpath(artwork);
    const QByteArray cover = coverBytes(count <= 100000);
    {
        Database database;
        if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure())
            return false;
        QList<track> batch;
        for (int i = 0; i < count; ++i) {
            const int album = i / 10;
            const QString albumName = QStringLiteral("Album %1").arg(album);
            const QString folder = root + QStringLiteral("/Album %1").arg(album);
            const QString coverPath
                = artwork + QLatin1Char('/') + paths.sanitizeName(albumName) + QStringLiteral(".png");
            if (i % 10 == 0) {
                QDir().mkpath(folder);
                QFile file(coverPath);
                if (!file.open(QIODevice::WriteOnly) || file.write(cover) != cover.size())
                    return false;
            }
            track t = paths.clearTrack(track{});
            t.filename = QStringLiteral("%1 Song %2.mp3").arg(i % 10 + 1, 2, 10, QLatin1Char('0')).arg(i);
            t.filepath = folder + QLatin1Char('/') + t.filename;
            QFile(t.filepath).open(QIODevice::WriteOnly);
            t.trackname = QStringLiteral("Song %1").arg(i);
            t.albumname = albumName;
            t.artistname = QStringLiteral("Artist %1").arg(album / 5);
            t.genre = QStringLiteral("Genre %1").arg(album % 20);
            t.codec = QStringLiteral("mp3");
            t.year = qint16(1960 + album % 50);
            t.bitrate = 192;
            t.duration = 180 + i % 120;
            t.filesize = 4000000;
            t.tracknumber = qint16(i % 10 + 1);
            t.cover = coverPath;
            batch << t;
            if (batch.size() == 5000 || i == count - 1) {
                if (!kivoDB().insertTracks(batch))
                    return false;
                batch.clear();
            }
        }
        Database::close();
    }
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(QStringLiteral("MainWindows"));
    settings.setValue(QStringLiteral("Model"), QStringLiteral("0"));
    settings.setValue(QStringLiteral("ModelName"), QStringLiteral("Arvo"));
    settings.setValue(QStringLiteral("ModelYearValue"), QStringLiteral("2013"));
    settings.setValue(QStringLiteral("ModelYearIndex"), 0);
    settings.endGroup();
    return true;
}

// One start of the program; prints "first-frame-ms shown-ms peak-kB stall-ms peak-after-search-kB".
int child(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    qint64 firstFrame = -1, shown = -1, stall = 0;
    KivoApplication kivo;
    StartOptions options;
    options.qmlFile = QStringLiteral(KIVO_SOURCE_DIR "/qml/QKiVOCorvane/main.qml");
    options.checkForUpdates = false;
    options.askOpenAnother = [] { return true; };
    options.showError = [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); };

    if (kivo.start(options) != KivoApplication::Result::Started)
        return 1;
    // start() shows the window; its frames are drawn once the event loop runs.
    QObject::connect(kivo.viewer(), &QQuickWindow::frameSwapped, &app, [&] {
        if (firstFrame < 0)
            firstFrame = clock.elapsed();
    });
    manager *mgr = kivo.controller();
    // Sleeps between events as the program's own event loop does; a wake-up every 20 ms looks
    // at the condition even when nothing else happens.
    const auto waitFor = [&](const std::function<bool()> &done) {
        QTimer wake;
        wake.start(20);
        while (!done())
            app.processEvents(QEventLoop::WaitForMoreEvents);
    };
    waitFor([&] { return firstFrame >= 0 && !mgr->isLoading(); });
    shown = clock.elapsed();
    const qint64 peakShown = statusKb("VmHWM:");

    // The longest gap between two turns of the event loop while searches run.
    QElapsedTimer gap;
    gap.start();
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] { stall = std::max(stall, gap.restart()); });
    tick.start();
    gap.restart();
    mgr->slSearchLibrary(QStringLiteral("Song 1"));
    waitFor([&] { return !mgr->isLoading(); });
    mgr->slSearchLibrary(QString());
    waitFor([&] { return !mgr->isLoading(); });
    const QDeadlineTimer settle(300);
    waitFor([&] { return settle.hasExpired(); });
    tick.stop();
    std::printf("%lld %lld %lld %lld %lld\n", firstFrame, shown, peakShown, stall, statusKb("VmHWM:"));
    std::fflush(stdout);
    kivo.shutdown();
    return 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const int runs = args.isEmpty() ? 5 : std::max(1, args.takeFirst().toInt());
    QList<int> sizes;
    for (const QString &arg : args)
        sizes << arg.toInt();
    if (sizes.isEmpty())
        sizes = {10000, 100000, 300000};

    QTemporaryDir dir;
    // KIVO_BENCH_KEEP keeps the libraries, to look at one start more closely.
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("KIVO_BENCH_KEEP"));
    if (!dir.autoRemove())
        std::printf("libraries kept in %s\n", qPrintable(dir.path()));
    QMap<int, QString> homes;
    for (const int size : sizes) {
        const QString home = dir.filePath(QString::number(size));
        QElapsedTimer made;
        made.start();
        if (!makeLibrary(home, size)) {
            std::fprintf(stderr, "bench_startup: the library of %d tracks cannot be made\n", size);
            return 1;
        }
        std::printf("made a library of %d tracks in %.1f s\n", size, made.elapsed() / 1000.0);
        homes.insert(size, home);
    }

    QMap<int, RunFigures> frame, shown, peak, stall, peakAfter;
    for (int r = 0; r < runs; ++r) {
        for (const int size : sizes) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("XDG_DATA_HOME"), homes[size] + QStringLiteral("/data"));
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), homes[size] + QStringLiteral("/config"));
            env.insert(QStringLiteral("HOME"), homes[size]);
            if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
                env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            process.setProcessEnvironment(env);
            process.start(app.applicationFilePath(), {QStringLiteral("--child")});
            if (!process.waitForFinished(600000) || process.exitCode() != 0) {
                std::fprintf(stderr, "bench_startup: a start of %d tracks failed: %s\n", size,
                    process.readAllStandardError().constData());
                return 1;
            }
            const QList<QByteArray> line
                = process.readAllStandardOutput().trimmed().split('\n').last().split(' ');
            frame[size].values << line.value(0).toDouble();
            shown[size].values << line.value(1).toDouble();
            peak[size].values << line.value(2).toDouble() / 1024.0;
            stall[size].values << line.value(3).toDouble();
            peakAfter[size].values << line.value(4).toDouble() / 1024.0;
        }
    }

    std::printf("%d runs each (median, min-max):\n", runs);
    std::printf("%9s  %22s  %22s  %20s  %20s  %18s\n", "tracks", "library shown ms", "first frame ms",
        "peak MB when shown", "peak MB at the end", "search stall ms");
    for (const int size : sizes) {
        const RunFigures &f = frame[size], &s = shown[size], &p = peak[size], &a = peakAfter[size],
                         &g = stall[size];
        std::printf(
            "%9d  %6.0f (%6.0f-%6.0f)  %6.0f (%6.0f-%6.0f)  %5.0f (%5.0f-%5.0f)  %5.0f (%5.0f-%5.0f)  %4.0f "
            "(%4.0f-%4.0f)\n",
            size, s.median(), s.least(), s.most(), f.median(), f.least(), f.most(), p.median(), p.least(),
            p.most(), a.median(), a.least(), a.most(), g.median(), g.least(), g.most());
    }
    if (shown.contains(100000)) {
        std::printf(
            "library shown at 100 000: %.0f ms (goal 1500 ms or less), peak %.0f MB (goal 300 MB or less)\n",
            shown[100000].median(), peakAfter[100000].median());
    }
    if (shown.contains(10000) && shown.contains(100000))
        std::printf(
            "library shown at 100 000 against 10 000: %.2fx; first frame: %.2fx (goal 1.5x or less)\n",
            shown[100000].median() / shown[10000].median(), frame[100000].median() / frame[10000].median());
    if (peak.contains(100000) && peak.contains(300000)) {
        std::printf(
            "peak growth from 100 000 to 300 000 tracks: %.2f KB per track when shown, %.2f after two "
            "searches (goal 1.5 or less)\n",
            (peak[300000].median() - peak[100000].median()) * 1024.0 / 200000.0,
            (peakAfter[300000].median() - peakAfter[100000].median()) * 1024.0 / 200000.0);
    }
    return 0;
}
