#include "drivefixtures.h"
#include "drivemessages.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "mediagen.h"
#include "parkingrecord.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>

#include <functional>

using namespace drivefixtures;

namespace {

// What mtools says of a path on an unmounted image: its bytes, or the folder's names in slot order.
QByteArray typed(const QString &image, const QString &path)
{
    QProcess type;
    type.start("mtype", {"-i", image, "::/" + path});
    type.waitForFinished(-1);
    return type.exitCode() == 0 ? type.readAllStandardOutput() : QByteArray("<missing>");
}

QStringList listed(const QString &image, const QString &folder)
{
    QProcess dir;
    dir.start("mdir", {"-i", image, "-b", "-a", "::/" + folder});
    dir.waitForFinished(-1);
    QStringList names;
    for (const QString &line : QString::fromUtf8(dir.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts))
        names << line.section('/', -1);
    return names;
}

// Every entry below `root` whose name starts with ".kivo-": what the program hides.
QStringList hiddenBelow(const QString &root)
{
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileName().startsWith(".kivo-"))
            found << it.filePath();
    }
    return found;
}

QString hidden(const QString &target, int n)
{
    return target + QString("/.kivo-2147483600-%1.order").arg(n);
}

QByteArray recordOf(const QString &folder, const QStringList &back, const QString &kind = "album")
{
    ParkingRecord r;
    r.folder = folder;
    r.kind = kind;
    r.back = back;
    return r.text();
}

}  // namespace

// The arrange where the drive is nearly full, names are long, a playlist is cut short or a hidden
// folder holds what no run of this program made: nothing is lost, hidden without a word or
// deleted, no run hangs, and the counts of the end message add up.
class TestArrangeLimits : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;

    QString song(const QString &name, int track) { return songIn(m_media, name, track); }
    static track entry(qint64 id, const QString &path, const QString &album, const QString &playlist = {})
    {
        return trackOf(id, path, album, playlist);
    }

    TrackMap beta() { return {{900, entry(900, song("beta.mp3", 1), "Beta")}}; }

    // Each case on a plain folder and on a FAT32 image through fusefat (a real FAT driver).
    void onBothTargets()
    {
        QTest::addColumn<bool>("fat");
        QTest::newRow("folder") << false;
        QTest::newRow("FAT32 image") << true;
    }

    // The target of the row: a folder, or an image mounted until `unmount` runs.
    QString targetFor(const QString &name, bool fat, std::function<void()> *unmount)
    {
        const QString folder = m_dir.filePath(name + (fat ? "-fat" : ""));
        if (!fat)
            return folder;
        const QString image = folder + ".img";
        if (!fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}) || !fatimage::mount(image, folder))
            return {};
        *unmount = [folder, image] {
            fatimage::unmount(folder);
            const QString fsck = fatimage::fsckProblems(image);
            QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
        };
        return folder;
    }

