#include "replayserver.h"
#include "testenv.h"

#include <QApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>

#include <memory>

// The local HTTP server the web-client tests replay their replies from.
class TestReplayServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ReplayServer> m_server;
    QNetworkAccessManager m_network;

    QNetworkReply *send(const QByteArray &method, const QString &path, const QByteArray &body = QByteArray(),
        int timeoutMs = 3000)
    {
        QNetworkRequest request(m_server->url(path));
        request.setRawHeader("X-Test", "yes");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(timeoutMs);
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        QNetworkReply *reply = m_network.sendCustomRequest(request, method, body);
        QSignalSpy finished(reply, &QNetworkReply::finished);
        if (!reply->isFinished())
            finished.wait(10000);
        return reply;
    }

private slots:
    void init()
    {
        m_server = std::make_unique<ReplayServer>();
        QVERIFY(m_server->isListening());
        QVERIFY(m_server->port() > 0);
    }

    void cleanup()
    {
        m_server.reset();
        m_network.clearConnectionCache();
    }

    void routesAndRecording()
    {
        m_server->get(QStringLiteral("/a"), ReplayReply::ok("plain A"));
        m_server->get(
            QStringLiteral("/a?x=1"), ReplayReply::ok("query A", "text/html").withHeader("X-Extra", "1"));
        m_server->route("POST", QStringLiteral("/post"), ReplayReply::error(503, "busy"));

        std::unique_ptr<QNetworkReply> r1(send("GET", QStringLiteral("/a?y=2")));
        QCOMPARE(r1->readAll(), QByteArray("plain A"));
        std::unique_ptr<QNetworkReply> r2(send("GET", QStringLiteral("/a?x=1")));
        QCOMPARE(r2->readAll(), QByteArray("query A"));
        QCOMPARE(r2->rawHeader("X-Extra"), QByteArray("1"));
        QCOMPARE(r2->header(QNetworkRequest::ContentLengthHeader).toInt(), 7);
        std::unique_ptr<QNetworkReply> r3(send("POST", QStringLiteral("/post"), "{\"k\":1}"));
        QCOMPARE(r3->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 503);
        std::unique_ptr<QNetworkReply> r4(send("GET", QStringLiteral("/nothing")));
        QCOMPARE(r4->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);
        std::unique_ptr<QNetworkReply> r5(send("POST", QStringLiteral("/a")));
        QCOMPARE(r5->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 404);

        const QList<RecordedRequest> got = m_server->requests();
        QCOMPARE(got.size(), 5);
        QCOMPARE(got.at(0).method, QByteArray("GET"));
        QCOMPARE(got.at(0).target, QByteArray("/a?y=2"));
        QCOMPARE(got.at(0).path(), QByteArray("/a"));
        QCOMPARE(got.at(0).query(), QByteArray("y=2"));
        QCOMPARE(got.at(0).header("x-test"), QByteArray("yes"));
        QCOMPARE(got.at(2).method, QByteArray("POST"));
        QCOMPARE(got.at(2).body, QByteArray("{\"k\":1}"));
        QCOMPARE(got.at(2).header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(m_server->requestCount(QStringLiteral("/a")), 3);
        m_server->clearRequests();
        QCOMPARE(m_server->requestCount(), 0);
    }

    void redirectsAreNotFollowedByTheServer()
    {
        m_server->get(QStringLiteral("/r"), ReplayReply::redirect("/target", 301));
        std::unique_ptr<QNetworkReply> r(send("GET", QStringLiteral("/r")));
        QCOMPARE(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 301);
        QCOMPARE(r->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl(),
            QUrl(QStringLiteral("/target")));
    }

    void delayAndSilence()
    {
        m_server->get(QStringLiteral("/slow"), ReplayReply::ok("late").withDelay(200));
        m_server->get(QStringLiteral("/never"), ReplayReply::silence());
        QElapsedTimer timer;
        timer.start();
        std::unique_ptr<QNetworkReply> slow(send("GET", QStringLiteral("/slow")));
        QVERIFY(timer.elapsed() >= 150);
        QCOMPARE(slow->readAll(), QByteArray("late"));
        std::unique_ptr<QNetworkReply> never(send("GET", QStringLiteral("/never"), QByteArray(), 300));
        QCOMPARE(never->error(), QNetworkReply::OperationCanceledError);
        QCOMPARE(m_server->requestCount(QStringLiteral("/never")), 1);
    }

    // Several requests over one kept-alive connection, sent back to back, each answered in turn.
    void keepAliveAndPipelining()
    {
        m_server->get(QStringLiteral("/one"), ReplayReply::ok("1").withDelay(50));
        m_server->get(QStringLiteral("/two"), ReplayReply::ok("22"));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write(
            "GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /two HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        QByteArray all;
        QTRY_VERIFY_WITH_TIMEOUT(
            (all += socket.readAll(),
                socket.state() == QAbstractSocket::UnconnectedState || all.count("HTTP/1.1 200") == 2),
            5000);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
        all += socket.readAll();
        QCOMPARE(all.count("HTTP/1.1 200 OK"), 2);
        QVERIFY(all.indexOf("\r\n\r\n1") < all.indexOf("\r\n\r\n22"));
        QVERIFY(all.contains("Content-Length: 2\r\n"));
        QVERIFY(all.contains("Connection: close\r\n"));
    }

    void badRequests()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_server->port());
        QVERIFY(socket.waitForConnected(3000));
        socket.write("NONSENSE\r\n\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
        QVERIFY(socket.readAll().startsWith("HTTP/1.1 400"));
        QCOMPARE(m_server->requestCount(), 0);
    }

    void urlHelper()
    {
        const QUrl u = m_server->url(QStringLiteral("/p?q=1"));
        QCOMPARE(u.host(), QStringLiteral("127.0.0.1"));
        QCOMPARE(u.port(), int(m_server->port()));
        QCOMPARE(u.path(), QStringLiteral("/p"));
        QCOMPARE(u.query(), QStringLiteral("q=1"));
    }
};

KIVO_TEST_MAIN(TestReplayServer)
#include "tst_replayserver.moc"
