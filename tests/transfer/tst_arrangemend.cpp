#include "drivefixtures.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "killedrun.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>

using namespace drivefixtures;

namespace {

// Where a child run dies: at a step of the arrange, or before a file-system call ("rmdir 2
// parked.2": the second rmdir of a path ending in "parked.2").
struct Kill {
    QString at;
    bool roomless = false;  // the drive says nothing of its room
    // Killed before its record was written, a run leaves no word of the folder it was putting in
    // order: the next run of that folder mends it.
    bool unrecorded = false;
};

}  // namespace

Q_DECLARE_METATYPE(Kill)

// A cut-short arrange is mended by the next run; that mend, and the clean-up of an arrange, can be
// killed at any file-system call and the run after it still finds every folder in play order,
// nothing of the program's left behind or handed to the user, and no word that is not true.
class TestArrangeMend : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;
    QHash<QString, QString> m_cut;  // a drive whose album or playlist an arrange left cut short

    QString song(const QString &name, int track) { return songIn(m_media, name, track); }

    QString alphaName(int n) const { return QString("%1 Song.mp3").arg(n, 2, 10, QChar('0')); }

    TrackMap alpha(const QList<int> &numbers)
    {
        TrackMap map;
        for (const int n : numbers)
            map.insert(n, trackOf(n, song("alpha/" + alphaName(n), n), "Alpha"));
        return map;
    }

    TrackMap road(const QStringList &names)
    {
        TrackMap map;
        for (const QString &name : names)
            map.insert(map.size() + 1, trackOf(map.size() + 1, song(name + ".mp3", 1), "Various", "Road"));
        return map;
    }

    TrackMap beta() { return {{900, trackOf(900, song("beta.mp3", 1), "Beta")}}; }

    // Runs one transfer in a child process that dies where `kill` says; true when it died there.
    bool killedRun(const QString &target, const TrackMap &tracks, const Kill &kill)
    {
        return killedrun::run(m_dir.path(), target, tracks, kill.at, kill.roomless);
    }

    // A copy of the drive `base` names, mounted at `mount`.
    bool mounted(const QString &base, const QString &image, const QString &mount)
    {
        QFile::remove(image);
        return QFile::copy(m_cut.value(base), image) && fatimage::mount(image, mount);
    }

    // The run after a fault, of another album: it ends well and says nothing of the drive.
    void nextRunSaysNothing(const QString &mount, const TrackMap &also = {})
    {
        ffmpeghandler handler;
        TrackMap tracks = beta();
        tracks.insert(also);
        const TransferReport report = handler.transferTracks(tracks, requestFor(mount));
        QCOMPARE(report.stop, TransferReport::Completed);
        QVERIFY2(report.failures.isEmpty() && report.notices.isEmpty(),
            qPrintable((report.failures + report.notices).join('\n')));
    }

