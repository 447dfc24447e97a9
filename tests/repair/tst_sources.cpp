#include "apimanager.h"
#include "apppaths.h"
#include "database.h"
#include "discogssource.h"
#include "fingerprintsource.h"
#include "hosthealth.h"
#include "json.h"
#include "mediagen.h"
#include "musicbrainzsource.h"
#include "replayserver.h"
#include "requestpacer.h"
#include "sourcefixtures.h"
#include "testenv.h"
#include "toolwatchdog.h"
#include "webrequest.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <memory>

Q_DECLARE_METATYPE(ReplayReply)

namespace {

using Service = WebServiceConfig::Service;

// A source asked once; the test fails unless exactly one answer comes.
RepairSource::Answer ask(
    RepairSource &source, RepairSource::Request request, const track &item, int waitMs = 5000)
{
    auto answers = std::make_shared<QList<RepairSource::Answer>>();
    source.start(request, item, [answers](const RepairSource::Answer &a) { answers->append(a); });
    QElapsedTimer timer;
    timer.start();
    while (answers->isEmpty() && timer.elapsed() < waitMs)
        QTest::qWait(5);
    QTest::qWait(30);  // a second answer would come now
    if (answers->size() != 1)
        QTest::qFail(qPrintable(QStringLiteral("%1 answers").arg(answers->size())), __FILE__, __LINE__);
    return answers->size() == 1 ? answers->first() : RepairSource::Answer{};
}

track known(const QString &artist, const QString &album, const QString &title)
{
    track t;
    t.id = 7;
    t.artistname = artist;
    t.albumname = album;
    t.trackname = title;
    t.hasArtist = !artist.isEmpty();
    t.hasAlbum = !album.isEmpty();
    t.hasTitle = !title.isEmpty();
    t.originalPath = t.filepath = "/music/song.mp3";
    return t;
}

}  // namespace

class TestSources : public QObject
{
    Q_OBJECT

    ReplayServer m_server;
    std::unique_ptr<Database> m_database;

    WebServiceConfig config(int timeoutMs = 3000) const
    {
        WebServiceConfig c;
        c.setHost(Service::MusicBrainz, m_server.url("/mb"));
        c.setHost(Service::Discogs, m_server.url("/discogs"));
        c.setHost(Service::AcoustId, m_server.url("/acoustid"));
        c.setHost(Service::CoverArt, m_server.url("/covers"));
        c.acoustIdKey = "k3y+&=";
        c.timeoutMs = timeoutMs;
        c.musicBrainzIntervalMs = c.acoustIdIntervalMs = c.discogsIntervalMs = c.coverIntervalMs = 0;
        return c;
    }

