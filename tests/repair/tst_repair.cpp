#include "apimanager.h"
#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "mediagen.h"
#include "taglibbuilder.h"
#include "testenv.h"
#include "trackmerger.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMutex>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <atomic>
#include <memory>

namespace {

const QString kNoArtwork = QStringLiteral("qrc:///resources/photos/no_artwork.png");

// A library track as the import leaves it: placeholders where the file had nothing.
track fileTrack(qint64 id, const QString &path, const QString &title, const QString &album = "Unknown Album",
    const QString &artist = "Unknown Artist")
{
    track t;
    t.id = id;
    t.filepath = t.originalPath = path;
    t.filename = QFileInfo(path).fileName();
    t.folderLocation = QFileInfo(path).absolutePath();
    t.trackname = title;
    t.albumname = album;
    t.artistname = artist;
    t.genre = "Unknown genre";
    t.duration = 1;
    t.hasTitle = true;
    t.hasAlbum = !album.startsWith("Unknown");
    t.hasArtist = !artist.startsWith("Unknown");
    return t;
}

// A repository row another scan of the folder left.
track repoRow(const QString &folder, const QString &title, const QString &album, const QString &artist,
    const QString &genre, int year, int number)
{
    track t = AppPaths().clearTrack(track{});
    t.trackname = title;
    t.filename = title + ".mp3";
    t.originalPath = "/earlier/scan/" + album + "/" + t.filename;
    t.folderLocation = folder;
    t.albumname = album;
    t.artistname = artist;
    t.genre = genre;
    t.year = qint16(year);
    t.tracknumber = qint16(number);
    t.bitrate = 64;
    return t;
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString tagArtist(const QString &path)
{
    TagLib::FileRef file(QFile::encodeName(path).constData());
    return file.isNull() || !file.tag() ? QString()
                                        : QString::fromStdWString(file.tag()->artist().toWString());
}

// What a run sends, collected on the test's thread.
struct Sent {
    QList<track> tracks;
    int markers = 0;
    QPair<qint64, qint64> lastProgress;
};

void collect(ApiManager &run, Sent &sent, QObject *context)
{
    QObject::connect(&run, &ApiManager::updateTrackToManager, context, [&sent](track t) {
        if (t.id < 1)
            ++sent.markers;
        else
            sent.tracks << t;
    });
    QObject::connect(&run, &ApiManager::UpdateProgress, context,
        [&sent](qint64 done, qint64 total) { sent.lastProgress = qMakePair(done, total); });
}

// A web source that answers with nothing once released, or never.
struct Gate {
    std::atomic_int starts{0};
    std::atomic_int cancels{0};
    std::atomic_bool release{false};
};

class GateSource : public RepairSource
{
public:
    explicit GateSource(Gate *gate)
        : m_gate(gate)
    { }
    void start(Request, const track &item, Reply reply) override
    {
        ++m_gate->starts;
        m_timer = std::make_unique<QTimer>();
        QObject::connect(m_timer.get(), &QTimer::timeout, [this, item, reply] {
            if (!m_gate->release)
                return;
            m_timer->stop();
            Answer answer;
            answer.item = item;
            reply(answer);
        });
        m_timer->start(5);
    }
    void cancel() override
    {
        ++m_gate->cancels;
        m_timer.reset();
    }

private:
    Gate *m_gate;
    std::unique_ptr<QTimer> m_timer;
};

// A run whose MusicBrainz source holds each request until the gate is released, and what it sent.
struct GatedRun {
    Gate gate;
    ApiManager run;
    Sent sent;
    explicit GatedRun(QObject *context)
        : run(sources(&gate))
    {
        collect(run, sent, context);
    }
    static ApiManager::Sources sources(Gate *gate)
    {
        ApiManager::Sources all;
        all.musicBrainz = [gate] { return std::make_unique<GateSource>(gate); };
        return all;
    }
};

track candidate(qint64 id, const QString &album, const QString &title, qint64 score)
{
    track t;
    t.id = id;
    t.albumname = album;
    t.trackname = title;
    t.artistname = title + " Band";
    t.score = score;
    return t;
}

}  // namespace

class TestRepair : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;

    // Tracks 1 and 2 in folder p, 3 in q (and 4 in r); their files need not exist.
    TrackMap twoFolders(bool withFourth = false)
    {
        TrackMap tracks;
        tracks.insert(1, fileTrack(1, m_env->makePath("p/one.mp3"), "One", "Album P"));
        tracks.insert(2, fileTrack(2, m_env->makePath("p/two.mp3"), "Two", "Album P"));
        tracks.insert(3, fileTrack(3, m_env->makePath("q/three.mp3"), "Three", "Album Q"));
        if (withFourth)
            tracks.insert(4, fileTrack(4, m_env->makePath("r/four.mp3"), "Four", "Album R"));
        return tracks;
    }

