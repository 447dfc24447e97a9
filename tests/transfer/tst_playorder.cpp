#include "drivefixtures.h"
#include "drivemessages.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "mediagen.h"
#include "parkingrecord.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QScopeGuard>

#include <random>
#include <signal.h>
#include <unistd.h>

namespace {

using drivefixtures::bytesOf;
using drivefixtures::put;
using drivefixtures::requestFor;
using fatimage::namesIn;

QString fsckOf(const QString &image, bool pulled = false)
{
    return fatimage::fsckProblems(image, pulled);
}

// The songs of the album the trials put in order. Names of other lengths take other numbers of
// slots, so what comes back cannot simply fill the gaps its own going left.
QString alphaName(int n)
{
    return QString("%1 %2.mp3").arg(n, 2, 10, QChar('0')).arg(n == 4 ? "Song of a far longer name" : "Song");
}

// One fault of the trials: where it strikes, and whether the process dies or the stick goes.
struct Fault {
    FolderOrder::Step step = FolderOrder::Step::Staging;
    int count = 0;
    bool pull = false;
};

}  // namespace

Q_DECLARE_METATYPE(Fault)

// Each folder of a FAT drive in the order its files are played, with the numbers of the files'
// own tags, after runs cut short at every step of putting a folder in order, and with the user's
// own files in the folders left where they are.
class TestPlayOrder : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;
    QString m_baseline;  // a drive whose album "Alpha" must be put in order by the next run
    QHash<QString, QByteArray> m_alpha;  // the files of Alpha by name, as made
    QMap<QString, QByteArray> m_userFiles;  // the user's own entries in Alpha

    QString song(const QString &name, int track, int disc = 0, const QString &total = {})
    {
        return drivefixtures::makeSong(m_media + "/" + name, track, disc, total);
    }

    static track entry(qint64 id, const QString &path, const QString &album, const QString &title = {})
    {
        track t;
        t.id = id;
        t.filepath = path;
        t.albumname = album;
        t.trackname = title;
        return t;
    }

    // The ten songs of Alpha, with the cover that makes Folder.png.
    TrackMap alpha(const QList<int> &numbers)
    {
        TrackMap map;
        for (const int n : numbers) {
            track t = entry(n, m_media + "/alpha/" + alphaName(n), "Alpha");
            t.cover = m_media + "/cover.png";
            map.insert(t.id, t);
        }
        return map;
    }

    // The played files of Alpha in slot order must be 01 to 10, each whole; the user's entries
    // stand in the slots they had, and nothing of the program's own is left on the drive.
    void checkAlpha(const QString &image, const QList<fatimage::Slot> &userSlots, bool pulled = false)
    {
        QProcess tree;
        tree.start("mdir", {"-i", image, "-/", "-a", "-b", "::"});
        QVERIFY(tree.waitForFinished(-1));
        const QString all = QString::fromUtf8(tree.readAllStandardOutput());
        // The user's ".kivo-origin" and "KIVO0002.TMP" are theirs.
        QVERIFY2(!all.contains(QRegularExpression("\\.kivo-\\d")) && all.count("KIVO0") == 1
                && !all.contains("recovered"),
            qPrintable(all));
        const QList<fatimage::Slot> entries = fatimage::slotsOf(image, "Example Media/Alpha");
        QStringList played;
        for (const fatimage::Slot &slot : entries) {
            if (slot.name.endsWith(".mp3"))
                played << slot.name;
        }
        QStringList wanted;
        for (int n = 1; n <= 10; ++n)
            wanted << alphaName(n);
        QCOMPARE(played, wanted);
        for (const QString &name : std::as_const(wanted)) {
            QProcess type;
            type.start("mtype", {"-i", image, "::/Example Media/Alpha/" + name});
            QVERIFY(type.waitForFinished(-1));
            QVERIFY2(type.readAllStandardOutput() == m_alpha.value(name), qPrintable(name));
        }
        for (const fatimage::Slot &mine : userSlots) {
            const auto same = std::find_if(entries.cbegin(), entries.cend(), [&](const fatimage::Slot &slot) {
                return slot.name == mine.name && slot.index == mine.index && slot.cluster == mine.cluster;
            });
            QVERIFY2(same != entries.cend(), qPrintable(mine.name + " left its slot"));
        }
        QCOMPARE(namesIn(image, "Example Media/Alpha/Scans"), QStringList{"s1.jpg"});
        const QString fsck = fsckOf(image, pulled);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    QList<fatimage::Slot> userSlotsOf(const QString &image)
    {
        QList<fatimage::Slot> mine;
        for (const fatimage::Slot &slot : fatimage::slotsOf(image, "Example Media/Alpha")) {
            if (!slot.name.endsWith(".mp3"))
                mine << slot;
        }
        return mine;
    }

private slots:
    void initTestCase()
    {
        initKivoResources();
        m_media = m_dir.filePath("media");
        QDir().mkpath(m_media + "/alpha");
        QImage(300, 300, QImage::Format_RGB32).save(m_media + "/cover.png");
        for (int n = 1; n <= 10; ++n) {
            const QString path = song("alpha/" + alphaName(n), n);
            m_alpha.insert(QFileInfo(path).fileName(), bytesOf(path));
        }
        song("beta.mp3", 1);
    }

    // A two-disc album whose second disc the car cannot play as it is, and an album tagged disc
    // 1/1 whose middle track comes in a run of its own: each stands in disc and track order on
    // the drive, whether its files came in this run or were found there, converted or not.
    void discsInOrder()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("discs.img"), mount = m_dir.filePath("discs");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        QDir().mkpath(m_media + "/discs");
        TrackMap first, second;
        // Made, and given ids, out of order; the library keeps no disc number.
        QList<int> made{7, 2, 5, 0, 3, 6, 1, 4};
        for (const int k : made) {
            const int disc = k / 4 + 1, number = k % 4 + 1;
            const QString title = QString("%1-%2 Part").arg(disc).arg(number, 2, 10, QChar('0'));
            const QString file = QString("discs/%1.%2").arg(title, disc == 2 ? "flac" : "mp3");
            track t = entry(100 - k, song(file, number, disc, "/2"), "Double", title);
            t.tracknumber = qint16(number);
            (k == 2 ? second : first).insert(t.id, t);
        }
        for (const int n : {3, 1, 2}) {
            track t = entry(200 + n, song(QString("discs/0%1 Single.mp3").arg(n), n, 1, "/1"), "Single");
            t.tracknumber = qint16(n);
            (n == 2 ? second : first).insert(t.id, t);
        }
        const auto transfer = [&](const TrackMap &tracks) {
            if (!fatimage::mount(image, mount))
                return TransferReport::WriteError;
            ffmpeghandler handler;
            const TransferReport report = handler.transferTracks(tracks, requestFor(mount));
            fatimage::unmount(mount);
            return report.stop;
        };
        QCOMPARE(transfer(first), TransferReport::Completed);
        QCOMPARE(namesIn(image, "Example Media/Double"),
            QStringList({"1-01 Part.mp3", "1-02 Part.mp3", "1-04 Part.mp3", "2-01 Part.mp3", "2-02 Part.mp3",
                "2-03 Part.mp3", "2-04 Part.mp3"}));
        QCOMPARE(transfer(second), TransferReport::Completed);
        // The converted second disc was found on the drive: its disc tag came along.
        QCOMPARE(namesIn(image, "Example Media/Double"),
            QStringList({"1-01 Part.mp3", "1-02 Part.mp3", "1-03 Part.mp3", "1-04 Part.mp3", "2-01 Part.mp3",
                "2-02 Part.mp3", "2-03 Part.mp3", "2-04 Part.mp3"}));
        QCOMPARE(namesIn(image, "Example Media/Single"),
            QStringList({"01 Single.mp3", "02 Single.mp3", "03 Single.mp3"}));
        const QString fsck = fsckOf(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    // Alpha on the drive, then 03 and 05 removed by hand and their slots taken by the user's notes
    // and a folder of scans: the run that brings them back must put the album in order, moving
    // its songs only; the run after it finds the album in order and touches nothing.
    void userFilesKeepTheirSlots()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        const QString image = m_dir.filePath("alpha.img"), mount = m_dir.filePath("alpha");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(fatimage::mount(image, mount));
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(alpha({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), requestFor(mount)).stop,
                TransferReport::Completed);
        }
        const QString folder = mount + "/Example Media/Alpha/";
        QVERIFY(QFile::remove(folder + "03 Song.mp3") && QFile::remove(folder + "05 Song.mp3"));
        // Names the program gives its own files; the user may have such files too.
        QVERIFY(put(folder + "notes.txt", "mine") && put(folder + "Scans/s1.jpg", "scan")
            && put(folder + ".kivo-origin", "the user's") && put(folder + "zz.txt", "last")
            && put(folder + "KIVO0002.TMP", ""));
        fatimage::unmount(mount);
        QVERIFY(QFile::copy(image, m_dir.filePath("baseline.img")));
        m_baseline = m_dir.filePath("baseline.img");
        const QList<fatimage::Slot> mine = userSlotsOf(image);
        QCOMPARE(mine.size(), 6);

        QVERIFY(fatimage::mount(image, mount));
        ffmpeghandler handler;
        QStringList arranging, steps;
        QObject guard;
        connect(
            &handler, &ffmpeghandler::sgArranging, &guard, [&](const QString &name) { arranging << name; });
        FolderOrder::stepHook = [&steps](FolderOrder::Step, int) { steps << "step"; };
        const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
        QCOMPARE(handler.transferTracks(alpha({3, 5}), requestFor(mount)).stop, TransferReport::Completed);
        QCOMPARE(arranging, QStringList{"Alpha"});
        fatimage::unmount(mount);
        checkAlpha(image, mine);
        if (QTest::currentTestFailed())
            return;

        arranging.clear();
        steps.clear();
        const QList<fatimage::Slot> before = fatimage::slotsOf(image, "Example Media/Alpha");
        QVERIFY(fatimage::mount(image, mount));
        QCOMPARE(handler.transferTracks(alpha({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), requestFor(mount)).stop,
            TransferReport::Completed);
        fatimage::unmount(mount);
        QVERIFY(arranging.isEmpty() && steps.isEmpty());
        const QList<fatimage::Slot> after = fatimage::slotsOf(image, "Example Media/Alpha");
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i)
            QVERIFY(after.at(i).name == before.at(i).name && after.at(i).index == before.at(i).index);
    }

    // The run that puts Alpha in order is killed, or its stick pulled, at each step; the next
    // transfer (of another album after a kill, of the same songs after a pull) leaves Alpha whole
    // and in order, with nothing hidden and a clean file system.
    void faultsDuringTheArrange_data()
    {
        QTest::addColumn<Fault>("fault");
        using S = FolderOrder::Step;
        const QList<QPair<const char *, QPair<S, int>>> points{{"before the hidden folder", {S::Staging, 0}},
            {"record opened", {S::RecordOpened, 0}}, {"record written", {S::Recorded, 0}},
            {"first out", {S::MovedOut, 1}}, {"mid-move out", {S::MovedOut, 4}},
            {"all out", {S::MovedOut, 8}}, {"slots held", {S::Plugged, -1}},
            {"first back", {S::MovedBack, 1}}, {"mid-move back", {S::MovedBack, 5}},
            {"all back", {S::MovedBack, 8}}, {"slots freed", {S::Unplugged, 0}},
            {"record removed", {S::Unrecorded, 0}}};
        for (const auto &[name, at] : points) {
            for (const bool pull : {false, true})
                QTest::newRow(qPrintable(QString("%1, %2").arg(pull ? "pulled" : "killed", name)))
                    << Fault{at.first, at.second, pull};
        }
    }

    void faultsDuringTheArrange()
    {
        QFETCH(Fault, fault);
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        if (m_baseline.isEmpty())
            QSKIP("needs the drive userFilesKeepTheirSlots makes");
        const QString image = m_dir.filePath("trial.img"), mount = m_dir.filePath("trial");
        QFile::remove(image);
        QVERIFY(QFile::copy(m_baseline, image));
        const QList<fatimage::Slot> mine = userSlotsOf(image);
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });

        bool struck = false;
        if (fault.pull) {
            FolderOrder::stepHook = [&](FolderOrder::Step at, int count) {
                if (!struck && at == fault.step && (fault.count < 0 || count == fault.count))
                    struck = fatimage::pull(image);
            };
            const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
            ffmpeghandler handler;
            const TransferReport report = handler.transferTracks(alpha({3, 5}), requestFor(mount));
            QVERIFY(struck);
            QCOMPARE(report.stop, TransferReport::DriveRemoved);
            // What stayed parked is named, with where and what becomes of it.
            const QString message = DriveMessages().endOfTransfer(report, 2, "log");
            const bool parked = (fault.step == FolderOrder::Step::MovedOut)
                || fault.step == FolderOrder::Step::Plugged
                || (fault.step == FolderOrder::Step::MovedBack && fault.count < 8);
            QVERIFY2(message.contains(" in the hidden folder “.kivo-") == parked, qPrintable(message));
            QVERIFY2(message.contains("the next transfer onto this drive puts them back") == parked,
                qPrintable(message));
        } else {
            QFile orders(m_dir.filePath("orders"));
            QVERIFY(orders.open(QIODevice::WriteOnly));
            orders.write(QString("%1\n%2 %3\n").arg(mount).arg(int(fault.step)).arg(fault.count).toUtf8());
            for (const track &t : alpha({3, 5}))
                orders.write((t.filepath + "\t" + t.cover + "\n").toUtf8());
            orders.close();
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {"--arrange-child", orders.fileName()});
            QVERIFY(child.waitForFinished(-1));
            QVERIFY2(child.exitStatus() == QProcess::CrashExit, "the run was not killed where it should be");
        }
        fatimage::unmount(mount);
        QVERIFY(fatimage::mount(image, mount));
        {
            ffmpeghandler handler;
            // Killed before its record was written, a run leaves no word of the album it was putting
            // in order: the next run of that album mends it. After that, the record does, whatever
            // the next run holds.
            TrackMap next{{11, entry(11, m_media + "/beta.mp3", "Beta")}};
            if (fault.pull || fault.step == FolderOrder::Step::Staging
                || fault.step == FolderOrder::Step::RecordOpened)
                next.insert(alpha({3, 5}));
            const TransferReport report = handler.transferTracks(next, requestFor(mount));
            QCOMPARE(report.stop, TransferReport::Completed);
            QVERIFY2(report.failures.isEmpty() && report.notices.isEmpty(),
                qPrintable((report.failures + report.notices).join('\n')));
        }
        unmount.dismiss();
        fatimage::unmount(mount);
        checkAlpha(image, mine, fault.pull);
    }

    // Hidden folders left on a folder target: records that lead outside it, through a link, by
    // an absolute path or "..", move and make nothing there; their files, and those of a damaged
    // record, go where the user sees them and are named; empty ones go; a link is not followed.
    void leftOversStayInside()
    {
        const QString target = m_dir.filePath("inside"), outside = m_dir.filePath("outside");
        QVERIFY(QDir().mkpath(target) && QDir().mkpath(outside + "/linked"));
        QVERIFY(put(outside + "/linked/keep.txt", "keep"));
        QVERIFY(QFile::link(outside + "/linked", target + "/link"));
        const auto hidden = [&](int n) { return target + QString("/.kivo-2147483600-%1.order").arg(n); };
        const auto record = [](const QString &folder) {
            ParkingRecord r;
            r.folder = folder;
            r.kind = "album";
            r.back = {"a.mp3"};
            return r.text();
        };
        QVERIFY(
            put(hidden(1) + "/record", record("link/autostart")) && put(hidden(1) + "/parked/a.mp3", "1"));
        QVERIFY(
            put(hidden(2) + "/record", record(outside + "/abs")) && put(hidden(2) + "/parked/b.mp3", "2"));
        QVERIFY(put(hidden(3) + "/record", record("Example Media/../../escape"))
            && put(hidden(3) + "/parked/c.mp3", "3"));
        // Cut off before its end line.
        QVERIFY(put(hidden(4) + "/record", record("Example Media/Al").chopped(4))
            && put(hidden(4) + "/parked/d.mp3", "4"));
        QVERIFY(QDir().mkpath(hidden(5)));
        QVERIFY(
            put(hidden(6) + "/record", record("Example Media/Al")) && QDir().mkpath(hidden(6) + "/parked"));
        // An earlier version's record through the link.
        QVERIFY(put(hidden(7) + "/.kivo-origin", "link") && put(hidden(7) + "/e.mp3", "5"));
        QVERIFY(QFile::link(outside + "/linked", hidden(8)));
        // The user's own file by the name the program gives the folder it shows such files in.
        QVERIFY(put(target + "/KiVO recovered files", "mine"));

        ffmpeghandler handler;
        const TransferReport report
            = handler.transferTracks({{1, entry(1, m_media + "/beta.mp3", "Beta")}}, requestFor(target));
        QCOMPARE(report.stop, TransferReport::Completed);
        QCOMPARE(QDir(outside + "/linked").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            QStringList{"keep.txt"});
        QVERIFY(!QFileInfo::exists(outside + "/abs") && !QFileInfo::exists(m_dir.filePath("escape")));
        QCOMPARE(bytesOf(target + "/KiVO recovered files"), QByteArray("mine"));
        const QString shelter = target + "/KiVO recovered files (2)/";
        for (const auto &[name, text] : QList<QPair<QString, QByteArray>>{
                 {"a.mp3", "1"}, {"b.mp3", "2"}, {"c.mp3", "3"}, {"d.mp3", "4"}, {"e.mp3", "5"}}) {
            QCOMPARE(bytesOf(shelter + name), text);
            QVERIFY2(report.notices.join('\n').contains(name), qPrintable(name));
        }
        for (int n = 1; n <= 7; ++n)
            QVERIFY2(!QFileInfo::exists(hidden(n)), qPrintable(hidden(n)));
        QVERIFY(QFileInfo(hidden(8)).isSymLink());
        QVERIFY(!QFileInfo::exists(target + "/Example Media/Al"));
        const QString message = DriveMessages().endOfTransfer(report, 1, "log");
        QVERIFY2(message.contains("“KiVO recovered files (2)”"), qPrintable(message));
    }

    // A record is believed only whole: cut short, or with lines it does not know, it is damaged.
    void recordsWholeOrNothing()
    {
        ParkingRecord record;
        record.folder = "Example Media/Odd%name\nhere";
        record.kind = "playlist";
        record.back = {"b 100%.mp3", "a.mp3"};
        record.taken = {"kivo0001.tmp"};
        const std::optional<ParkingRecord> read = ParkingRecord::parse(record.text());
        QVERIFY(read);
        QCOMPARE(read->folder, record.folder);
        QCOMPARE(read->back, record.back);
        QCOMPARE(read->taken, record.taken);
        QVERIFY(!ParkingRecord::parse(record.text().chopped(1)));
        QVERIFY(!ParkingRecord::parse(QByteArray(record.text()).replace("back", "move")));
        QVERIFY(!ParkingRecord::parse(QByteArray()));
        QVERIFY(!ParkingRecord::parse(record.text() + "back late.mp3\n"));
        QVERIFY(ParkingRecord::isPlugName(ParkingRecord::plugName(7))
            && ParkingRecord::isPlugName("kivo0012.tmp"));
        QVERIFY(!ParkingRecord::isPlugName("KIVO12.TMP") && !ParkingRecord::isPlugName("xKIVO0001.TMP"));
    }
};

