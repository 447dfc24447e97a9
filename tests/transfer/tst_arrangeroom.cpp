#include "drivefixtures.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "killedrun.h"
#include "opkiller.h"
#include "testenv.h"

#include <QDir>
#include <QRegularExpression>
#include <QScopeGuard>

#include <cerrno>

using namespace drivefixtures;

namespace {

// What a run said of Alpha's order: how many notices, and the room figures of the one about room.
struct Said {
    int notices = 0;
    qint64 free = -1;  // bytes
    qint64 needed = -1;  // bytes
    QString text;
};

Said saidOfAlpha(const TransferReport &report)
{
    Said said;
    said.text = (report.failures + report.notices).join('\n');
    static const QRegularExpression figures("\\((\\d+) KB free, (\\d+) KB needed\\)");
    for (const QString &notice : report.notices) {
        if (!notice.startsWith("Alpha:"))
            continue;
        ++said.notices;
        const QRegularExpressionMatch match = figures.match(notice);
        if (match.hasMatch()) {
            said.free = match.captured(1).toLongLong() * 1024;
            said.needed = match.captured(2).toLongLong() * 1024;
        }
    }
    return said;
}

// The songs of Alpha in slot order.
QStringList songsOf(const QString &image)
{
    return fatimage::playedIn(image, "Example Media/Alpha");
}

}  // namespace

