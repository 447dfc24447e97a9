#include "replayserver.h"
#include "swreleasenotesbrowser.h"
#include "swurlopener.h"
#include "testenv.h"

#include <QApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>

class TestReleaseNotes : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ReplayServer> m_server;
    std::unique_ptr<SwReleaseNotesBrowser> m_view;
    QList<QUrl> m_opened;

    // Loads `path` from the server and returns whether the page arrived.
    bool load(const QString &path)
    {
        QSignalSpy done(m_view.get(), &SwReleaseNotesBrowser::loadFinished);
        m_view->load(m_server->url(path));
        if (!done.wait(5000) || done.size() != 1)
            return false;
        return done.first().first().toBool();
    }

private slots:
    void initTestCase()
    {
        SwUrlOpener::setOpener([this](const QUrl &url) {
            m_opened.append(url);
            return true;
        });
    }

    void cleanupTestCase() { SwUrlOpener::setOpener({}); }

    void init()
    {
        m_server = std::make_unique<ReplayServer>();
        QVERIFY(m_server->isListening());
        m_view = std::make_unique<SwReleaseNotesBrowser>();
        m_view->setTimeoutMs(2000);
        m_opened.clear();
    }

    void cleanup()
    {
        m_view.reset();
        m_server.reset();
    }

    void charsets_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        QTest::newRow("latin-1 by header")
            << QByteArray("text/html; charset=ISO-8859-1") << QByteArray("<p>Caf\xe9 cr\xe8me</p>")
            << QStringLiteral("Caf\u00e9 cr\u00e8me");
        QTest::newRow("windows-1252 by header")
            << QByteArray("text/html; charset=\"windows-1252\"") << QByteArray("<p>na\xefve</p>")
            << QStringLiteral("na\u00efve");
        QTest::newRow("utf-8 by header")
            << QByteArray("text/html;charset=utf-8") << QByteArray("<p>\xce\xb2-Version</p>")
            << QStringLiteral("\u03b2-Version");
        QTest::newRow("header wins over meta")
            << QByteArray("text/html; charset=utf-8")
            << QByteArray("<meta charset=\"iso-8859-1\"><p>\xc3\xa9t\xc3\xa9</p>")
            << QStringLiteral("\u00e9t\u00e9");
        QTest::newRow("meta without header")
            << QByteArray("text/html")
            << QByteArray("<html><head><meta charset=\"iso-8859-1\"></head><p>\xe9t\xe9</p>")
            << QStringLiteral("\u00e9t\u00e9");
        QTest::newRow("utf-8 by default")
            << QByteArray("text/html") << QByteArray("<p>\xe2\x82\xac 5</p>") << QStringLiteral("\u20ac 5");
        QTest::newRow("plain text stays text")
            << QByteArray("text/plain; charset=utf-8") << QByteArray("<b>not bold</b>")
            << QStringLiteral("<b>not bold</b>");
    }

    void charsets()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        m_server->get(QStringLiteral("/notes"), ReplayReply::ok(body, contentType));
        QVERIFY(load(QStringLiteral("/notes")));
        QCOMPARE(m_view->toPlainText().trimmed(), shown);
    }

    // Nothing in the page runs or fetches: no scripts, no images, no style sheets, no local files.
    void inertPage()
    {
        const QByteArray img = m_server->url(QStringLiteral("/pic.png")).toEncoded();
        const QByteArray css = m_server->url(QStringLiteral("/style.css")).toEncoded();
        m_server->get(QStringLiteral("/notes"),
            ReplayReply::ok("<html><head><link rel=\"stylesheet\" href=\"" + css
                    + "\"><script>document.write('injected')</script></head><body>"
                      "<p>Notes</p><img src=\""
                    + img + "\"><img src=\"file:///etc/hostname\"><img src=\"/etc/passwd\"></body></html>",
                "text/html"));
        QVERIFY(load(QStringLiteral("/notes")));
        QVERIFY(m_view->toPlainText().contains(QStringLiteral("Notes")));
        QVERIFY(!m_view->toPlainText().contains(QStringLiteral("injected")));
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(QStringLiteral("/pic.png")), 0);
        QCOMPARE(m_server->requestCount(QStringLiteral("/style.css")), 0);
        QCOMPARE(m_server->requestCount(), 1);
    }

    // A local picture named by the page is never read.
    void noLocalFiles()
    {
        QTemporaryDir dir;
        QImage picture(4, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QString file = dir.filePath(QStringLiteral("secret.png"));
        QVERIFY(picture.save(file));
        const QUrl local = QUrl::fromLocalFile(file);
        m_server->get(QStringLiteral("/notes"),
            ReplayReply::ok("<p>x</p><img src=\"" + local.toEncoded() + "\">", "text/html"));
        QVERIFY(load(QStringLiteral("/notes")));
        const QVariant resource = m_view->document()->resource(QTextDocument::ImageResource, local);
        QVERIFY(resource.value<QImage>().isNull());
        QVERIFY(resource.toByteArray().isEmpty());
    }

    // Links open in the browser only when they are web addresses; relative ones resolve first.
    void links()
    {
        m_server->get(
            QStringLiteral("/dir/notes"), ReplayReply::ok("<a href=\"more.html\">more</a>", "text/html"));
        QVERIFY(load(QStringLiteral("/dir/notes")));
        emit m_view->anchorClicked(QUrl(QStringLiteral("more.html")));
        emit m_view->anchorClicked(QUrl(QStringLiteral("file:///usr/bin/xterm")));
        emit m_view->anchorClicked(QUrl(QStringLiteral("javascript:alert(1)")));
        emit m_view->anchorClicked(QUrl(QStringLiteral("https://example.invalid/x")));
        QCOMPARE(m_opened,
            (QList<QUrl>{m_server->url(QStringLiteral("/dir/more.html")),
                QUrl(QStringLiteral("https://example.invalid/x"))}));
        QVERIFY(!m_view->openLinks());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("not found") << "/missing";
        QTest::newRow("too large") << "/big";
        QTest::newRow("never answers") << "/silent";
        QTest::newRow("redirect loop") << "/loop1";
        QTest::newRow("redirect to file") << "/tofile";
    }

    // A page that cannot be had leaves the view empty and reports so.
    void failures()
    {
        QFETCH(QString, path);
        m_server->get(QStringLiteral("/big"), ReplayReply::ok(QByteArray(5000, 'x'), "text/plain"));
        m_server->get(QStringLiteral("/silent"), ReplayReply::silence());
        m_server->get(QStringLiteral("/loop1"), ReplayReply::redirect("/loop2"));
        m_server->get(QStringLiteral("/loop2"), ReplayReply::redirect("/loop1"));
        m_server->get(QStringLiteral("/tofile"), ReplayReply::redirect("file:///etc/passwd"));
        m_view->setMaxBytes(1000);
        m_view->setTimeoutMs(300);
        m_view->setPlainText(QStringLiteral("old"));
        QVERIFY(!load(path));
        QVERIFY(m_view->toPlainText().isEmpty());
        QVERIFY(!m_view->isLoading());
        QVERIFY(m_server->requestCount() <= 1 + SwReleaseNotesBrowser::kMaxRedirects);
    }

    void redirectFollowed()
    {
        m_server->get(QStringLiteral("/old"), ReplayReply::redirect("/new", 301));
        m_server->get(QStringLiteral("/new"), ReplayReply::ok("<p>moved here</p>", "text/html"));
        QVERIFY(load(QStringLiteral("/old")));
        QCOMPARE(m_view->toPlainText(), QStringLiteral("moved here"));
        QCOMPARE(m_view->pageUrl(), m_server->url(QStringLiteral("/new")));
    }

    void notWebAddresses()
    {
        QSignalSpy done(m_view.get(), &SwReleaseNotesBrowser::loadFinished);
        m_view->load(QUrl(QStringLiteral("file:///etc/passwd")));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toBool(), false);
        QVERIFY(m_view->toPlainText().isEmpty());
        m_view->load(QUrl(QStringLiteral("about:blank")));
        QCOMPARE(done.size(), 1);
        QVERIFY(m_view->toPlainText().isEmpty());
    }

    // A new load replaces a pending one; the old page never shows up.
    void loadReplacesPending()
    {
        m_server->get(QStringLiteral("/slow"), ReplayReply::ok("slow page", "text/plain").withDelay(300));
        m_server->get(QStringLiteral("/fast"), ReplayReply::ok("fast page", "text/plain"));
        m_view->load(m_server->url(QStringLiteral("/slow")));
        QVERIFY(load(QStringLiteral("/fast")));
        QTest::qWait(500);
        QCOMPARE(m_view->toPlainText(), QStringLiteral("fast page"));
    }
};

KIVO_TEST_MAIN(TestReleaseNotes)
#include "tst_releasenotes.moc"