    QString thumb() const { return m_server.url("/img/fields.png").toString(); }

private slots:
    void initTestCase()
    {
        registerTrackMetaTypes();
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open("KivoData", true) && m_database->initStructure());
    }

    void init()
    {
        m_server.clearRoutes();
        m_server.clearRequests();
        RequestPacer::reset();
        HostHealth::reset();
        QDir(AppPaths::dataLocation() + AppPaths().artworkDir).removeRecursively();
    }

    void jsonReader_data()
    {
        QTest::addColumn<QString>("json");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("success");
        const QString deep = QString("[").repeated(Json::kMaxDepth) + QString("]").repeated(Json::kMaxDepth);
        const QString tooDeep
            = QString("[").repeated(Json::kMaxDepth + 1) + QString("]").repeated(Json::kMaxDepth + 1);
        const struct {
            const char *name, *json, *value;
            bool success;
        } rows[] = {
            {"empty object", "{}", "{}", true},
            {"empty array", " [ ] ", "[]", true},
            {"types", "{'s':'a\\'\\\\\\/\\n','t':true,'f':false,'n':null,'u':12,'i':-12,'d':1.5,'e':1e3}",
                "{d:1.5d,e:1000d,f:false,i:-12i,n:-,s:\"a\"\\/\n\",t:true,u:12u}", true},
            {"later key wins", "{'a':1,'a':2}", "{a:2u}", true},
            {"commas optional", "{'a':1 'b':[1 2,,],}", "{a:1u,b:[1u,2u]}", true},
            {"key without quote", "{1key':1}", "{key:1u}", true},
            {"unicode escapes", "['\\u00e9\\u00zz\\q']", "[\"é\\0\"]", true},
            {"too large", "18446744073709551616", "18446744073709552000d", true},
            {"text after value", "{'a':1} {'b':2}", "{a:1u}", true},
            {"keyword then letters", "[truex]", "[]", false},
            {"white space only", " \t\r\n", "-", false},
            {"unclosed string", "{'a':['b", "{}", false},
            {"truncated", "{'results':[{'title':'A - B'", "{}", false},
            {"missing colon", "{'a' 1}", "{}", false},
            {"bare word", "nope", "-", false},
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << QString::fromUtf8(J(row.json)) << QString::fromUtf8(row.value)
                                    << row.success;
        QTest::newRow("nesting at the limit")
            << deep << QString("[").repeated(Json::kMaxDepth) + QString("]").repeated(Json::kMaxDepth)
            << true;
        QTest::newRow("nesting past the limit") << tooDeep << "[]" << false;
    }

    void jsonReader()
    {
        QFETCH(QString, json);
        QFETCH(QString, value);
        QFETCH(bool, success);
        bool ok = false;
        QCOMPARE(render(Json::parse(json, ok)), value);
        QCOMPARE(ok, success);
    }

    void jsonNullTextIsNoFailure()
    {
        bool success = false;
        QVERIFY(!Json::parse(QString(), success).isValid());
        QVERIFY(success);
    }

    void configurationFromSettingsAndEnvironment()
    {
        {
            QSettings settings(
                QSettings::NativeFormat, QSettings::UserScope, "Corvane", "Corvane-Media-Rarazarur");
            settings.setValue("MusicBrainzHost", "mb.example.org/base");
            settings.setValue("DiscogsToken", "secret");
            settings.setValue("AcoustIdClientKey", "fromSettings");
        }
        qunsetenv("KIVO_MUSICBRAINZ_HOST");
        qputenv("KIVO_ACOUSTID_KEY", "fromEnv");
        qputenv("KIVO_DISCOGS_HOST", "ftp://elsewhere");
        const WebServiceConfig c = WebServiceConfig::load();
        qputenv("KIVO_MUSICBRAINZ_HOST", "none");
        qputenv("KIVO_DISCOGS_HOST", "none");
        qunsetenv("KIVO_ACOUSTID_KEY");
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Corvane", "Corvane-Media-Rarazarur")
            .clear();

        QCOMPARE(c.endpoint(Service::MusicBrainz, "/ws/2/recording").toString(),
            QString("https://mb.example.org/base/ws/2/recording"));
        QVERIFY(c.host(Service::Discogs).isEmpty());  // refused, not the default
        QVERIFY(c.host(Service::AcoustId).isEmpty());  // "none" from the test's environment
        QCOMPARE(c.acoustIdKey, QString("fromEnv"));
        QCOMPARE(c.discogsToken, QString("secret"));
        QCOMPARE(c.discogsIntervalMs, 1020);
        QCOMPARE(WebServiceConfig::discogsIntervalFor(false), 2450);
        QCOMPARE((QList<int>{c.musicBrainzIntervalMs, c.acoustIdIntervalMs}), (QList<int>{1020, 340}));
        QVERIFY(WebServiceConfig::userAgent().startsWith("KiVO/3.9 "));
    }

    void musicBrainzMatch()
    {
        m_server.get("/mb/ws/2/recording",
            ReplayReply::ok(mbReply(mbRecording("Other Song", 100000, "Nobody")
                                + mbRecording("Dawn &amp; Dusk #1+ (remaster)", 300000, "Åster Quartet")
                                + mbRecording("Dawn &amp; Dusk #1+", 215000, "Åster")),
                "application/xml"));
        MusicBrainzSource source(config());
        track t = known("Åster", "", "Dawn & Dusk #1+");
        t.duration = 215.4;
        t.fingerprintRequested = true;
        const RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);
        // Of two agreeing recordings, the one of the track's length; nothing of its releases.
        QCOMPARE(a.item.trackname, QString("Dawn & Dusk #1+"));
        QCOMPARE(a.item.artistname, QString("Åster"));
        QCOMPARE(a.item.duration, 215.4);  // the file's own measured length stays
        QVERIFY(!a.item.fingerprintRequested && !a.tagUpdated && !a.item.hasAlbum);

        QCOMPARE(m_server.requestCount(), 1);
        const RecordedRequest r = m_server.requests().first();
        QCOMPARE(queryValue(r, "query"), QByteArray("recording:\"Dawn & Dusk #1+\" AND artist:\"Åster\""));
        QVERIFY(!r.query().contains('&') && !r.query().contains('+') && !r.query().contains('#'));
        QVERIFY(r.header("User-Agent").startsWith("KiVO/3.9"));
    }

    void musicBrainzFailures_data()
    {
        QTest::addColumn<ReplayReply>("reply");
        QTest::newRow("no recording") << ReplayReply::ok(mbReply(""));
        QTest::newRow("names disagree") << ReplayReply::ok(mbReply(mbRecording("Else", 1000, "Other")));
        QTest::newRow("error status") << ReplayReply::error(503, mbReply(mbRecording("Dawn", 1000, "Åster")));
        QTest::newRow("malformed") << ReplayReply::ok("<metadata><recording><title>Dawn</title></metadata>");
        QTest::newRow("truncated") << ReplayReply::ok(mbReply(mbRecording("Dawn", 1000, "Åster")).left(300));
        QTest::newRow("empty title and artist") << ReplayReply::ok(mbReply(mbRecording("", 1000, "")));
        QTest::newRow("time-out") << ReplayReply::silence();
    }

    void musicBrainzFailures()
    {
        QFETCH(ReplayReply, reply);
        m_server.get("/mb/ws/2/recording", reply);
        MusicBrainzSource source(config(300));
        const track t = known("Åster", "Northern Fields", "");
        const RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);
        QCOMPARE(a.item.trackname, QString());
        QVERIFY(!a.item.hasTitle);
        QCOMPARE(queryValue(m_server.requests().value(0), "query"),
            QByteArray("release:\"Northern Fields\" AND artist:\"Åster\""));
        m_server.dropConnections();
    }

    void musicBrainzAsksNothingWithoutAnArtist()
    {
        MusicBrainzSource source(config());
        ask(source, RepairSource::Request::Track, known("", "Northern Fields", ""));
        ask(source, RepairSource::Request::Track, known("Åster", "Northern Fields", "Dawn"));
        QCOMPARE(m_server.requestCount(), 0);
    }

    void discogsMatchFillsTheTrackAndStoresTheCover()
    {
        m_server.get("/discogs/database/search",
            ReplayReply::ok(QByteArray(kSearchReply).replace("THUMB", thumb().toUtf8()), "application/json"));
        m_server.get("/discogs/releases/1004", ReplayReply::ok(kReleaseReply, "application/json"));
        m_server.get("/img/fields.png", ReplayReply::ok(MediaGen::coverPng(Qt::blue), "image/png"));
        WebServiceConfig c = config();
        c.discogsToken = "tok";
        DiscogsSource source(c);
        track t = known("Åster", "Fields & Woods", "Track 01");
        t.hasTitle = false;
        t.tracknumber = 2;
        const RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);

        // The first result above the promo, the title without " - " and the placeholder image; the
        // artist's hyphen is kept; entry A2 by number; the release's artist does not replace a known one.
        QVERIFY(a.tagUpdated);
        QCOMPARE(a.item.trackname, QString("Dawn"));
        QCOMPARE(a.item.artistname, QString("Åster"));
        QCOMPARE(a.item.year, qint16(1999));
        QCOMPARE(a.item.genre, QString("Rock"));
        QVERIFY(a.item.hasTitle && a.item.hasCover);
        QCOMPARE(a.item.cover, AppPaths().artworkCachePath("Fields & Woods"));
        QCOMPARE(QImage(a.item.cover).size(), QSize(110, 73));
        const QStringList left
            = QDir(QFileInfo(a.item.cover).absolutePath()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(left, QStringList{QFileInfo(a.item.cover).fileName()});

        const QList<RecordedRequest> got = m_server.requests();
        QCOMPARE(got.size(), 3);
        QCOMPARE(queryValue(got[0], "q"), QByteArray("artist:Åster AND album:Fields & Woods"));
        QCOMPARE(queryValue(got[0], "type"), QByteArray("release"));
        QCOMPARE(got[1].path(), QByteArray("/discogs/releases/1004"));
        QCOMPARE(got[0].header("Authorization"), QByteArray("Discogs token=tok"));
        QCOMPARE(got[2].header("Authorization"), QByteArray());  // never to an image address
        for (const RecordedRequest &r : got)
            QVERIFY(r.header("User-Agent").startsWith("KiVO/3.9"));
    }

    void discogsFailures_data()
    {
        QTest::addColumn<ReplayReply>("search");
        QTest::addColumn<int>("requests");
        QTest::newRow("no match, looser search") << ReplayReply::ok(J("{'results': []}")) << 2;
        QTest::newRow("several, none fits") << ReplayReply::ok(
            J("{'results': [{'title': 'A - B', 'id': 1, 'thumb': 'http://i/x.jpg', 'format': ['CD']},"
              "               {'title': 'C - D', 'id': 2, 'thumb': 'http://i/y.jpg', 'format': ['LP']}]}"))
                                            << 1;
        QTest::newRow("error status") << ReplayReply::error(429, J("{'message': 'slow down'}")) << 2;
        QTest::newRow("truncated") << ReplayReply::ok(J("{'results': [{'title': 'Åster - Fields'")) << 2;
        QTest::newRow("malformed") << ReplayReply::ok("<html><body>Service Unavailable</body></html>") << 2;
        QTest::newRow("time-out") << ReplayReply::silence() << 1;
    }

    void discogsFailures()
    {
        QFETCH(ReplayReply, search);
        m_server.get("/discogs/database/search", search);
        DiscogsSource source(config(300));
        track t = known("Åster", "Fields", "Dawn");
        t.genre = "Rock";
        const RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);
        QVERIFY(!a.tagUpdated && !a.item.hasCover);
        QCOMPARE(a.item.trackname, QString("Dawn"));
        QFETCH(int, requests);
        QCOMPARE(m_server.requestCount(), requests);
        // A 429 is asked again once, the same; an empty answer leads to the looser search.
        const bool retried = QByteArray(QTest::currentDataTag()) == "error status";
        if (m_server.requestCount() == 2)
            QCOMPARE(queryValue(m_server.requests()[1], "q"),
                retried ? queryValue(m_server.requests()[0], "q") : QByteArray("album:Fields artist:Åster"));
        m_server.dropConnections();
    }

    void discogsCoverThatIsNoImageLeavesNoFile()
    {
        m_server.get("/discogs/database/search",
            ReplayReply::ok(QByteArray(kSearchReply).replace("THUMB", thumb().toUtf8())));
        m_server.get("/img/fields.png", ReplayReply::ok("<html>not found</html>", "text/html"));
        DiscogsSource source(config());
        const RepairSource::Answer a
            = ask(source, RepairSource::Request::Cover, known("Jean-Luc Åster", "Fields & Woods", "Dawn"));
        QVERIFY(!a.item.hasCover);
        QVERIFY(!QDir(AppPaths::dataLocation() + AppPaths().artworkDir).exists()
            || QDir(AppPaths::dataLocation() + AppPaths().artworkDir).isEmpty(QDir::Files | QDir::Hidden));
    }

    void discogsAlbumIsAskedOncePerRun()
    {
        m_server.get("/discogs/database/search",
            ReplayReply::ok(QByteArray(kSearchReply).replace("THUMB", "http://127.0.0.1:1/noimage.png")));
        m_server.get("/discogs/releases/1004", ReplayReply::ok(kReleaseReply));
        DiscogsSource source(config());
        track t = known("Åster", "Fields & Woods", "Dawn");
        t.folderLocation = "/music/burst";
        const RepairSource::Answer first = ask(source, RepairSource::Request::Album, t);
        t.trackname = "Dusk";
        const RepairSource::Answer second = ask(source, RepairSource::Request::Album, t);
        QCOMPARE(m_server.requestCount(), 2);
        QStringList titles;
        for (const track &c : first.candidates)
            titles << c.trackname + ' ' + QString::number(c.tracknumber) + ' ' + QString::number(c.duration);
        QCOMPARE(titles, (QStringList{"Dusk 3 3723", "Dawn 2 245", "Opening 1 225"}));
        QCOMPARE(second.candidates.size(), 3);
        QCOMPARE(first.candidates.first().artistname, QString("Jean-Luc Åster"));
    }

    void fpcalcOutputByKey_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<QString>("fingerprint");
        QTest::newRow("Debian 1.5") << QByteArray("DURATION=215\nFINGERPRINT=AQAB_-x\n") << qint64(215)
                                    << "AQAB_-x";
        QTest::newRow("with FILE, other order, CRLF")
            << QByteArray("FILE=/a=b.mp3\r\nFINGERPRINT=AQAB\r\nDURATION=45\r\n") << qint64(45) << "AQAB";
        QTest::newRow("last line cut off")
            << QByteArray("DURATION=215\nFINGERPRINT=AQAB") << qint64(215) << "";
        QTest::newRow("bad fingerprint") << QByteArray("DURATION=5\nFINGERPRINT=AQ AB\n") << qint64(5) << "";
        QTest::newRow("no duration") << QByteArray("DURATION=x\nFINGERPRINT=AQAB\n") << qint64(0) << "AQAB";
        QTest::newRow("error text") << QByteArray("ERROR: Empty fingerprint\n") << qint64(0) << "";
    }

    void fpcalcOutputByKey()
    {
        QFETCH(QByteArray, output);
        const FpcalcResult result = FpcalcRunner::parseOutput(output);
        QFETCH(qint64, duration);
        QFETCH(QString, fingerprint);
        QCOMPARE(result.duration, duration);
        QCOMPARE(result.fingerprint, fingerprint);
        QCOMPARE(result.ok, result.duration > 0 && !result.fingerprint.isEmpty());
    }

    void fpcalcRuns()
    {
        TestEnv env;
        const QString song = env.makePath("song.mp3");
        const QString shortSong = env.makePath("short.mp3");
        MediaGen::Audio audio;
        audio.seconds = 3;
        QVERIFY(MediaGen::makeAudio(song, audio).isEmpty());
        audio.seconds = 1;
        QVERIFY(MediaGen::makeAudio(shortSong, audio).isEmpty());
        const QString valid = "echo FILE=$1; echo DURATION=215; echo FINGERPRINT=AQAB; ";
        // Far more quiet than a tool that ends by itself needs on a busy machine, and far less than
        // one that sleeps past it keeps.
        constexpr int kQuietMs = 5000;
        const struct {
            const char *tool;
            QString script;
            bool ok;
        } runs[] = {
            {"", {}, true},  // the real one, which exits 3 on this file after a valid result
            {"exit 3", valid + "exit 3", true},
            {"exit 1", valid + "exit 1", false},
            {"past the limit", valid + "exec sleep 300", true},
            {"silent past the limit", "exec sleep 300", false},
            {"missing", {}, false},
        };
        for (const auto &run : runs) {
            const QString tool = QString(run.tool);
            if (tool == "missing")
                qputenv("KIVO_FPCALC", "/nonexistent/fpcalc");
            else if (!run.script.isEmpty())
                qputenv("KIVO_FPCALC",
                    QFile::encodeName(writeScript(env, QString(tool).replace(' ', '_'), run.script)));
            FpcalcRunner runner;
            runner.setTimeLimits(30000, kQuietMs);
            QList<FpcalcResult> results;
            connect(&runner, &FpcalcRunner::finished, this, [&](const FpcalcResult &r) { results << r; });
            QElapsedTimer timer;
            timer.start();
            runner.start(song);
            // Never blocks the caller: the tool is still running when start() returns.
            QVERIFY2(results.isEmpty() && runner.isRunning() == (tool != "missing"), run.tool);
            QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 60000);
            QVERIFY2(results.first().ok == run.ok, qPrintable(tool + ": " + results.first().error));
            QVERIFY(timer.elapsed() < 60000);  // one past the limit is killed, not waited out
            if (tool.isEmpty()) {
                QCOMPARE(results.first().duration, qint64(3));
                runner.start(shortSong);  // too short to fingerprint
                QTRY_COMPARE_WITH_TIMEOUT(results.size(), 2, 30000);
                QVERIFY(!results.last().ok);
            }
            qunsetenv("KIVO_FPCALC");
        }
    }

    // fpcalc that never answers costs one limit, not one per track: then it is set aside.
    void hungFpcalcIsSetAside()
    {
        TestEnv env;
        const QString log = env.makePath("starts.log");
        const QString script = writeScript(env, "fpcalc", "echo start >> \"" + log + "\"; exec sleep 300");
        qputenv("KIVO_FPCALC", QFile::encodeName(script));
        // Long enough for a slow start to leave its mark before the tool counts as hung.
        platform::ToolWatchdog::setLimitCeiling(3000);
        FingerprintSource source(config());
        for (int i = 1; i <= 4; ++i) {
            track t = known("", "", QString("Track %1").arg(i));
            t.filepath = script;  // any file that exists
            QVERIFY(ask(source, RepairSource::Request::Track, t, 30000).candidates.isEmpty());
        }
        platform::ToolWatchdog::setLimitCeiling(0);
        qunsetenv("KIVO_FPCALC");
        QFile starts(log);
        QVERIFY(starts.open(QIODevice::ReadOnly));
        QCOMPARE(starts.readAll().count('\n'), 1);
    }

    void fingerprintLookup()
    {
        TestEnv env;
        const QString script
            = writeScript(env, "fpcalc", "echo DURATION=215; echo FINGERPRINT=AQAB-_; exit 3");
        qputenv("KIVO_FPCALC", QFile::encodeName(script));
        m_server.get("/acoustid/v2/lookup", ReplayReply::ok(kLookupReply, "text/xml; charset=UTF-8"));
        FingerprintSource source(config());
        track t = known("", "", "Track 01");
        t.filepath = script;  // any file that exists
        const RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);
        QVERIFY(a.item.fingerprintRequested);
        QStringList got;
        for (const track &c : a.candidates)
            got << QStringList{QString::number(c.id), c.trackname, c.artistname, c.albumname,
                QString::number(c.tracknumber), QString::number(c.year), QString::number(c.duration),
                QString::number(c.score), QString::number(c.reservedShort3), c.coverUrl}
                       .join('|');
        const QString cover = m_server.url("/covers/art/mbidlarge.php?mbid=rel-a").toString();
        QCOMPARE(got,
            (QStringList{"7|Dawn (live)||Live|0|0|0|98|0|", "7|Dawn|Åster & Kai|Best Of|0|0|215|98|0|",
                "7|Dawn|Åster & Kai|Northern Fields|3|2001|215|98|12|" + cover}));
        const RecordedRequest r = m_server.requests().first();
        QCOMPARE(r.query(),
            QByteArray(
                "format=xml&client=k3y%2B%26%3D&duration=215&meta=recordings+releasegroups+releases+tracks+"
                "compress&fingerprint=AQAB-_"));
        QVERIFY(r.header("User-Agent").startsWith("KiVO/3.9"));
        qunsetenv("KIVO_FPCALC");
    }

    void fingerprintLookupFailures_data()
    {
        QTest::addColumn<ReplayReply>("reply");
        QTest::newRow("error status") << ReplayReply::error(400,
            "<response><status>error</status><error><code>4</code><message>invalid API "
            "key</message></error></response>");
        QTest::newRow("error in a 200") << ReplayReply::ok(
            "<response><status>error</status><results><result><id>x</id></result></results></response>");
        QTest::newRow("no result") << ReplayReply::ok("<response><status>ok</status><results/></response>");
        QTest::newRow("malformed") << ReplayReply::ok(
            QByteArray(kLookupReply).replace("</releasegroup>", ""));
        QTest::newRow("truncated") << ReplayReply::ok(QByteArray(kLookupReply).left(600));
        QTest::newRow("time-out") << ReplayReply::silence();
    }

    void fingerprintLookupFailures()
    {
        QFETCH(ReplayReply, reply);
        TestEnv env;
        const QString script = writeScript(env, "fpcalc", "echo DURATION=215; echo FINGERPRINT=AQAB");
        qputenv("KIVO_FPCALC", QFile::encodeName(script));
        m_server.get("/acoustid/v2/lookup", reply);
        FingerprintSource source(config(300));
        track t = known("", "", "");
        t.filepath = script;
        QVERIFY(ask(source, RepairSource::Request::Track, t).candidates.isEmpty());
        QCOMPARE(m_server.requestCount(), 1);
        qunsetenv("KIVO_FPCALC");
        m_server.dropConnections();
    }

    void fingerprintCover()
    {
        m_server.get(
            "/covers/art/mbidlarge.php", ReplayReply::redirect(m_server.url("/img/large.png").toEncoded()));
        m_server.get(
            "/img/large.png", ReplayReply::ok(MediaGen::coverPng(Qt::green, QSize(500, 500)), "image/png"));
        m_server.get("/img/broken.png", ReplayReply::ok(MediaGen::coverPng(Qt::green).left(60), "image/png"));
        FingerprintSource source(config());
        track t = known("Åster", "Northern Fields", "Dawn");
        t.cover = AppPaths().artworkCachePath("Northern Fields");
        t.coverUrl = m_server.url("/covers/art/mbidlarge.php?mbid=rel-a").toString();
        const RepairSource::Answer stored = ask(source, RepairSource::Request::Cover, t);
        QVERIFY(stored.item.hasCover);
        QCOMPARE(QImage(t.cover).size(), QSize(110, 110));
        ask(source, RepairSource::Request::Cover, t);  // there already: not fetched again
        QCOMPARE(m_server.requestCount(), 2);

        t.cover = AppPaths().artworkCachePath("Broken");
        t.coverUrl = m_server.url("/img/broken.png").toString();
        const RepairSource::Answer broken = ask(source, RepairSource::Request::Cover, t);
        QVERIFY(!broken.item.hasCover);
        QCOMPARE(broken.item.cover, AppPaths().noArtworkUrl);
        QVERIFY(!QFileInfo::exists(t.cover));
    }

    // Each host keeps its own gap, shared by every client of it; another host does not wait.
    void pacingPerHost()
    {
        ReplayServer other;
        const QByteArray reply = mbReply(mbRecording("Dawn", 1000, "Åster"));
        m_server.get("/mb/ws/2/recording", ReplayReply::ok(reply));
        other.get("/mb/ws/2/recording", ReplayReply::ok(reply));
        // Read off the pacer's own clock: where requests arrive, a busy machine moves single ones.
        struct Sent {
            QString key;
            qint64 us;
            bool claimed;
        };
        QList<Sent> sent;
        RequestPacer::sentHook = [&sent](const QString &key, qint64 us, bool claimed) {
            sent.append({key, us, claimed});
        };
        const auto unhook = qScopeGuard([] { RequestPacer::sentHook = {}; });
        WebServiceConfig slow = config(30000);
        slow.musicBrainzIntervalMs = 250;
        WebServiceConfig fast = slow;
        fast.setHost(Service::MusicBrainz, other.url("/mb"));
        fast.musicBrainzIntervalMs = 60;
        std::vector<std::unique_ptr<MusicBrainzApi>> clients;
        for (const WebServiceConfig *c : {&slow, &slow, &fast})
            clients.push_back(std::make_unique<MusicBrainzApi>(*c));
        int answers = 0;
        for (auto &client : clients)
            connect(client.get(), &MusicBrainzApi::MusicBrainzfinished, this, [&answers] { ++answers; });
        for (int round = 0; round < 3; ++round) {
            const int before = answers;
            for (auto &client : clients) {
                client->forgetReplies();
                client->searchTrack(known("Åster", "Fields", ""));
            }
            QTRY_COMPARE_WITH_TIMEOUT(answers, before + 3, 30000);
        }
        RequestPacer::sentHook = {};
        QCOMPARE(m_server.requestCount(), 6);
        QCOMPARE(other.requestCount(), 3);
        const QString slowKey = RequestPacer::keyFor("http", m_server.url("/").host(), m_server.port());
        const QString fastKey = RequestPacer::keyFor("http", other.url("/").host(), other.port());
        // Each request goes out no sooner than the gap after the one before it really left.
        QList<qint64> slowClaims, fastClaims, gaps;
        qint64 lastLeft = 0;
        for (const Sent &s : std::as_const(sent)) {
            if (s.key == fastKey && s.claimed)
                fastClaims << s.us;
            if (s.key != slowKey)
                continue;
            if (s.claimed) {
                if (!slowClaims.isEmpty())
                    gaps << s.us - lastLeft;
                slowClaims << s.us;
            }
            lastLeft = qMax(lastLeft, s.us);
        }
        QCOMPARE(slowClaims.size(), 6);
        QCOMPARE(fastClaims.size(), 3);
        QString shown;
        for (const qint64 gap : std::as_const(gaps))
            shown += QString::number(gap) + QLatin1Char(' ');
        for (const qint64 gap : std::as_const(gaps))
            QVERIFY2(gap >= 250 * 1000, qPrintable(shown));
        // Turns neither pile up nor count twice: five gaps take less than twice their length, which
        // leaves a busy machine ample room to wake each turn late.
        const qint64 span = slowClaims.last() - slowClaims.first();
        QVERIFY2(span < 5 * 2 * 250 * 1000, qPrintable(QString::number(span) + " us: " + shown));
        // The other host is not held back by this one's gap.
        QVERIFY(fastClaims.first() < slowClaims[1]);
    }

    // The run's own sources, as the environment configures them.
    void runAsksTheConfiguredSources()
    {
        qputenv("KIVO_MUSICBRAINZ_HOST", m_server.url("/mb").toEncoded());
        m_server.get("/mb/ws/2/recording",
            ReplayReply::ok(mbReply(mbRecording("Dawn", 1000, "Åster", "Northern Fields"))));
        const ApiManager::Sources sources = ApiManager::webSources();
        qputenv("KIVO_MUSICBRAINZ_HOST", "none");
        QVERIFY(sources.musicBrainz && !sources.discogs && !sources.fingerprint);
        ApiManager::setOnlineCheck([] { return true; });
        QList<track> saved;
        {
            ApiManager run(sources);
            run.setTagWriter([](const track &) { return true; });
            connect(&run, &ApiManager::updateTrackToManager, this, [&saved](const track &t) { saved << t; });
            track t = known("Åster", "Northern Fields", "Track 01");
            t.hasTitle = false;
            t.folderLocation = "/music";
            run.startOptimisation({{t.id, t}});
            QTRY_COMPARE_WITH_TIMEOUT(saved.size(), 2, 10000);
        }
        ApiManager::setOnlineCheck({});
        QCOMPARE(saved.first().trackname, QString("Dawn"));
        QCOMPARE(m_server.requestCount(), 1);
    }
    // A recording of another length, or on another album, is no candidate for the track.
    void musicBrainzRefusesWhatDoesNotFit()
    {
        m_server.get("/mb/ws/2/recording",
            ReplayReply::ok(mbReply(mbRecording("Thief of Hearts", 198000, "Åster", "Northern Fields")
                + mbRecording("Dawn", 30000, "Åster", "Elsewhere"))));
        MusicBrainzSource source(config());
        track t = known("Åster", "Northern Fields", "");
        t.duration = 30;
        RepairSource::Answer a = ask(source, RepairSource::Request::Track, t);
        QVERIFY(!a.item.hasTitle && a.item.trackname.isEmpty());

        // The same album spelt otherwise, at a close length, fits.
        source.api().forgetReplies();
        m_server.get("/mb/ws/2/recording",
            ReplayReply::ok(mbReply(mbRecording("Thief of Hearts", 198000, "Åster", "Northern Fields")
                + mbRecording("Dusk", 31500, "Åster", "northern fields!"))));
        a = ask(source, RepairSource::Request::Track, t);
        QCOMPARE(a.item.trackname, QString("Dusk"));
    }

    // One album's tracks asked one by one: each recording names at most one of them.
    void burstOfOneAlbumGetsDistinctTitles()
    {
        m_server.get("/mb/ws/2/recording",
            ReplayReply::ok(mbReply(mbRecording("Alpha", 20000, "Åster", "Fields")
                + mbRecording("Beta", 30000, "Åster", "Fields")
                + mbRecording("Gamma", 40000, "Åster", "Fields"))));
        const WebServiceConfig c = config();
        ApiManager::Sources sources;
        sources.musicBrainz = [c] { return std::make_unique<MusicBrainzSource>(c); };
        ApiManager::setOnlineCheck([] { return true; });
        QList<track> saved;
        {
            ApiManager run(sources);
            run.setTagWriter([](const track &) { return true; });
            connect(&run, &ApiManager::updateTrackToManager, this, [&saved](const track &t) { saved << t; });
            TrackMap tracks;
            const double seconds[] = {20, 30, 40, 41};
            // A folder of its own: the repository keeps what earlier runs of this test saved.
            const QString folder = QString("/music/burst-%1").arg(QDateTime::currentMSecsSinceEpoch());
            for (int i = 0; i < 4; ++i) {
                track t = known("Åster", "Fields", "");
                t.id = 10 + i;
                t.duration = seconds[i];
                t.folderLocation = folder;
                t.filepath = t.originalPath = QString("%1/%2.mp3").arg(folder).arg(i);
                tracks.insert(t.id, t);
            }
            run.startOptimisation(tracks);
            QTRY_VERIFY_WITH_TIMEOUT(!saved.isEmpty() && saved.last().id == -1, 10000);
        }
        ApiManager::setOnlineCheck({});
        QMap<qint64, QString> titles;
        for (const track &t : std::as_const(saved))
            titles.insert(t.id, t.hasTitle ? t.trackname : QString());
        QCOMPARE(titles.value(10), QString("Alpha"));
        QCOMPARE(titles.value(11), QString("Beta"));
        // Gamma fits both 40 s and 41 s: it names neither.
        QVERIFY(titles.value(12).isEmpty() && titles.value(13).isEmpty());
        QCOMPARE(m_server.requestCount(), 1);  // one album, one search, asked once in the run
    }