private slots:
    void initTestCase()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        initKivoResources();
        m_media = m_dir.filePath("media");
        QDir().mkpath(m_media + "/alpha");
        const QString mount = m_dir.filePath("cut");
        // Alpha without 03 and 05, then a run bringing them killed with four songs parked.
        const QString album = m_dir.filePath("album.img");
        QVERIFY(fatimage::make(album, "64M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(fatimage::mount(album, mount));
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(alpha({1, 2, 4, 6, 7, 8, 9, 10}), requestFor(mount)).stop,
                TransferReport::Completed);
        }
        QVERIFY(killedRun(mount, alpha({3, 5}), {killedrun::atStep(int(FolderOrder::Step::MovedOut), 4)}));
        fatimage::unmount(mount);
        m_cut.insert("album", album);
        // The playlist Road A B C, then a run that puts D before C killed with two entries parked.
        const QString playlist = m_dir.filePath("playlist.img");
        QVERIFY(fatimage::make(playlist, "64M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(fatimage::mount(playlist, mount));
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(road({"A", "B", "C"}), requestFor(mount)).stop,
                TransferReport::Completed);
        }
        QVERIFY(killedRun(
            mount, road({"A", "B", "D", "C"}), {killedrun::atStep(int(FolderOrder::Step::MovedOut), 2)}));
        fatimage::unmount(mount);
        m_cut.insert("playlist", playlist);
    }

    // The run that mends a cut-short album or playlist, killed before its n-th mkdir, rmdir,
    // unlink or rename: the run after it leaves the folder in its play order.
    void killedMendIsMendedAgain_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("at");
        // The album's mend makes three rmdir calls, the last its hidden folder's; the unlink before
        // that removes its last record.
        const QList<QPair<const char *, QList<int>>> album{{"mkdir", {1, 2, 3, 5}}, {"rmdir", {1, 2, 3}},
            {"unlink", {1, 2, 3, 4}}, {"rename", {1, 3, 5, 9}}};
        const QList<QPair<const char *, QList<int>>> playlist{{"mkdir", {1, 2, 3, 5}},
            {"rmdir", {1, 2, 3, 4}}, {"unlink", {1, 2, 3}}, {"rename", {1, 3, 5, 9}}};
        for (const char *base : {"album", "playlist"}) {
            for (const auto &[op, counts] : QString(base) == "album" ? album : playlist) {
                for (const int n : counts)
                    QTest::newRow(qPrintable(QString("%1, %2 %3").arg(base, op).arg(n)))
                        << QString(base) << QString("%1 %2").arg(op).arg(n);
            }
        }
    }
    void killedMendIsMendedAgain()
    {
        QFETCH(QString, base);
        QFETCH(QString, at);
        const QString image = m_dir.filePath("mend.img"), mount = m_dir.filePath("mend");
        QVERIFY(mounted(base, image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        QVERIFY2(killedRun(mount, beta(), {at}), "the mend was not killed where it should be");
        fatimage::unmount(mount);
        QVERIFY(fatimage::mount(image, mount));
        nextRunSaysNothing(mount);
        unmount.dismiss();
        fatimage::unmount(mount);
        if (base == "album") {
            QStringList wanted;
            for (int n = 1; n <= 10; ++n)
                wanted << alphaName(n);
            QCOMPARE(fatimage::playedIn(image, "Example Media/Alpha"), wanted);
        } else {
            QCOMPARE(fatimage::playedIn(image, "Example Media/Road"),
                QStringList({"A.mp3", "B.mp3", "D.mp3", "C.mp3"}));
        }
        QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    // Seventy-one videos go out to two parked folders and back; the run is killed at each step of
    // its clean-up, or while it writes its room probe on a drive that says nothing of its room.
    void killedCleanUpLeavesNothing_data()
    {
        QTest::addColumn<Kill>("kill");
        QTest::newRow("parked folder") << Kill{"rmdir 1 /parked"};
        QTest::newRow("second parked folder") << Kill{"rmdir 1 /parked.2"};
        QTest::newRow("record") << Kill{"unlink 1 /record"};
        QTest::newRow("hidden folder") << Kill{"rmdir 1 .order"};
        QTest::newRow("room probe written") << Kill{"unlink 1 /room", true, true};
    }
    void killedCleanUpLeavesNothing()
    {
        QFETCH(Kill, kill);
        const QString image = m_dir.filePath("videos.img"), mount = m_dir.filePath("videos");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(QProcess::execute("mmd", {"-i", image, "::/Example Media", "::/Example Media/Videos"}) == 0);
        // Made last to first, so every one of them stands out of place.
        QStringList made;
        const QString shelf = m_dir.filePath("shelf");
        QDir(shelf).removeRecursively();
        for (int n = 71; n >= 1; --n) {
            const QString name = QString("v%1.mp4").arg(n, 3, 10, QChar('0'));
            QVERIFY(put(shelf + "/" + name, name.toUtf8()));
            made << shelf + "/" + name;
        }
        QVERIFY(QProcess::execute(
                    "mcopy", QStringList{"-i", image} + made + QStringList{"::/Example Media/Videos/"})
            == 0);
        const QString video = m_media + "/v000.mp4";
        QVERIFY(put(video, "v000"));
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        const TrackMap videos{{1, trackOf(1, video, "Unknown Album", {}, true)}};
        QVERIFY2(killedRun(mount, videos, kill), "the run was not killed where it should be");
        fatimage::unmount(mount);
        QVERIFY(fatimage::mount(image, mount));
        nextRunSaysNothing(mount, kill.unrecorded ? videos : TrackMap());
        unmount.dismiss();
        fatimage::unmount(mount);
        QStringList wanted;
        for (int n = 0; n <= 71; ++n)
            wanted << QString("v%1.mp4").arg(n, 3, 10, QChar('0'));
        QCOMPARE(fatimage::playedIn(image, "Example Media/Videos"), wanted);
        QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }
};

KIVO_TEST_MAIN_WITH_CHILD(TestArrangeMend, killedrun::kChildFlag, killedrun::child)
#include "tst_arrangemend.moc"