    QString makeFile(const QString &relative, QMap<QString, QString> tags, bool cover = false)
    {
        const QString path = m_env->makePath("music/" + relative);
        MediaGen::Audio media;
        media.tags = tags;
        media.cover = cover;
        const QString error = MediaGen::makeAudio(path, media);
        return error.isEmpty() ? path : QString();
    }

private slots:
    void init()
    {
        Database::close();
        m_env = std::make_unique<TestEnv>();
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open("KivoData", true) && m_database->initStructure());
        ApiManager::setOnlineCheck([] { return true; });
    }

    void cleanup()
    {
        ApiManager::setOnlineCheck({});
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void localRunFillsGapsGivesOneCoverPerAlbumAndWritesOnce()
    {
        const QString dawn = makeFile("north/01 Dawn.mp3",
            {{"title", "Dawn"}, {"artist", "Aster"}, {"album", "Northern Fields"}, {"genre", "Ambient"},
                {"date", "2001"}, {"track", "1"}},
            true);
        const QString dusk = makeFile("north/02 Dusk.mp3", {{"title", "Dusk"}});
        const QString noon = makeFile("north/03 Noon.mp3", {{"title", "Noon"}, {"album", "northern fields"}});
        const QString rain = makeFile("other/Rain.mp3", {{"title", "Rain"}});
        const QString lost = makeFile("lost/Lost.mp3", {{"title", "Lost"}});
        for (const QString &path : {dawn, dusk, noon, rain, lost})
            QVERIFY(!path.isEmpty());
        const QString north = QFileInfo(dawn).absolutePath();
        QVERIFY(
            kivoDB().saveToRepoBatch({repoRow(north, "Dawn", "Northern Fields", "Aster", "Ambient", 2001, 1),
                repoRow(north, "Dusk", "Northern Fields", "Aster", "Ambient", 2001, 2),
                repoRow(north, "Noon", "Northern Fields", "Aster", "Ambient", 2001, 3),
                repoRow(QFileInfo(rain).absolutePath(), "Rain", "Weather", "Cloud", "Pop", 1990, 7)}));

        TrackMap tracks;
        track full = fileTrack(1, dawn, "Dawn", "Northern Fields", "Aster");
        full.genre = "Ambient";
        full.year = 2001;
        full.tracknumber = 1;
        tracks.insert(1, full);
        tracks.insert(2, fileTrack(2, dusk, "Dusk"));
        tracks.insert(3, fileTrack(3, noon, "Noon", "northern fields"));
        tracks.insert(4, fileTrack(4, rain, "Rain"));
        tracks.insert(5, fileTrack(5, lost, "Lost"));
        const QByteArray fullBefore = bytesOf(dawn);
        const QByteArray lostBefore = bytesOf(lost);

        QMutex mutex;
        QStringList written;
        Sent sent;
        {
            ApiManager run;
            run.setTagWriter([&](const track &t) {
                QMutexLocker lock(&mutex);
                written << QFileInfo(t.filepath).fileName();
                return TagLibBuilder().saveTags(t);
            });
            collect(run, sent, this);
            run.startOptimisation(tracks);
            QTRY_COMPARE_WITH_TIMEOUT(sent.markers, 1, 20000);
        }
        QTest::qWait(50);
        QCOMPARE(sent.markers, 1);
        QCOMPARE(sent.lastProgress, qMakePair(qint64(5), qint64(5)));

        // Fields from the repository rows; a known album text is never replaced.
        QMap<qint64, track> byId;
        for (const track &t : std::as_const(sent.tracks)) {
            QVERIFY2(!byId.contains(t.id), "a track was saved twice");
            byId.insert(t.id, t);
        }
        QCOMPARE(byId.keys(), (QList<qint64>{1, 2, 3, 4, 5}));
        QCOMPARE(byId[2].artistname, QString("Aster"));
        QCOMPARE(byId[2].albumname, QString("Northern Fields"));
        QCOMPARE(byId[3].albumname, QString("northern fields"));
        QCOMPARE(byId[3].artistname, QString("Aster"));
        QCOMPARE(byId[4].albumname, QString("Weather"));
        QCOMPARE(byId[4].artistname, QString("Cloud"));
        QCOMPARE(byId[4].genre, QString("Pop"));
        QCOMPARE(byId[4].tracknumber, qint16(7));
        QVERIFY(!byId[5].hasArtist && !byId[5].hasAlbum);

        // One cover for the album, from the one file that holds a picture, whatever the case.
        const QStringList covers
            = QDir(AppPaths::dataLocation() + AppPaths().artworkDir).entryList(QDir::Files);
        QCOMPARE(covers, QStringList{"Northern Fields.png"});
        for (const qint64 id : {1, 2, 3}) {
            QVERIFY(byId[id].hasCover);
            QVERIFY(byId[id].cover.endsWith("/Northern Fields.png"));
        }
        for (const qint64 id : {4, 5}) {
            QVERIFY(!byId[id].hasCover);
            QCOMPARE(byId[id].cover, kNoArtwork);
        }

        // Tags written once each, only where they change, never a placeholder.
        written.sort();
        QCOMPARE(written, (QStringList{"02 Dusk.mp3", "03 Noon.mp3", "Rain.mp3"}));
        QCOMPARE(tagArtist(dusk), QString("Aster"));
        QCOMPARE(tagArtist(rain), QString("Cloud"));
        QCOMPARE(bytesOf(dawn), fullBefore);
        QCOMPARE(bytesOf(lost), lostBefore);
    }

    void pausedRunWaitsThenEndsAndStops()
    {
        Sent sent;
        ApiManager run;
        collect(run, sent, this);
        run.setDoUpdate(false);
        run.startOptimisation({});
        QTest::qWait(100);
        QCOMPARE(sent.markers, 0);
        run.setDoUpdate(true);
        QTRY_COMPARE_WITH_TIMEOUT(sent.markers, 1, 30000);
        QVERIFY(sent.tracks.isEmpty());
        // Closing while paused still returns.
        run.setDoUpdate(false);
        run.stopOptimisation();
        QVERIFY(run.isStopped());
    }

    void cancelSavesTheFolderInHandOnly()
    {
        GatedRun gated(this);
        auto &[gate, run, sent] = gated;
        TrackMap tracks = twoFolders();
        run.startOptimisation(tracks);
        QTRY_COMPARE_WITH_TIMEOUT(gate.starts.load(), 1, 30000);
        run.cancelOptimization();
        QTRY_COMPARE_WITH_TIMEOUT(sent.markers, 1, 30000);
        QCOMPARE(gate.starts.load(), 1);  // nothing more was asked
        QCOMPARE(gate.cancels.load(), 1);
        QCOMPARE(sent.tracks.size(), 2);
        QCOMPARE(sent.tracks.last().id, qint64(2));
    }

    void unansweredRequestTimesOut()
    {
        GatedRun gated(this);
        auto &[gate, run, sent] = gated;
        run.setRequestTimeout(50);
        const QString path = makeFile("alone/Song.mp3", {{"title", "Song"}});
        run.startOptimisation({{1, fileTrack(1, path, "Song", "Some Album")}});
        QTRY_COMPARE_WITH_TIMEOUT(sent.markers, 1, 30000);
        QCOMPARE(gate.starts.load(), 1);
        QCOMPARE(gate.cancels.load(), 1);
    }

    void switchingRunsFinishesTheFolderThenRepairsTheChosen()
    {
        GatedRun gated(this);
        auto &[gate, run, sent] = gated;
        const TrackMap tracks = twoFolders(true);
        run.startOptimisation(tracks);
        QTRY_COMPARE_WITH_TIMEOUT(gate.starts.load(), 1, 30000);  // track 1 waits for its answer

        TrackMap chosen;
        chosen.insert(3, tracks[3]);
        run.startOptimisationSelected(chosen);
        QTest::qWait(50);
        gate.release = true;
        QTRY_COMPARE_WITH_TIMEOUT(sent.markers, 1, 30000);
        QList<qint64> ids;
        for (const track &t : std::as_const(sent.tracks))
            ids << t.id;
        QCOMPARE(ids, (QList<qint64>{1, 2, 3}));
    }

    void mergeFillsOnlyWhatIsMissingAboveTheMinimum()
    {
        TrackMerger merger;
        track local;
        local.id = 7;
        local.trackname = "07 Intro";
        local.albumname = "Unknown Album";
        local.artistname = "Known Artist";
        local.hasTitle = local.hasArtist = true;
        local.duration = 10;

        // Placeholders on both sides count for nothing; a far duration adds 0, never a wrapped figure.
        track far = candidate(7, "Unknown Album", "Elsewhere", 0);
        far.duration = 500;
        QCOMPARE(merger.matchScore(local, far), qint64(50));
        track near = candidate(7, "Album", "Intro", 0);
        near.duration = 12;
        near.tracknumber = 7;
        QCOMPARE(merger.matchScore(local, near), qint64(50 + 210 + 78 + 60));

        // Equal scores for two different releases: neither is taken, a guess is worse than nothing.
        CandidateMap candidates;
        candidates.insert(7, candidate(7, "First In", "Intro", 0));
        candidates.insert(7, candidate(7, "Second In", "Intro", 0));
        candidates.insert(7, candidate(7, "Weak", "Unrelated", 60));
        QCOMPARE(merger.mergeBestCandidate(local, candidates).albumname, QString("Unknown Album"));
        CandidateMap apart;
        apart.insert(7, candidate(7, "First In", "Intro", 0));
        apart.insert(7, candidate(7, "Third In", "Intro", 1));
        const track merged = merger.mergeBestCandidate(local, apart);
        QCOMPARE(merged.albumname, QString("Third In"));
        QVERIFY(merged.hasAlbum);
        QCOMPARE(merged.artistname, QString("Known Artist"));
        QCOMPARE(merged.trackname, QString("07 Intro"));
        QCOMPARE(merged.duration, 10.0);

        // Nothing above the minimum: the track stays as it was.
        CandidateMap weak;
        weak.insert(7, candidate(7, "Weak", "Unrelated", 60));
        QCOMPARE(merger.mergeBestCandidate(local, weak).albumname, QString("Unknown Album"));

        // A placeholder or empty text is never written, nor a has-flag set for it.
        track target;
        track source = candidate(0, "Unknown Album", "", 0);
        merger.mergeTrack(target, source);
        QVERIFY(!target.hasAlbum && !target.hasTitle && target.albumname.isEmpty());
    }

    void batchMatchTieBreaks()
    {
        TrackMerger merger;
        // Per-track path: album p sums 300 + 250 and beats q's single 500; its best entry is taken.
        TrackMap pair;
        pair.insert(1, fileTrack(1, "/x/a.mp3", "Track 1"));
        pair.insert(2, fileTrack(2, "/x/b.mp3", "Track 2"));
        CandidateMap scored;
        scored.insert(1, candidate(1, "P", "Pa", 300));
        scored.insert(1, candidate(1, "P", "Pb", 250));
        scored.insert(1, candidate(1, "Q", "Qa", 500));
        scored.insert(2, candidate(2, "Tie B", "Tb", 400));
        scored.insert(2, candidate(2, "Tie A", "Ta", 400));
        const TrackMap each = merger.mergeEachTrack(pair, scored);
        QCOMPARE(each[1].trackname, QString("Pa"));
        QCOMPARE(each[2].albumname, QString("Tie A"));  // equal sums: the first album in order

        // Groups x {1, 2, 3} and y {3, 4}: x first, then y covers 4 and lists 3 again.
        AlbumGroups groups{{"y", {3, 4}}, {"x", {1, 2, 3}}, {"w", {5, 6, 7}}};
        QCOMPARE(TrackMerger::largestGroupKey(groups), QString("w"));  // equal lengths: first key
        groups.remove("w");
        const AlbumGroups chosen = merger.assignAlbums(groups, {1, 2, 3, 4});
        QCOMPARE(chosen, (AlbumGroups{{"x", {1, 2, 3}}, {"y", {3, 4}}}));

        CandidateMap same;
        same.insert(3, candidate(3, "X", "older", 300));
        same.insert(3, candidate(3, "X", "newer", 300));
        QVERIFY(TrackMerger::bestCandidateOnAlbum(same, "x", 3).trackname.isEmpty());  // a tie
        same.insert(3, candidate(3, "X", "newest", 301));
        QCOMPARE(TrackMerger::bestCandidateOnAlbum(same, "x", 3).trackname, QString("newest"));

        // Three tracks take the album path; a track on two albums keeps the first album's text.
        TrackMerger batch;
        TrackMap locals;
        CandidateMap proposed;
        for (qint64 id = 1; id <= 4; ++id) {
            locals.insert(id, fileTrack(id, QString("/y/%1.mp3").arg(id), QString("Song %1").arg(id)));
            if (id <= 3)
                proposed.insert(id, candidate(id, "X", QString("Song %1").arg(id), 100));
            if (id >= 3)
                proposed.insert(id, candidate(id, "Y", QString("Song %1").arg(id), 100));
        }
        const TrackMap matched = batch.matchResults(locals, proposed);
        QCOMPARE(matched[1].albumname, QString("X"));
        QCOMPARE(matched[3].albumname, QString("X"));
        QCOMPARE(matched[4].albumname, QString("Y"));
    }
};

KIVO_TEST_MAIN(TestRepair)
#include "tst_repair.moc"