private:
    // Ten untitled tracks in ten folders, repaired against a MusicBrainz host that never answers;
    // `stop` stops the run once the first request has arrived. The ends the run reported.
    QList<RepairSummary> runAgainstSilence(int timeoutMs, qint64 firstId, bool stop)
    {
        m_server.get("/mb/ws/2/recording", ReplayReply::silence());
        const WebServiceConfig c = config(timeoutMs);
        ApiManager::Sources sources;
        sources.musicBrainz = [c] { return std::make_unique<MusicBrainzSource>(c); };
        ApiManager::setOnlineCheck([] { return true; });
        QList<RepairSummary> ends;
        bool ended = false;
        {
            ApiManager run(sources);
            run.setTagWriter([](const track &) { return true; });
            connect(&run, &ApiManager::repairEnded, this, [&ends](const RepairSummary &s) { ends << s; });
            connect(&run, &ApiManager::updateTrackToManager, this,
                [&ended](const track &t) { ended = t.id == -1; });
            TrackMap tracks;
            for (int i = 0; i < 10; ++i) {
                track t = known("Åster", "Fields", "");
                t.id = firstId + i;
                t.folderLocation = QString("/music/%1").arg(t.id);
                tracks.insert(t.id, t);
            }
            run.startOptimisation(tracks);
            if (stop) {
                [&] { QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount(), 1, 5000); }();
                run.cancelOptimization();
            }
            [&] { QTRY_VERIFY_WITH_TIMEOUT(ended, 20000); }();
        }
        ApiManager::setOnlineCheck({});
        m_server.dropConnections();
        return ends;
    }

