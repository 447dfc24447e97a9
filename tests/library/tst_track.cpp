#include "apppaths.h"
#include "testenv.h"
#include "track.h"

#include <QApplication>
#include <QSignalSpy>
#include <QThread>

// Sends track values and maps across threads the way the workers report to the controller.
class TrackSender : public QObject
{
    Q_OBJECT
signals:
    void trackReady(track t);
    void mapReady(TrackMap map);
};

class TrackReceiver : public QObject
{
    Q_OBJECT
public:
    track lastTrack{};
    TrackMap lastMap;
public slots:
    void onTrack(track t) { lastTrack = t; }
    void onMap(TrackMap map) { lastMap = map; }
};

class TestTrack : public QObject
{
    Q_OBJECT

private:
    // A track with every field given a non-default value.
    static track fullTrack()
    {
        track t{};
        t.isPodcast = t.isAudiobook = t.isVideo = t.missingMediaData = t.matchesSearch = true;
        t.reservedFlag = t.fingerprintRequested = t.hasArtist = t.hasAlbum = t.hasTitle = t.hasCover = true;
        t.id = 5000000000LL;
        t.artist_id = 40000;
        t.album_id = 70000;
        t.playlistId = 70000;
        t.reservedShort1 = 1;
        t.source = 1;
        t.frequencyShort = 22050;
        t.tracknumber = 7;
        t.bitrate = 320;
        t.frequency = 44100;
        t.year = 1991;
        t.duration = 205.12;
        t.filesize = 6000000000LL;
        t.channels = 2;
        t.quality = 2;
        t.reservedShort3 = 3;
        t.score = 98;
        t.reservedText1 = "r1";
        t.playlist = "Road";
        t.codec = "mp3";
        t.filepath = "/music/a.mp3";
        t.originalPath = "/src/a.mp3";
        t.filename = "a.mp3";
        t.artistname = "AC/DC";
        t.albumname = "Live";
        t.trackname = "Thunder";
        t.cover = "/art/live.png";
        t.coverdata = "AAAA";
        t.coverUrl = "http://127.0.0.1/cover.jpg";
        t.genre = "Rock";
        t.comment = "c";
        t.releaseDate = "10/27/1992";
        t.reservedText3 = "r3";
        t.folderLocation = "/src";
        return t;
    }

private slots:
    void qualityBorders_data()
    {
        QTest::addColumn<int>("bitrate");
        QTest::addColumn<int>("quality");
        QTest::newRow("-1") << -1 << 0;
        QTest::newRow("0") << 0 << 0;
        QTest::newRow("128") << 128 << 0;
        QTest::newRow("129") << 129 << 1;
        QTest::newRow("255") << 255 << 1;
        QTest::newRow("256") << 256 << 2;
        QTest::newRow("320") << 320 << 2;
        QTest::newRow("min") << -32768 << 0;
        QTest::newRow("max") << 32767 << 2;
    }

    void qualityBorders()
    {
        QFETCH(int, bitrate);
        QFETCH(int, quality);
        QCOMPARE(int(bitrateClass(qint16(bitrate))), quality);
    }

    void defaultTrackIsZeroAndNull()
    {
        const track t{};
        QVERIFY(!t.isVideo && !t.hasCover && !t.reservedFlag);
        QCOMPARE(t.id, 0);
        QCOMPARE(t.duration, 0.0);
        QVERIFY(t.filepath.isNull());
        QVERIFY(t.coverUrl.isNull());
        // The meta-type system builds the same value.
        const QVariant v(QMetaType::fromType<track>(), nullptr);
        QCOMPARE(v.value<track>().score, 0);
        QVERIFY(v.value<track>().folderLocation.isNull());
    }

