#include "replayserver.h"
#include "testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>

#include <memory>

// What the web-client tests need of the local server beyond what the update tests already use:
// other methods, request bodies and headers, routes that name a query, and delayed replies.
class TestReplayServer : public QObject
{
    Q_OBJECT

private:
    ReplayServer m_server;
    QNetworkAccessManager m_network;

    std::unique_ptr<QNetworkReply> send(
        const QByteArray &method, const QString &target, const QByteArray &body = {})
    {
        QNetworkRequest request(m_server.url(target));
        request.setRawHeader("X-Test", "yes");
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(30000);
        return reply;
    }

    static int status(const std::unique_ptr<QNetworkReply> &reply)
    {
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

private slots:
    void routesAndRecording()
    {
        m_server.get("/a", ReplayReply::ok("plain A"));
        m_server.get("/a?x=1", ReplayReply::ok("query A", "text/html").withHeader("X-Extra", "1"));
        m_server.route("POST", "/post", ReplayReply::error(503, "busy"));
        QCOMPARE(send("GET", "/a?y=2")->readAll(), QByteArray("plain A"));
        const auto withQuery = send("GET", "/a?x=1");
        QCOMPARE(withQuery->readAll(), QByteArray("query A"));
        QCOMPARE(withQuery->rawHeader("X-Extra"), QByteArray("1"));
        QCOMPARE(status(send("POST", "/post", "{\"k\":1}")), 503);
        QCOMPARE(status(send("POST", "/a")), 404);

        const QList<RecordedRequest> got = m_server.requests();
        QCOMPARE(got.size(), 4);
        QCOMPARE(QByteArrayList(
                     {got[0].path(), got[0].query(), got[0].header("x-test"), got[2].method, got[2].body}),
            QByteArrayList({"/a", "y=2", "yes", "POST", "{\"k\":1}"}));
        QCOMPARE(m_server.requestCount("/a"), 3);
    }

    // A delayed reply lets a later request overtake it, and a delayed reply still arrives whole.
    void delay()
    {
        // Twice as long as send() waits for the fast reply, so the slow one cannot come first; it
        // is never waited for.
        m_server.get("/slow", ReplayReply::ok("late").withDelay(60000));
        m_server.get("/fast", ReplayReply::ok("soon"));
        std::unique_ptr<QNetworkReply> slow(m_network.get(QNetworkRequest(m_server.url("/slow"))));
        // The slow request is held by the server before the fast one is even sent.
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestCount("/slow"), 1, 30000);
        QCOMPARE(send("GET", "/fast")->readAll(), QByteArray("soon"));
        QVERIFY(!slow->isFinished());
        QCOMPARE(m_server.requestCount("/fast"), 1);

        m_server.get("/late", ReplayReply::ok("late").withDelay(300));
        QElapsedTimer clock;
        clock.start();
        const auto late = send("GET", "/late");
        QVERIFY(late->isFinished());
        QCOMPARE(late->readAll(), QByteArray("late"));
        QVERIFY(clock.elapsed() >= 300);
    }
};

KIVO_TEST_MAIN(TestReplayServer)
#include "tst_replayserver.moc"
