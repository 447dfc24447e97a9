#include "drivefixtures.h"
#include "drivemessages.h"
#include "fatimage.h"
#include "ffmpeghandler.h"
#include "folderorder.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>

using namespace drivefixtures;

namespace {

QStringList songsIn(const QString &image, const QString &folder)
{
    QStringList names;
    for (const QString &name : fatimage::namesIn(image, folder)) {
        if (name.endsWith(".mp3"))
            names << name;
    }
    return names;
}

}  // namespace

// What a run says of the drive after a fault or a refusal is what the drive shows: the room it
// had and must have, a top folder that is full, and no file failed that was never tried.
class TestArrangeWords : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_media;

    QString song(const QString &name, int track) { return songIn(m_media, name, track); }

    static QString songName(int n) { return QString("0%1 Song.mp3").arg(n); }

    TrackMap alpha(const QList<int> &numbers)
    {
        TrackMap map;
        for (const int n : numbers)
            map.insert(n, trackOf(n, song(songName(n), n), "Alpha"));
        return map;
    }

    // A FAT16 image whose Alpha holds its songs as 02 01 03 ... 0n, written by mtools.
    bool imageWithAlpha(const QString &image, const QString &size, int perCluster, int songs)
    {
        if (!fatimage::make(image, size, {"-F", "16", "-s", QString::number(perCluster), "-n", "CAR"})
            || !fatimage::mtool("mmd", {"-i", image, "::/Example Media", "::/Example Media/Alpha"}))
            return false;
        QStringList order{songName(2), songName(1)};
        for (int n = 3; n <= songs; ++n)
            order << songName(n);
        QStringList paths;
        for (int i = 0; i < order.size(); ++i)
            paths << song(order.at(i), order.at(i).left(2).toInt());
        return fatimage::mtool(
            "mcopy", QStringList{"-i", image} + paths + QStringList{"::/Example Media/Alpha/"});
    }

    TransferReport transfer(const QString &image, const TrackMap &tracks)
    {
        return transferOnto(image, m_dir.filePath("drive"), tracks);
    }