// The arranging run of a killed trial, in a child process that dies at the step it is told:
// "--arrange-child <orders>", a file holding the target, "<step> <count>", then "<song>\t<cover>".
static int arrangeChild(int argc, char *argv[])
{
    TestEnv env;
    QCoreApplication app(argc, argv);
    initKivoResources();
    QFile orders(QString::fromLocal8Bit(argv[2]));
    if (!orders.open(QIODevice::ReadOnly))
        return 2;
    const QStringList lines = QString::fromUtf8(orders.readAll()).split('\n', Qt::SkipEmptyParts);
    const auto step = FolderOrder::Step(lines.at(1).section(' ', 0, 0).toInt());
    const int count = lines.at(1).section(' ', 1, 1).toInt();
    TrackMap map;
    for (const QString &line : lines.mid(2)) {
        track t;
        t.id = map.size() + 1;
        t.filepath = line.section('\t', 0, 0);
        t.cover = line.section('\t', 1, 1);
        t.albumname = "Alpha";
        map.insert(t.id, t);
    }
    FolderOrder::stepHook = [step, count](FolderOrder::Step at, int n) {
        if (at == step && (count < 0 || n == count))
            ::raise(SIGKILL);
    };
    ffmpeghandler handler;
    handler.transferTracks(map, requestFor(lines.at(0)));
    return 0;
}

KIVO_TEST_MAIN_WITH_CHILD(TestPlayOrder, "--arrange-child", arrangeChild)
#include "tst_playorder.moc"