private slots:
    void initTestCase()
    {
        initKivoResources();
        m_media = m_dir.filePath("media");
        QDir().mkpath(m_media);
    }

    // A FAT16 stick of 4 MB with 1.5 KB free whose album stands out of order: the arrange does not
    // start, says why, and every song stays whole where it was; the next run loses nothing either.
    void fullStickKeepsEverySong()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("full.img"), mount = m_dir.filePath("full");
        QVERIFY(fatimage::make(image, "4M", {"-F", "16", "-s", "1", "-n", "CAR"}));
        QVERIFY(QProcess::execute("mmd", {"-i", image, "::/Example Media", "::/Example Media/Alpha"}) == 0);
        TrackMap album;
        QHash<QString, QByteArray> made;
        for (const int n : {2, 1, 3, 4, 5, 6}) {
            const QString name = QString("0%1 Song.mp3").arg(n);
            const QString path = song("full-" + name, n);
            const QString named = m_dir.filePath(name);
            QFile::remove(named);
            QVERIFY(QFile::copy(path, named));
            QVERIFY(QProcess::execute("mcopy", {"-i", image, named, "::/Example Media/Alpha/"}) == 0);
            made.insert(name, bytesOf(path));
            track t = entry(n, named, "Alpha");
            album.insert(t.id, t);
        }
        QVERIFY(put(m_dir.filePath("notes.txt"), "mine"));
        QVERIFY(
            QProcess::execute("mcopy", {"-i", image, m_dir.filePath("notes.txt"), "::/Example Media/Alpha/"})
            == 0);
        QProcess info;
        info.start("mdir", {"-i", image, "::"});
        info.waitForFinished(-1);
        const QRegularExpression freeLine("([\\d ]+) bytes free");
        const qint64 free = freeLine.match(QString::fromUtf8(info.readAllStandardOutput()))
                                .captured(1)
                                .remove(' ')
                                .toLongLong();
        QVERIFY(free > 4096);
        QFile filler(m_dir.filePath("filler"));
        QVERIFY(filler.open(QIODevice::WriteOnly) && filler.resize(free - 1536));
        filler.close();
        QVERIFY(QProcess::execute("mcopy", {"-i", image, filler.fileName(), "::/"}) == 0);

        const QStringList before = listed(image, "Example Media/Alpha");
        for (int run = 0; run < 2; ++run) {
            QVERIFY(fatimage::mount(image, mount));
            ffmpeghandler handler;
            const TransferReport report = handler.transferTracks(album, requestFor(mount));
            fatimage::unmount(mount);
            QCOMPARE(report.stop, TransferReport::Completed);
            QCOMPARE(report.kept, 6);
            QVERIFY2(report.failures.isEmpty(), qPrintable(report.failures.join('\n')));
            const QString message = DriveMessages().endOfTransfer(report, 6, "log");
            QVERIFY2(message.contains("0 failed")
                    && message.contains("On the drive:\nAlpha: not in play order")
                    && message.contains("too full"),
                qPrintable(message));
            const QString fsck = fatimage::fsckProblems(image);
            QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
            QCOMPARE(listed(image, "Example Media/Alpha"), before);
            for (auto it = made.cbegin(); it != made.cend(); ++it)
                QVERIFY2(typed(image, "Example Media/Alpha/" + it.key()) == it.value(), qPrintable(it.key()));
            QVERIFY2(
                !listed(image, "").join(' ').contains(".kivo-"), qPrintable(listed(image, "").join(' ')));
        }
    }

    // A playlist A B C to which the next run adds D before C, its stick pulled after two entries
    // went out: that run counts no failure and says under its own heading where they wait; the run
    // after it, of another album, leaves the playlist's folder A B D C.
    void cutShortPlaylistComesBackInItsOrder()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("road.img"), mount = m_dir.filePath("road");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        const auto road = [&](const QStringList &names) {
            TrackMap map;
            for (const QString &name : names)
                map.insert(map.size() + 1, entry(map.size() + 1, song(name + ".mp3", 1), "Various", "Road"));
            return map;
        };
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(road({"A", "B", "C"}), requestFor(mount)).stop,
                TransferReport::Completed);
        }
        bool struck = false;
        FolderOrder::stepHook = [&](FolderOrder::Step at, int count) {
            if (!struck && at == FolderOrder::Step::MovedOut && count == 2)
                struck = fatimage::pull(image);
        };
        const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
        TransferReport pulled;
        {
            ffmpeghandler handler;
            pulled = handler.transferTracks(road({"A", "B", "D", "C"}), requestFor(mount));
        }
        FolderOrder::stepHook = {};
        QVERIFY(struck);
        QCOMPARE(pulled.stop, TransferReport::DriveRemoved);
        QVERIFY2(pulled.failures.isEmpty(), qPrintable(pulled.failures.join('\n')));
        const QString message = DriveMessages().endOfTransfer(pulled, 4, "log");
        QVERIFY2(message.contains("; 0 failed.") && !message.contains("could not be transferred")
                && message.contains("On the drive:\nRoad: ") && message.contains("hidden folder “.kivo-"),
            qPrintable(message));
        QCOMPARE(pulled.copied + pulled.kept, 4);

        fatimage::unmount(mount);
        QVERIFY(fatimage::mount(image, mount));
        {
            ffmpeghandler handler;
            const TransferReport report = handler.transferTracks(beta(), requestFor(mount));
            QCOMPARE(report.stop, TransferReport::Completed);
            QVERIFY2(report.notices.isEmpty(), qPrintable(report.notices.join('\n')));
        }
        unmount.dismiss();
        fatimage::unmount(mount);
        QStringList played;
        for (const QString &name : fatimage::namesIn(image, "Example Media/Road"))
            if (name.endsWith(".mp3"))
                played << name;
        QCOMPARE(played, QStringList({"A.mp3", "B.mp3", "D.mp3", "C.mp3"}));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    // A parked file of 252 characters whose name is taken in its folder and among the recovered
    // files: the run ends, and the file is shown under a shortened name and named.
    void longNameTakenEverywhereEnds_data() { onBothTargets(); }
    void longNameTakenEverywhereEnds()
    {
        QFETCH(bool, fat);
        if (fat && !fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        std::function<void()> unmount = [] {};
        const QString target = targetFor("long", fat, &unmount);
        QVERIFY(!target.isEmpty());
        const auto done = qScopeGuard([&] { unmount(); });
        // With " (2)" no name fits.
        const QString name = QString(248, QChar('x')) + ".mp3";
        QVERIFY(put(hidden(target, 1) + "/record", recordOf("Example Media/Al", {name}))
            && put(hidden(target, 1) + "/parked/" + name, "parked"));
        QVERIFY(put(target + "/Example Media/Al/" + name, "the user's"));
        QVERIFY(put(target + "/" + FolderOrder::kRecoveredFolder + "/" + name, "recovered before"));
        ffmpeghandler handler;
        const TransferReport report = handler.transferTracks(beta(), requestFor(target));
        QCOMPARE(report.stop, TransferReport::Completed);
        QCOMPARE(bytesOf(target + "/Example Media/Al/" + name), QByteArray("the user's"));
        const QString shelter = target + "/" + FolderOrder::kRecoveredFolder;
        QCOMPARE(bytesOf(shelter + "/" + name), QByteArray("recovered before"));
        const QStringList there = QDir(shelter).entryList(QDir::Files);
        QCOMPARE(there.size(), 2);
        const QString shown = there.at(0) == name ? there.at(1) : there.at(0);
        QVERIFY(shown.toUtf8().size() <= 255 && shown.endsWith(" (2).mp3"));
        QCOMPARE(bytesOf(shelter + "/" + shown), QByteArray("parked"));
        QVERIFY2(report.notices.join('\n').contains(shown), qPrintable(report.notices.join('\n')));
        QVERIFY(hiddenBelow(target).isEmpty());
    }

    // Hidden folders made by hand: an earlier version's with a file of the user's named "record",
    // a "record" that is a folder, a file named "parked", a record leading into another hidden
    // folder, a record naming a file that is gone, and the user's own empty KIVO0001.TMP beside
    // them. Nothing stays hidden without a word, and nothing of the user's is deleted.
    void handMadeLeftOversAreTheUsers_data() { onBothTargets(); }
    void handMadeLeftOversAreTheUsers()
    {
        QFETCH(bool, fat);
        if (fat && !fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        std::function<void()> unmount = [] {};
        const QString target = targetFor("handmade", fat, &unmount);
        QVERIFY(!target.isEmpty());
        const auto done = qScopeGuard([&] { unmount(); });
        const QString album = target + "/Example Media/Al/";
        QVERIFY(put(album + "KIVO0001.TMP", "") && put(album + "kept.mp3", "kept"));
        QVERIFY(put(hidden(target, 1) + "/.kivo-origin", "Example Media/Al")
            && put(hidden(target, 1) + "/s1.mp3", "1") && put(hidden(target, 1) + "/record", "mine 1"));
        QVERIFY(
            put(hidden(target, 2) + "/record/s2.mp3", "2") && QDir().mkpath(hidden(target, 2) + "/parked"));
        QVERIFY(put(hidden(target, 3) + "/record", recordOf("Example Media/Al", {"s3.mp3"}))
            && put(hidden(target, 3) + "/parked", "mine 3"));
        QVERIFY(
            put(hidden(target, 4) + "/record", recordOf("Example Media/.kivo-2147483600-9.order", {"s4.mp3"}))
            && put(hidden(target, 4) + "/parked/s4.mp3", "4"));
        QVERIFY(put(hidden(target, 5) + "/record", recordOf("Example Media/Al", {"s5.mp3", "gone5.mp3"}))
            && put(hidden(target, 5) + "/parked/s5.mp3", "5"));

        // Parked in two folders, as a large folder's entries are; a third is not the record's.
        ParkingRecord two;
        two.folder = "Example Media/Two";
        two.kind = "names";
        two.back = {"b1.mp4", "b2.mp4", "b3.mp4"};
        two.bundles = 2;
        QVERIFY(put(hidden(target, 6) + "/record", two.text())
            && put(hidden(target, 6) + "/parked/b1.mp4", "b1")
            && put(hidden(target, 6) + "/parked.2/b2.mp4", "b2")
            && put(hidden(target, 6) + "/parked.2/b3.mp4", "b3")
            && put(hidden(target, 6) + "/parked.3/mine.txt", "mine 6"));

        ffmpeghandler handler;
        const TransferReport report = handler.transferTracks(beta(), requestFor(target));
        QCOMPARE(report.stop, TransferReport::Completed);
        const QString notices = report.notices.join('\n');
        for (const char *name : {"b1", "b2", "b3"})
            QCOMPARE(bytesOf(target + "/Example Media/Two/" + name + ".mp4"), QByteArray(name));
        // The earlier version parked everything, the user's "record" too: all of it goes back.
        QCOMPARE(bytesOf(album + "s1.mp3"), QByteArray("1"));
        QCOMPARE(bytesOf(album + "record"), QByteArray("mine 1"));
        QCOMPARE(bytesOf(album + "KIVO0001.TMP"), QByteArray(""));
        QCOMPARE(bytesOf(album + "kept.mp3"), QByteArray("kept"));
        QCOMPARE(bytesOf(album + "s5.mp3"), QByteArray("5"));
        const QString shelter = target + "/" + FolderOrder::kRecoveredFolder + "/";
        QCOMPARE(bytesOf(shelter + "record/s2.mp3"), QByteArray("2"));
        QCOMPARE(bytesOf(shelter + "parked"), QByteArray("mine 3"));
        QCOMPARE(bytesOf(shelter + "s4.mp3"), QByteArray("4"));
        QCOMPARE(bytesOf(shelter + "parked.3/mine.txt"), QByteArray("mine 6"));
        QVERIFY(!QFileInfo::exists(target + "/Example Media/.kivo-2147483600-9.order"));
        for (const char *named : {"record", "parked", "s4.mp3", "s3.mp3", "gone5.mp3"})
            QVERIFY2(notices.contains(named), qPrintable(QString("%1 in:\n%2").arg(named, notices)));
        QVERIFY2(notices.contains("transfer that album again"), qPrintable(notices));
        QVERIFY2(hiddenBelow(target).isEmpty(), qPrintable(hiddenBelow(target).join('\n')));
        const QString message = DriveMessages().endOfTransfer(report, 1, "log");
        QVERIFY2(message.contains("0 failed") && !message.contains("could not be transferred"),
            qPrintable(message));
    }

    // A run cut short between writing a new record and removing the one before leaves two in one
    // hidden folder, beside a probe a FUSE driver kept under a name of its own: all of it is the
    // program's, the entries of both go back, and nothing is shown to the user as theirs.
    void twoRecordsAreTheProgramsOwn_data() { onBothTargets(); }
    void twoRecordsAreTheProgramsOwn()
    {
        QFETCH(bool, fat);
        if (fat && !fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        std::function<void()> unmount = [] {};
        const QString target = targetFor("tworecords", fat, &unmount);
        QVERIFY(!target.isEmpty());
        const auto done = qScopeGuard([&] { unmount(); });
        const QString album = target + "/Example Media/Al/";
        QVERIFY(put(album + "a.mp3", "a"));
        ParkingRecord first;
        first.folder = "Example Media/Al";
        first.kind = "names";
        first.back = {"b.mp3"};
        first.order = {"a.mp3", "b.mp3"};
        first.plugs = true;
        ParkingRecord second = first;
        second.back = {"b.mp3", "c.mp3"};
        second.order = {"a.mp3", "b.mp3", "c.mp3"};
        QVERIFY(put(hidden(target, 1) + "/record", first.text())
            && put(hidden(target, 1) + "/record.2", second.text())
            && put(hidden(target, 1) + "/parked/b.mp3", "b") && put(hidden(target, 1) + "/parked/c.mp3", "c")
            && put(hidden(target, 1) + "/.fuse_hidden0000000100000001", QByteArray(4096, '\0')));
        // Cut off while it wrote its second record, before anything moved under it.
        QVERIFY(put(hidden(target, 2) + "/record", first.text())
            && put(hidden(target, 2) + "/record.2", second.text().left(30)));

        ffmpeghandler handler;
        const TransferReport report = handler.transferTracks(beta(), requestFor(target));
        QCOMPARE(report.stop, TransferReport::Completed);
        QVERIFY2(report.notices.isEmpty(), qPrintable(report.notices.join('\n')));
        for (const char *name : {"a", "b", "c"})
            QCOMPARE(bytesOf(album + name + ".mp3"), QByteArray(name));
        QVERIFY2(hiddenBelow(target).isEmpty(), qPrintable(hiddenBelow(target).join('\n')));
        QVERIFY(!QFileInfo::exists(target + "/" + FolderOrder::kRecoveredFolder));
    }

    // Names the program gives its plugs, and the names it looks for once a name is taken, bounded.
    void namesStayBounded()
    {
        QVERIFY(ParkingRecord::isPlugName(ParkingRecord::plugName(3, 41)));
        QCOMPARE(ParkingRecord::plugName(3, 41).size(), 41);
        QCOMPARE(ParkingRecord::plugName(3, 300).size(), 255);
        QCOMPARE(ParkingRecord::plugName(3, 5), QString("KIVO0003.TMP"));
        QVERIFY(!ParkingRecord::isPlugName("KIVO0003-x.TMP"));
        QVERIFY(ParkingRecord::isRecordBegun("") && ParkingRecord::isRecordBegun("KiVO par")
            && ParkingRecord::isRecordBegun(recordOf("a", {}).chopped(5))
            && !ParkingRecord::isRecordBegun("mine"));
        QVERIFY(!ParkingRecord::refusal("/nowhere", "Example Media/.KIVO-1-1.order/x").isEmpty());
    }
};

KIVO_TEST_MAIN(TestArrangeLimits)
#include "tst_arrangelimits.moc"