private slots:
    void initTestCase()
    {
        if (!fatimage::canMount())
            QSKIP(fatimage::kSkipReason);
        initKivoResources();
        m_media = m_dir.filePath("media");
        QDir().mkpath(m_media);
    }

    // A drive short of room by the run's own figures: it had X KB free and must have Y. With
    // exactly Y KB free, the same run puts the folder in order.
    void roomFiguresAreTheDrives_data()
    {
        QTest::addColumn<int>("perCluster");
        QTest::addColumn<QString>("size");
        QTest::addColumn<int>("clustersFree");
        QTest::newRow("2 KB clusters") << 4 << "16M" << 2;
        QTest::newRow("32 KB clusters") << 64 << "256M" << 3;
    }
    void roomFiguresAreTheDrives()
    {
        QFETCH(int, perCluster);
        QFETCH(QString, size);
        QFETCH(int, clustersFree);
        const QString image = m_dir.filePath("room.img");
        QVERIFY(imageWithAlpha(image, size, perCluster, 6));
        const qint64 cluster = perCluster * 512;
        QVERIFY(fatimage::leaveFree(image, clustersFree * cluster));

        const TransferReport refused = transfer(image, alpha({1, 2, 3, 4, 5, 6}));
        QCOMPARE(refused.stop, TransferReport::Completed);
        const QString notices = refused.notices.join('\n');
        const QRegularExpressionMatch figures
            = QRegularExpression("Alpha: not in play order, as the drive is too full to put it in order "
                                 "\\((\\d+) KB free, (\\d+) KB needed\\); free some room")
                  .match(notices);
        QVERIFY2(figures.hasMatch(), qPrintable(notices));
        QCOMPARE(figures.captured(1).toLongLong(), clustersFree * cluster / 1024);
        const qint64 needed = figures.captured(2).toLongLong() * 1024;
        QVERIFY2(needed % cluster == 0 && needed > clustersFree * cluster, qPrintable(notices));
        QCOMPARE(songsIn(image, "Example Media/Alpha").first(), songName(2));

        QVERIFY(fatimage::leaveFree(image, needed));
        const TransferReport arranged = transfer(image, alpha({1, 2, 3, 4, 5, 6}));
        QCOMPARE(arranged.stop, TransferReport::Completed);
        QVERIFY2(arranged.notices.isEmpty(), qPrintable(arranged.notices.join('\n')));
        QCOMPARE(songsIn(image, "Example Media/Alpha"),
            QStringList({songName(1), songName(2), songName(3), songName(4), songName(5), songName(6)}));
        QVERIFY(!fatimage::namesIn(image, "").join(' ').contains(".kivo-", Qt::CaseInsensitive));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    // A FAT16 drive whose top folder is full, with room to spare: the run says so, asks for no room
    // to be freed, and moves nothing; with two entries taken out of the top folder, it arranges.
    void fullTopFolderIsToldAsSuch()
    {
        const QString image = m_dir.filePath("top.img");
        QVERIFY(imageWithAlpha(image, "16M", 4, 4));
        const QString shelf = m_dir.filePath("shelf");
        QStringList fillers;
        for (int n = 1; n <= 520; ++n) {
            fillers << shelf + QString("/F%1.TXT").arg(n, 4, 10, QChar('0'));
            QVERIFY(put(fillers.last(), ""));
        }
        // Refused once the top folder is full; the two taken out leave too few for a long name.
        fatimage::mtool("mcopy", QStringList{"-i", image} + fillers + QStringList{"::/"});
        QVERIFY(fatimage::namesIn(image, "").size() > 500);
        QVERIFY(fatimage::mtool("mdel", {"-i", image, "::/F0001.TXT", "::/F0002.TXT"}));
        QVERIFY(!fatimage::mtool("mmd", {"-i", image, "::/.kivo-2147483600-1.order"}));
        QVERIFY(fatimage::bytesFree(image) > 8 << 20);

        const TransferReport report = transfer(image, alpha({1, 2, 3, 4}));
        QCOMPARE(report.stop, TransferReport::Completed);
        const QString message = DriveMessages().endOfTransfer(report, 4, "log");
        QVERIFY2(message.contains("On the drive:\nAlpha: not in play order, as the top folder of the drive "
                                  "takes no more files or folders")
                && message.contains("remove a file or folder from the top of the drive")
                && !message.contains("free some room") && !message.contains("too full")
                && message.contains("0 failed"),
            qPrintable(message));
        QCOMPARE(songsIn(image, "Example Media/Alpha"),
            QStringList({songName(2), songName(1), songName(3), songName(4)}));
        QCOMPARE(fatimage::namesIn(image, "Example Media/Alpha").size(), 4);
        QVERIFY(!fatimage::namesIn(image, "").join(' ').contains(".kivo-", Qt::CaseInsensitive));

        QVERIFY(fatimage::mtool("mdel", {"-i", image, "::/F0003.TXT", "::/F0004.TXT"}));
        const TransferReport again = transfer(image, alpha({1, 2, 3, 4}));
        QVERIFY2(again.notices.isEmpty(), qPrintable(again.notices.join('\n')));
        QCOMPARE(songsIn(image, "Example Media/Alpha"),
            QStringList({songName(1), songName(2), songName(3), songName(4)}));
        const QString fsck = fatimage::fsckProblems(image);
        QVERIFY2(fsck.isEmpty(), qPrintable(fsck));
    }

    // The stick pulled while Alpha is put in order, Beta's three songs still to come: none of them
    // is tried, and none is counted or named as failed.
    void pullBetweenTwoAlbums()
    {
        const QString image = m_dir.filePath("pull.img"), mount = m_dir.filePath("pull");
        QVERIFY(fatimage::make(image, "64M", {"-F", "32", "-n", "CAR"}));
        QVERIFY(fatimage::mount(image, mount));
        auto unmount = qScopeGuard([&] { fatimage::unmount(mount); });
        {
            ffmpeghandler handler;
            QCOMPARE(handler.transferTracks(alpha({1, 2, 4, 5}), requestFor(mount)).stop,
                TransferReport::Completed);
        }
        TrackMap tracks = alpha({3});
        for (int n = 1; n <= 3; ++n)
            tracks.insert(100 + n, trackOf(100 + n, song(QString("b%1.mp3").arg(n), n), "Beta"));
        bool struck = false;
        FolderOrder::stepHook = [&](FolderOrder::Step at, int count) {
            if (!struck && at == FolderOrder::Step::MovedOut && count == 1)
                struck = fatimage::pull(image);
        };
        const auto unhook = qScopeGuard([] { FolderOrder::stepHook = {}; });
        ffmpeghandler handler;
        const TransferReport report = handler.transferTracks(tracks, requestFor(mount));
        QVERIFY(struck);
        QCOMPARE(report.stop, TransferReport::DriveRemoved);
        QVERIFY2(report.failures.isEmpty(), qPrintable(report.failures.join('\n')));
        QCOMPARE(report.copied, 1);
        const QString message = DriveMessages().endOfTransfer(report, 4, "log");
        QVERIFY2(message.contains("1 of 4 files") && message.contains("; 0 failed.")
                && !message.contains("b1.mp3") && !message.contains("could not be transferred"),
            qPrintable(message));
    }
};

KIVO_TEST_MAIN(TestArrangeWords)
#include "tst_arrangewords.moc"