    void clearTrackKeepsCoverUrlAndGivesEmptyTexts()
    {
        const AppPaths paths;
        const track source = fullTrack();
        const track t = paths.clearTrack(source);
        QCOMPARE(t.coverUrl, source.coverUrl);

        const QList<const QString *> texts = {&t.reservedText1, &t.playlist, &t.codec, &t.filepath,
            &t.originalPath, &t.filename, &t.artistname, &t.albumname, &t.trackname, &t.cover, &t.coverdata,
            &t.genre, &t.comment, &t.releaseDate, &t.reservedText3, &t.folderLocation};
        QCOMPARE(texts.size(), 16);
        for (const QString *text : texts) {
            QVERIFY(text->isEmpty());
            QVERIFY(!text->isNull());
        }

        const QList<bool> flags = {t.isPodcast, t.isAudiobook, t.isVideo, t.missingMediaData, t.matchesSearch,
            t.reservedFlag, t.fingerprintRequested, t.hasArtist, t.hasAlbum, t.hasTitle, t.hasCover};
        for (bool f : flags)
            QVERIFY(!f);
        const QList<qint64> numbers = {t.id, t.artist_id, t.album_id, t.playlistId, t.reservedShort1,
            t.source, t.frequencyShort, t.tracknumber, t.bitrate, t.frequency, t.year, t.filesize, t.channels,
            t.quality, t.reservedShort3, t.score};
        for (qint64 n : numbers)
            QCOMPARE(n, 0);
        QCOMPARE(t.duration, 0.0);

        // A null coverUrl stays null: it is kept, not replaced.
        track noUrl = source;
        noUrl.coverUrl = QString();
        QVERIFY(paths.clearTrack(noUrl).coverUrl.isNull());
    }

    void copiesAreIndependent()
    {
        const track source = fullTrack();
        track copy = source;
        copy.albumname.append(" (Remastered)");
        copy.cover = "/other.png";
        copy.id = 1;
        QCOMPARE(source.albumname, QString("Live"));
        QCOMPARE(source.cover, QString("/art/live.png"));
        QCOMPARE(source.id, 5000000000LL);

        TrackMap map;
        map.insert(source.id, source);
        map[source.id].trackname = "Changed";
        QCOMPARE(source.trackname, QString("Thunder"));
    }

    void idsAndKeysAreSixtyFourBit()
    {
        // Ids past 32767 (and past 32 bits) neither wrap nor collide in a map.
        track t{};
        t.id = 32768;
        t.artist_id = std::numeric_limits<qint64>::max();
        t.album_id = 259;
        QCOMPARE(t.id, 32768);
        QCOMPARE(t.artist_id, std::numeric_limits<qint64>::max());

        TrackMap map;
        for (qint64 id : {qint64(3), qint64(32767), qint64(32768), qint64(65539), qint64(4294967299LL)}) {
            track entry{};
            entry.id = id;
            map.insert(id, entry);
        }
        QCOMPARE(map.size(), 5);
        QCOMPARE(map.firstKey(), 3);
        QCOMPARE(map.lastKey(), 4294967299LL);
        QCOMPARE(map.value(32768).id, 32768);
        QCOMPARE(map.value(65539).id, 65539);
    }

    void metaTypesTravelThroughQueuedConnections()
    {
        registerTrackMetaTypes();
        registerTrackMetaTypes();  // idempotent
        QVERIFY(QMetaType::fromName("track").isValid());
        QVERIFY(QMetaType::fromName("QList<track>").isValid());
        QVERIFY(QMetaType::fromName("TrackMap").isValid());

        TrackSender sender;
        TrackReceiver receiver;
        QThread worker;
        sender.moveToThread(&worker);
        worker.start();
        QVERIFY(connect(
            &sender, &TrackSender::trackReady, &receiver, &TrackReceiver::onTrack, Qt::QueuedConnection));
        QVERIFY(
            connect(&sender, &TrackSender::mapReady, &receiver, &TrackReceiver::onMap, Qt::QueuedConnection));

        const track t = fullTrack();
        TrackMap map;
        map.insert(t.id, t);
        QMetaObject::invokeMethod(
            &sender,
            [&sender, t, map] {
                emit sender.trackReady(t);
                emit sender.mapReady(map);
            },
            Qt::QueuedConnection);
        QTRY_COMPARE(receiver.lastMap.size(), 1);
        worker.quit();
        worker.wait();
        QCOMPARE(receiver.lastTrack.id, 5000000000LL);
        QCOMPARE(receiver.lastTrack.coverUrl, t.coverUrl);
        QCOMPARE(receiver.lastMap.firstKey(), 5000000000LL);
        QCOMPARE(receiver.lastMap.first().filesize, 6000000000LL);
    }
};

KIVO_TEST_MAIN(TestTrack)
#include "tst_track.moc"
