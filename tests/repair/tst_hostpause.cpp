#include "apimanager.h"
#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "hosthealth.h"
#include "musicbrainzsource.h"
#include "replayserver.h"
#include "requestpacer.h"
#include "sourcefixtures.h"
#include "testenv.h"
#include "webrequest.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLocale>
#include <QNetworkAccessManager>

#include <memory>

namespace {

// Now plus `seconds`, as a host writes a Retry-After date, with English names.
QByteArray dateAhead(qint64 seconds, const QString &format)
{
    return QLocale::c().toString(QDateTime::currentDateTimeUtc().addSecs(seconds), format).toLatin1();
}

// The asctime form pads a one-digit day with a space.
QByteArray asctimeAhead(qint64 seconds)
{
    const QDateTime when = QDateTime::currentDateTimeUtc().addSecs(seconds);
    return QLocale::c().toString(when, "ddd MMM ").toLatin1()
        + QByteArray::number(when.date().day()).rightJustified(2, ' ')
        + QLocale::c().toString(when, " hh:mm:ss yyyy").toLatin1();
}

QString debugLog()
{
    QFile file(QDir(AppPaths().dataDir).filePath("debug.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

// A host that asks for a longer pause than a request waits for is given up on for the run, so it
// holds up neither the run nor any later request.
class TestHostPause : public QObject
{
    Q_OBJECT

    ReplayServer m_server;
    std::unique_ptr<Database> m_database;

private slots:
    void initTestCase()
    {
        registerTrackMetaTypes();
        setLogFile(appLogFile(), QDir(AppPaths().dataDir).filePath("debug.log"));
        m_database = std::make_unique<Database>();
        QVERIFY(m_database->open("KivoData", true) && m_database->initStructure());
    }

    void init()
    {
        m_server.clearRoutes();
        m_server.clearRequests();
        RequestPacer::reset();
        HostHealth::reset();
    }

    void retryAfterForms_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("least");
        QTest::addColumn<qint64>("most");
        const qint64 hour = 3600 * 1000;
        const qint64 day = 24 * hour;
        // A date has whole seconds, and the clock moves while the test runs, slowly on a busy
        // machine: a minute short of the hour is still the hour, never an hour off.
        const qint64 slack = 60000;
        QTest::newRow("seconds") << QByteArray(" 120 ") << qint64(120000) << qint64(120000);
        QTest::newRow("http date") << dateAhead(3600, "ddd, dd MMM yyyy hh:mm:ss 'GMT'") << hour - slack
                                   << hour;
        QTest::newRow("rfc 850") << dateAhead(3600, "dddd, dd-MMM-yy hh:mm:ss 'GMT'") << hour - slack << hour;
        QTest::newRow("asctime") << asctimeAhead(3600) << hour - slack << hour;
        QTest::newRow("past") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << qint64(0) << qint64(0);
        QTest::newRow("far date") << QByteArray("Fri, 31 Dec 9999 23:59:59 GMT") << day << day;
        QTest::newRow("many digits") << QByteArray(30, '9') << day << day;
        const char *junk[] = {"", "soon", "-5", "1e3", "Mon, 32 Dec 2026 08:11:45 GMT",
            "Mon, 07 Dec 2026 08:11:45 PST", "Mon, 07 Dec 2026 08:11:45 GMT GMT"};
        for (const char *text : junk)
            QTest::newRow(("junk " + QByteArray(text)).constData())
                << QByteArray(text) << qint64(-1) << qint64(-1);
        QTest::newRow("binary") << QByteArray("\0\xff\x01 Dec 7", 9) << qint64(-1) << qint64(-1);
    }

    void retryAfterForms()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, least);
        QFETCH(qint64, most);
        const qint64 ms = WebRequest::retryAfterMs(value);
        QVERIFY2(ms >= least && ms <= most, qPrintable(QString::number(ms)));
    }

    void longPauseGivesTheHostUp_data()
    {
        QTest::addColumn<QByteArray>("retryAfter");
        QTest::newRow("seconds") << QByteArray("3600");
        QTest::newRow("date") << dateAhead(3600, "ddd, dd MMM yyyy hh:mm:ss 'GMT'");
    }

    // Ten tracks in ten folders: the first request is told to wait an hour; nothing more is asked,
    // the run ends at once and names the host.
    void longPauseGivesTheHostUp()
    {
        QFETCH(QByteArray, retryAfter);
        m_server.get("/mb/ws/2/recording", ReplayReply::error(503).withHeader("Retry-After", retryAfter));
        WebServiceConfig c;
        c.setHost(WebServiceConfig::Service::MusicBrainz, m_server.url("/mb"));
        c.timeoutMs = 20000;
        ApiManager::Sources sources;
        sources.musicBrainz = [c] { return std::make_unique<MusicBrainzSource>(c); };
        ApiManager::setOnlineCheck([] { return true; });
        QList<RepairSummary> ends;
        bool ended = false;
        const qsizetype logged = debugLog().count("not asked again in this run, asked for a pause of");
        QElapsedTimer sinceReply;
        QObject watch;  // the connection ends with the test, however it ends
        connect(&m_server, &ReplayServer::requestReceived, &watch, [&sinceReply] { sinceReply.start(); });
        {
            ApiManager run(sources);
            run.setTagWriter([](const track &) { return true; });
            connect(&run, &ApiManager::repairEnded, this, [&ends](const RepairSummary &s) { ends << s; });
            connect(&run, &ApiManager::updateTrackToManager, this,
                [&ended](const track &t) { ended = t.id == -1; });
            TrackMap tracks;
            // Folders of their own: the repository keeps what earlier runs saved.
            const qint64 stamp = QDateTime::currentMSecsSinceEpoch();
            for (int i = 0; i < 10; ++i) {
                track t;
                t.id = 60 + i;
                t.artistname = "Åster";
                t.albumname = "Fields";
                t.hasArtist = t.hasAlbum = true;
                t.folderLocation = QString("/music/pause-%1-%2").arg(stamp).arg(t.id);
                t.filepath = t.originalPath = t.folderLocation + "/song.mp3";
                tracks.insert(t.id, t);
            }
            run.startOptimisation(tracks);
            QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
        }
        ApiManager::setOnlineCheck({});
        // Well short of the longest wait for a retry (30 s), let alone the hour: not sat out.
        QVERIFY2(sinceReply.elapsed() < 20000, qPrintable(QString::number(sinceReply.elapsed())));
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(ends.size(), 1);
        QCOMPARE(ends.first().done, qint64(10));
        QCOMPARE(ends.first().hostsGivenUp, QStringList{"127.0.0.1"});
        QCOMPARE(debugLog().count("not asked again in this run, asked for a pause of"), logged + 1);

        // The pause outlasts the run: a request of the next one is not held for it, nor sent.
        HostHealth::reset();
        QNetworkAccessManager network;
        WebRequest request(&network, m_server.url("/mb/ws/2/recording"), WebRequest::Options());
        QList<WebResult> results;
        connect(&request, &WebRequest::finished, this, [&results](const WebResult &r) { results << r; });
        QElapsedTimer waited;
        waited.start();
        request.start();
        QTRY_COMPARE_WITH_TIMEOUT(results.size(), 1, 20000);
        QVERIFY(waited.elapsed() < 10000);
        QVERIFY(!results.first().ok);
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(HostHealth::givenUp(), QStringList{"127.0.0.1"});
    }
};

KIVO_TEST_MAIN(TestHostPause)
#include "tst_hostpause.moc"