// The room an arrange asks for is the room it needs, counted before it moves anything: a folder it
// refuses stands as it did, with exactly the figure free it is put in order, and the mend of an
// arrange cut short on a drive that had just that room needs no more than it. All on FAT16 images
// through fusefat with clusters of 2 KB or more: fusefat corrupts a folder it must grow past a
// cluster of 512 bytes, and leaves a broken entry after a folder it failed to make on a full drive.
class TestArrangeRoom : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;
    QString m_exact;  // Alpha of ten songs, last to first, with exactly the room its arrange asks for
    qint64 m_exactNeeded = 0;

    static QString songName(int n) { return QString("%1 Song.mp3").arg(n, 2, 10, QChar('0')); }

    TrackMap alpha(int songs)
    {
        TrackMap map;
        for (int n = 1; n <= songs; ++n)
            map.insert(n, trackOf(n, songIn(m_media, songName(n), n), "Alpha"));
        return map;
    }

    TrackMap beta() { return {{900, trackOf(900, songIn(m_media, "beta.mp3", 1), "Beta")}}; }

    static QStringList inOrder(int songs)
    {
        QStringList names;
        for (int n = 1; n <= songs; ++n)
            names << songName(n);
        return names;
    }

    // A FAT16 image of `perCluster` sectors a cluster whose Alpha holds `names` in that slot order,
    // written by mtools after `removed` files it deletes again, so their slots lie free first.
    bool imageWith(
        const QString &image, const QString &size, int perCluster, const QStringList &names, int removed = 0)
    {
        if (!fatimage::make(image, size, {"-F", "16", "-s", QString::number(perCluster), "-n", "CAR"})
            || !fatimage::mtool("mmd", {"-i", image, "::/Example Media", "::/Example Media/Alpha"}))
            return false;
        QStringList paths, gone;
        for (int n = 1; n <= removed; ++n) {
            paths << m_media + QString("/Removed long name %1.txt").arg(n);
            gone << "::/Example Media/Alpha/" + QFileInfo(paths.last()).fileName();
            put(paths.last(), "gone");
        }
        for (const QString &name : names) {
            const QRegularExpressionMatch number = QRegularExpression("^(\\d\\d) ").match(name);
            paths << (number.hasMatch() ? songIn(m_media, name, number.captured(1).toInt())
                                        : m_media + "/" + name);
            if (!number.hasMatch())
                put(paths.last(), "the user's notes");
        }
        return fatimage::mtool(
                   "mcopy", QStringList{"-i", image} + paths + QStringList{"::/Example Media/Alpha/"})
            && (gone.isEmpty() || fatimage::mtool("mdel", QStringList{"-i", image} + gone));
    }

    TransferReport transfer(const QString &image, const TrackMap &tracks)
    {
        return transferOnto(image, m_dir.filePath("drive"), tracks);
    }

    // A run refused for want of room: Alpha and everything in it exactly as it stood, nothing of
    // the program's left, one notice with the figures. Returns the room it asked for.
    qint64 refused(const QString &image, const TrackMap &tracks, qint64 free, qint64 cluster)
    {
        const QList<fatimage::Slot> before = fatimage::slotsOf(image, "Example Media/Alpha");
        const Said said = saidOfAlpha(transfer(image, tracks));
        [&] {
            QCOMPARE(said.notices, 1);
            QVERIFY2(said.text.contains("too full to put it in order"), qPrintable(said.text));
            QCOMPARE(said.free, free);
            QVERIFY2(said.needed > free && said.needed % cluster == 0, qPrintable(said.text));
            const QList<fatimage::Slot> after = fatimage::slotsOf(image, "Example Media/Alpha");
            QCOMPARE(after.size(), before.size());
            for (qsizetype i = 0; i < after.size(); ++i) {
                QCOMPARE(after.at(i).name, before.at(i).name);
                QCOMPARE(after.at(i).index, before.at(i).index);
                QCOMPARE(after.at(i).cluster, before.at(i).cluster);
            }
            QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        }();
        return QTest::currentTestFailed() ? -1 : said.needed;
    }

    // The run after a fault, of another album: it ends well, says nothing, and leaves Alpha in
    // play order with nothing of the program's on the drive.
    void nextRunMends(const QString &image, int songs, bool pulled, const TrackMap &also = {})
    {
        TrackMap tracks = beta();
        tracks.insert(also);
        const TransferReport report = transfer(image, tracks);
        QCOMPARE(report.stop, TransferReport::Completed);
        QVERIFY2(report.failures.isEmpty() && report.notices.isEmpty(),
            qPrintable((report.failures + report.notices).join('\n')));
        QCOMPARE(songsOf(image), inOrder(songs));
        QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        // A pulled stick keeps a count of free clusters from before its last folder was made, a
        // hint fusefat takes as it is; fsck corrects it.
        const QString fsck = fatimage::fsckProblems(image, pulled);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

private slots:
    void initTestCase()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        initKivoResources();
        m_media = m_dir.filePath("media");
        QDir().mkpath(m_media);
        // Ten songs last to first, so every one goes out, and those put back after a cut still
        // stand out of order; the figure is what a refused run asks for.
        m_exact = m_dir.filePath("exact.img");
        QStringList names;
        for (int n = 10; n >= 1; --n)
            names << songName(n);
        QVERIFY(imageWith(m_exact, "16M", 4, names));
        QVERIFY(fatimage::leaveFree(m_exact, 2048));
        m_exactNeeded = refused(m_exact, alpha(10), 2048, 2048);
        QVERIFY(m_exactNeeded > 0);
        QVERIFY(fatimage::leaveFree(m_exact, m_exactNeeded));
        qInfo("ten songs, 2 KB clusters: 2 KB free, %lld KB needed", m_exactNeeded / 1024);
    }

    // An album whose arrange takes a second pass (free slots before its first song, a file of the
    // user's among them): refused, however close the room, until the figure it gives is free.
    void secondPassAsksForAllItTakes()
    {
        const QString image = m_dir.filePath("second.img");
        QVERIFY(imageWith(image, "16M", 4, {songName(1), "NOTES.TXT", songName(3), songName(2)}, 4));
        QVERIFY(fatimage::leaveFree(image, 2048));
        const qint64 needed = refused(image, alpha(3), 2048, 2048);
        QVERIFY(needed > 0);
        QVERIFY(fatimage::leaveFree(image, needed - 2048));
        QCOMPARE(refused(image, alpha(3), needed - 2048, 2048), needed);

        QVERIFY(fatimage::leaveFree(image, needed));
        int records = 0;
        FolderOrder::stepHook
            = [&records](FolderOrder::Step at, int) { records += at == FolderOrder::Step::Recorded; };
        const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
        const TransferReport report = transfer(image, alpha(3));
        QCOMPARE(report.stop, TransferReport::Completed);
        QVERIFY2(report.notices.isEmpty(), qPrintable(report.notices.join('\n')));
        QCOMPARE(records, 2);
        QCOMPARE(songsOf(image), inOrder(3));
        QVERIFY(fatimage::namesIn(image, "Example Media/Alpha").contains("NOTES.TXT"));
        QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
        qInfo("second pass, 2 KB clusters: %lld KB needed, put in order with that free", needed / 1024);
    }

    // A full drive: not even the hidden folder could be made. The figure is in whole clusters of
    // the drive, and enough.
    void fullDriveAsksInClusters_data()
    {
        QTest::addColumn<int>("perCluster");
        QTest::addColumn<QString>("size");
        QTest::newRow("2 KB clusters") << 4 << "16M";
        QTest::newRow("32 KB clusters") << 64 << "256M";
    }
    void fullDriveAsksInClusters()
    {
        QFETCH(int, perCluster);
        QFETCH(QString, size);
        const QString image = m_dir.filePath("full.img");
        QVERIFY(imageWith(image, size, perCluster,
            {songName(2), songName(1), songName(3), songName(4), songName(5), songName(6)}));
        QVERIFY(fatimage::leaveFree(image, 0));
        const qint64 cluster = perCluster * 512;
        const qint64 needed = refused(image, alpha(6), 0, cluster);
        QVERIFY(needed > 0);
        QVERIFY(fatimage::leaveFree(image, needed));
        const TransferReport report = transfer(image, alpha(6));
        QCOMPARE(report.stop, TransferReport::Completed);
        QVERIFY2(report.notices.isEmpty(), qPrintable(report.notices.join('\n')));
        QCOMPARE(songsOf(image), inOrder(6));
        QVERIFY2(fatimage::leftOvers(image).isEmpty(), qPrintable(fatimage::leftOvers(image)));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
        qInfo("full drive, %d KB clusters: 0 KB free, %lld KB needed, put in order with that free",
            perCluster / 2, needed / 1024);
    }

    // The drive with exactly the room the arrange asked for, the run pulled or killed at a step
    // of its moves out or back: the next run, of another album, mends Alpha and says nothing.
    void exactRoomIsEnoughForTheMend_data()
    {
        QTest::addColumn<bool>("pull");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("count");
        using S = FolderOrder::Step;
        // Cut off before its record was written, a run leaves no word of Alpha: the next run of
        // Alpha puts it in order.
        QTest::newRow("pulled, record opened") << true << int(S::RecordOpened) << 0;
        QTest::newRow("pulled, 4th out") << true << int(S::MovedOut) << 4;
        QTest::newRow("pulled, 10th out") << true << int(S::MovedOut) << 10;
        QTest::newRow("pulled, 3rd back") << true << int(S::MovedBack) << 3;
        QTest::newRow("killed, recorded") << false << int(S::Recorded) << 0;
        QTest::newRow("killed, 4th out") << false << int(S::MovedOut) << 4;
        QTest::newRow("killed, 1st back") << false << int(S::MovedBack) << 1;
        QTest::newRow("killed, 9th back") << false << int(S::MovedBack) << 9;
        QTest::newRow("killed, unplugged") << false << int(S::Unplugged) << 0;
    }
    void exactRoomIsEnoughForTheMend()
    {
        QFETCH(bool, pull);
        QFETCH(int, step);
        QFETCH(int, count);
        const QString image = m_dir.filePath("cut.img"), mount = m_dir.filePath("cut");
        QFile::remove(image);
        QVERIFY(QFile::copy(m_exact, image));
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        if (pull) {
            bool struck = false;
            FolderOrder::stepHook = [&](FolderOrder::Step at, int n) {
                if (!struck && int(at) == step && n == count)
                    struck = fatimage::pull(image);
            };
            const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(alpha(10), requestFor(mount)).stop, TransferReport::DriveRemoved);
            QVERIFY(struck);
        } else {
            QVERIFY2(killedrun::run(m_dir.path(), mount, alpha(10), killedrun::atStep(step, count)),
                "the run was not killed where it should be");
        }
        unmount.dismiss();
        fatimage::unmount(mount);
        nextRunMends(image, 10, pull, step == int(FolderOrder::Step::RecordOpened) ? alpha(10) : TrackMap());
    }

    // The mend refused for want of room, in a run that brings the same album again: one notice,
    // whose figure, once free, is what the next run mends it with.
    void refusedMendIsToldOnce()
    {
        const QString image = m_dir.filePath("refused.img"), mount = m_dir.filePath("refused");
        QFile::remove(image);
        QVERIFY(QFile::copy(m_exact, image));
        QVERIFY(fatimage::mount(image, mount));
        QVERIFY(killedrun::run(
            m_dir.path(), mount, alpha(10), killedrun::atStep(int(FolderOrder::Step::MovedOut), 4)));
        fatimage::unmount(mount);
        QVERIFY(fatimage::leaveFree(image, 0));
        // The mend first gives back what the cut-short arrange held beyond its record.
        const Said said = saidOfAlpha(transfer(image, alpha(10)));
        QVERIFY2(said.notices == 1 && said.free >= 0 && said.needed > said.free && said.needed % 2048 == 0,
            qPrintable(said.text));
        QCOMPARE(fatimage::bytesFree(image), said.free);
        QVERIFY(!fatimage::leftOvers(image).isEmpty());
        QVERIFY(fatimage::leaveFree(image, said.needed));
        nextRunMends(image, 10, false);
        qInfo("mend, 2 KB clusters: %lld KB free, %lld KB needed, mended with that free", said.free / 1024,
            said.needed / 1024);
    }

    // The drive finds no room after all for the third move out (another writer, a driver that
    // misjudged): what went out comes back, the record stays, and the run says the next one tries
    // again; it does. fusefat itself drops an entry whose move fails for want of room, so the
    // refusal is the driver's word alone here.
    void roomGoneMidwayIsSaid()
    {
        const QString image = m_dir.filePath("midway.img"), mount = m_dir.filePath("midway");
        QFile::remove(image);
        QVERIFY(QFile::copy(m_exact, image));
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        opkiller::fail(opkiller::Op::Rename, 3, mount, ENOSPC, ".mp3");
        {
            ffmpeghandler handler;
            const TransferReport report = handler.transferTracks(alpha(10), requestFor(mount));
            opkiller::fail(opkiller::Op::Rename, 0, {}, 0);
            QCOMPARE(report.stop, TransferReport::Completed);
            const QString notices = report.notices.join('\n');
            QVERIFY2(report.notices.size() == 1 && notices.startsWith("Alpha: could not be put in play order")
                    && notices.contains("the next transfer onto this drive tries again"),
                qPrintable(notices));
        }
        QCOMPARE(QDir(mount + "/Example Media/Alpha").entryList(QDir::Files).size(), 10);
        unmount.dismiss();
        fatimage::unmount(mount);
        QVERIFY(!fatimage::leftOvers(image).isEmpty());
        nextRunMends(image, 10, false);
    }

    // A top folder with room for one hidden folder, the stick pulled with two songs parked: the
    // mend needs no second one, and the next run of another album puts Alpha in order.
    void nearlyFullTopFolderIsMended()
    {
        const QString image = m_dir.filePath("top.img"), mount = m_dir.filePath("top");
        // Last to first, so the two songs put back after the pull still stand out of order.
        QVERIFY(imageWith(image, "16M", 4, {songName(4), songName(3), songName(2), songName(1)}));
        QStringList fillers;
        for (int n = 1; n <= 520; ++n) {
            fillers << m_dir.filePath(QString("shelf/F%1.TXT").arg(n, 4, 10, QChar('0')));
            QVERIFY(put(fillers.last(), ""));
        }
        fatimage::mtool("mcopy", QStringList{"-i", image} + fillers + QStringList{"::/"});
        // Five slots: a hidden folder's long name takes four, two of them eight.
        QVERIFY(fatimage::mtool("mdel",
            {"-i", image, "::/F0001.TXT", "::/F0002.TXT", "::/F0003.TXT", "::/F0004.TXT", "::/F0005.TXT"}));
        QVERIFY(fatimage::mtool("mmd", {"-i", image, "::/.kivo-1234567.1234567890-1.order"}));
        QVERIFY(!fatimage::mtool("mmd", {"-i", image, "::/.kivo-1234567.1234567890-2.order"}));
        QVERIFY(fatimage::mtool("mrd", {"-i", image, "::/.kivo-1234567.1234567890-1.order"}));

        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        bool struck = false;
        FolderOrder::stepHook = [&](FolderOrder::Step at, int n) {
            if (!struck && at == FolderOrder::Step::MovedOut && n == 2)
                struck = fatimage::pull(image);
        };
        const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(alpha(4), requestFor(mount)).stop, TransferReport::DriveRemoved);
        }
        FolderOrder::stepHook = {};
        QVERIFY(struck);
        unmount.dismiss();
        fatimage::unmount(mount);
        QVERIFY(!fatimage::leftOvers(image).isEmpty());
        nextRunMends(image, 4, true);
    }
};

KIVO_TEST_MAIN_WITH_CHILD(TestArrangeRoom, killedrun::kChildFlag, killedrun::child)
#include "tst_arrangeroom.moc"