private slots:
    // A host that never answers costs a few time-outs a run, not one per track, and is named once.
    void deadHostIsLeftAlone()
    {
        const QList<RepairSummary> ends = runAgainstSilence(200, 20, false);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(m_server.requestCount(), HostHealth::kFailuresInARow);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(ends.first().hostsGivenUp, QStringList{"127.0.0.1"});
        QCOMPARE(ends.first().done, qint64(10));
    }

    // Stop ends the run at once: the request in flight is dropped, nothing more is asked, and the
    // end tells how far it came.
    void stopEndsTheRun()
    {
        const QList<RepairSummary> ends = runAgainstSilence(10000, 40, true);
        QVERIFY(!QTest::currentTestFailed());
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(ends.size(), 1);
        QVERIFY(ends.first().stopped);
        QCOMPARE(ends.first().total, qint64(10));
        QCOMPARE(ends.first().done, qint64(1));
    }

    // A 503 with Retry-After is asked again once, no sooner than it said.
    void retryAfterIsWaitedFor()
    {
        m_server.get("/x", ReplayReply::error(503).withHeader("Retry-After", "1"));
        connect(
            &m_server, &ReplayServer::requestReceived, this,
            [this] { m_server.get("/x", ReplayReply::ok("fine")); }, Qt::QueuedConnection);
        QNetworkAccessManager network;
        WebRequest request(&network, m_server.url("/x"), WebRequest::Options());
        QList<WebResult> results;
        connect(&request, &WebRequest::finished, this, [&results](const WebResult &r) { results << r; });
        request.start();
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 5000);
        m_server.disconnect(this);
        QVERIFY(results.first().ok);
        QCOMPARE(results.first().body, QByteArray("fine"));
        QCOMPARE(m_server.requestCount(), 2);
        QVERIFY(m_server.requests()[1].receivedUs - m_server.requests()[0].receivedUs >= 1000 * 1000);
    }

    // A reply without a declared size is refused once what arrived passes the limit: the rest is
    // never fetched, so a huge reply never sits in memory.
    void oversizedReplyIsCutShort()
    {
        QTcpServer endless;
        QVERIFY(endless.listen(QHostAddress::LocalHost));
        qint64 written = 0;
        constexpr qint64 kOffered = 64 * 1024 * 1024;
        connect(&endless, &QTcpServer::newConnection, this, [&] {
            QTcpSocket *socket = endless.nextPendingConnection();
            const QByteArray chunk(64 * 1024, 'x');
            const auto feed = [socket, chunk, &written] {
                // Only as fast as the other side reads: what it leaves unread stays unsent.
                while (written < kOffered && socket->bytesToWrite() < 256 * 1024) {
                    socket->write(QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n");
                    written += chunk.size();
                }
            };
            connect(socket, &QTcpSocket::readyRead, socket, [socket, feed] {
                socket->readAll();
                socket->write("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
                feed();
            });
            connect(socket, &QTcpSocket::bytesWritten, socket, feed);
        });
        QNetworkAccessManager network;
        WebRequest::Options options;
        options.maxBytes = 1024 * 1024;
        WebRequest request(
            &network, QUrl(QString("http://127.0.0.1:%1/big").arg(endless.serverPort())), options);
        QList<WebResult> results;
        connect(&request, &WebRequest::finished, this, [&results](const WebResult &r) { results << r; });
        request.start();
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 10000);
        QVERIFY(!results.first().ok && results.first().body.isEmpty());
        QVERIFY(results.first().error.contains("larger"));
        QTest::qWait(200);
        QVERIFY2(written < 16 * 1024 * 1024, qPrintable(QString::number(written)));
    }
};

KIVO_TEST_MAIN(TestSources)
#include "tst_sources.moc"
