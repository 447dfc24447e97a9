#include "replayserver.h"
#include "swavailableupdate.h"
#include "swignoredversions.h"
#include "swupdater.h"
#include "swupdatewindow.h"
#include "testenv.h"
#include "updatetesthelpers.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

using updatetest::feedWith;
using updatetest::item;

class TestUpdateCheck : public QObject
{
    Q_OBJECT

private:
    struct Message {
        bool isError;
        QString text;
    };

    std::unique_ptr<ReplayServer> m_server;
    QList<Message> m_messages;

    SwUpdater *updater()
    {
        SwUpdater *u = SwUpdater::updaterInstance();
        u->setMessageSink([this](bool isError, const QString &text) { m_messages.append({isError, text}); });
        u->setFeedTimeout(2000);
        return u;
    }

    QByteArray notesUrl() const { return m_server->url(QStringLiteral("/notes.html")).toEncoded(); }

    void serveFeed(const QByteArray &body, const QString &path = QStringLiteral("/update.xml"))
    {
        m_server->get(path, ReplayReply::ok(body, "application/rss+xml"));
    }

    // Runs one check against the server's feed and waits until it has ended.
    bool check(bool silent, const QString &path = QStringLiteral("/update.xml"))
    {
        SwUpdater *u = updater();
        u->setFeedURL(m_server->url(path));
        QSignalSpy done(u, &SwUpdater::checkFinished);
        if (!u->CheckForUpdates(silent))
            return false;
        return done.wait(5000) && done.size() == 1;
    }

private slots:
    void initTestCase() { QCoreApplication::setOrganizationDomain(QStringLiteral("127.0.0.1")); }

    void init()
    {
        // Qt fixes the settings folder at its first use, so each test clears the keys instead.
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
            QStringLiteral("Corvane-Media-Rarazarur"));
        settings.clear();
        settings.sync();
        m_server = std::make_unique<ReplayServer>();
        QVERIFY(m_server->isListening());
        m_server->get(QStringLiteral("/notes.html"), ReplayReply::ok("<p>Better sound.</p>", "text/html"));
        m_messages.clear();
    }

    void cleanup()
    {
        SwUpdater::updaterInstance()->closeUpdate();
        m_server.reset();
    }

    void newerVersionOpensWindow()
    {
        serveFeed(feedWith(item("4.0", notesUrl())));
        QVERIFY(check(true));
        SwUpdater *u = updater();
        SwAvailableUpdate *p = u->currentProposal();
        QVERIFY(p);
        QCOMPARE(p->enclosureVersion(), QStringLiteral("4.0"));
        QCOMPARE(p->title(), QStringLiteral("Version 4.0"));
        QCOMPARE(p->enclosureUrl(), QUrl(QStringLiteral("http://downloads.invalid/setup.exe")));
        QCOMPARE(p->enclosurePlatform(), QStringLiteral("linux"));
        QCOMPARE(p->enclosureLength(), 1234ul);
        QCOMPARE(p->enclosureType(), QStringLiteral("application/octet-stream"));
        QCOMPARE(p->pubDate(), QStringLiteral("Sat, 05 Dec 2026 10:00:00 +0000"));
        QCOMPARE(p->releaseNotesLink(), QUrl::fromEncoded(notesUrl()));
        SwUpdateWindow *w = u->updateWindow();
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->ui()->wouldYouLikeToDownloadLabel->text(),
            QStringLiteral("Corvane Zorad Urizaderi 4.0 is now available - you have 3.9. "
                           "Would you like to download it now?"));
        QTRY_VERIFY(m_server->requestCount(QStringLiteral("/notes.html")) == 1);
        QCOMPARE(m_server->requestCount(QStringLiteral("/update.xml")), 1);
        QVERIFY(m_messages.isEmpty());
    }

    void nothingOffered_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        const QByteArray notes = "http://127.0.0.1/notes.html";
        const QString none = QStringLiteral("No updates were found.");
        const QString enclosure = QStringLiteral("Feed error: invalid \"enclosure\" with the download link");
        QTest::newRow("same version") << feedWith(item("3.9", notes)) << none;
        QTest::newRow("older version") << feedWith(item("3.8.7", notes)) << none;
        QTest::newRow("pre-release of current") << feedWith(item("3.9b", notes)) << none;
        QTest::newRow("same by value") << feedWith(item("03.009", notes)) << none;
        QTest::newRow("other platform") << feedWith(item("4.0", notes, "q_os_mac")) << enclosure;
        QTest::newRow("no platform") << feedWith(
            "<item><link>http://127.0.0.1/n</link><enclosure url=\"http://d.invalid/s\" "
            "sparkle:version=\"4.0\"/></item>")
                                     << enclosure;
        QTest::newRow("no version") << feedWith(item("", notes)) << enclosure;
        QTest::newRow("no enclosure")
            << feedWith("<item><link>http://127.0.0.1/n</link></item>") << enclosure;
        QTest::newRow("file enclosure")
            << feedWith(item("4.0", notes, "linux", "file:///usr/bin/xterm")) << enclosure;
        QTest::newRow("program enclosure")
            << feedWith(item("4.0", notes, "linux", "javascript:alert(1)")) << enclosure;
        QTest::newRow("no links") << feedWith(
            "<item><title>x</title><enclosure url=\"http://d.invalid/s\" sparkle:version=\"4.0\" "
            "swupdate:platform=\"linux\"/></item>")
                                  << QStringLiteral("Feed error: \"release notes\" link is empty");
        QTest::newRow("capital scheme") << feedWith(item("4.0", "HTTP://127.0.0.1/notes.html"))
                                        << QStringLiteral("Feed error: invalid \"release notes\" link");
        QTest::newRow("ftp notes") << feedWith(item("4.0", "ftp://127.0.0.1/notes.html"))
                                   << QStringLiteral("Feed error: invalid \"release notes\" link");
        QTest::newRow("no items") << feedWith("") << none;
        QTest::newRow("item never closed")
            << feedWith("<item><title>4.0</title>") << QStringLiteral("Feed parsing");
        QTest::newRow("malformed") << QByteArray("<rss><channel><item></channel></rss>")
                                   << QStringLiteral("Feed parsing failed: 1 ");
        QTest::newRow("truncated") << feedWith(item("4.0", notes)).left(300)
                                   << QStringLiteral("Feed parsing failed");
        QTest::newRow("empty body") << QByteArray() << QStringLiteral("Feed parsing failed");
        QTest::newRow("not xml") << QByteArray("\x00\xff\xfe garbage", 12)
                                 << QStringLiteral("Feed parsing failed");
        QTest::newRow("entity bomb") << QByteArray(
            "<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY a \"aaaaaaaaaa\">"
            "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
            "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">"
            "<!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
            "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">]>"
            "<rss><channel><item><title>&e;&e;&e;&e;</title></item></channel></rss>")
                                     << QStringLiteral("Feed parsing failed");
        QTest::newRow("undeclared prefix")
            << QByteArray("<rss><item><sparkle:x/></item></rss>") << QStringLiteral("Feed parsing failed");
    }

    // Nothing is offered; a silent check says nothing, a check on request says why.
    void nothingOffered()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        serveFeed(body);
        QVERIFY(check(true));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!updater()->updateWindow());

        QVERIFY(check(false));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().text.startsWith(message), qPrintable(m_messages.first().text));
        QVERIFY(!updater()->updateWindow());
        QVERIFY(!updater()->currentProposal());
    }

    void downloadFailures_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("not found") << 404;
        QTest::newRow("server error") << 500;
    }

    void downloadFailures()
    {
        QFETCH(int, status);
        m_server->get(QStringLiteral("/update.xml"), ReplayReply::error(status, "nope"));
        QVERIFY(check(true));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(check(false));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().isError);
        QVERIFY2(m_messages.first().text.startsWith(QStringLiteral("Feed download failed: ")),
            qPrintable(m_messages.first().text));
        QVERIFY(m_messages.first().text.endsWith(QLatin1Char('.')));
    }

    // A server that never answers ends in the download-failed message once the time-out passes.
    void timeOut()
    {
        m_server->get(QStringLiteral("/update.xml"), ReplayReply::silence());
        updater()->setFeedTimeout(300);
        SwUpdater *u = SwUpdater::updaterInstance();
        u->setFeedURL(m_server->url(QStringLiteral("/update.xml")));
        QSignalSpy done(u, &SwUpdater::checkFinished);
        QVERIFY(u->CheckForUpdatesNotSilent());
        QVERIFY(done.wait(5000));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text,
            QStringLiteral("Feed download failed: the update server did not answer in time."));
        QVERIFY(!u->isChecking());
    }

    void tooLarge()
    {
        QByteArray padding = "<!--" + QByteArray(SwUpdater::kMaxFeedBytes, 'x') + "-->";
        serveFeed(feedWith(padding + item("4.0", notesUrl())));
        QVERIFY(check(false));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(
            m_messages.first().text.startsWith(QStringLiteral("Feed download failed: the feed is larger")));
        QVERIFY(!updater()->updateWindow());
    }

    // A followed redirect becomes the feed address, so the next check asks there directly.
    void redirect()
    {
        m_server->get(QStringLiteral("/update.xml"), ReplayReply::redirect("/moved/update.xml", 301));
        serveFeed(feedWith(item("4.0", notesUrl())), QStringLiteral("/moved/update.xml"));
        QVERIFY(check(true));
        SwUpdater *u = updater();
        QVERIFY(u->updateWindow());
        QCOMPARE(u->feedURL(), m_server->url(QStringLiteral("/moved/update.xml")).toString());
        QSignalSpy done(u, &SwUpdater::checkFinished);
        QVERIFY(u->CheckForUpdatesSilent());
        QVERIFY(done.wait(5000));
        QCOMPARE(m_server->requestCount(QStringLiteral("/update.xml")), 1);
        QCOMPARE(m_server->requestCount(QStringLiteral("/moved/update.xml")), 2);
    }

    void redirectChain()
    {
        // Five redirects are followed; the sixth is refused.
        for (int i = 0; i < 5; ++i)
            m_server->get(
                QStringLiteral("/r%1").arg(i), ReplayReply::redirect("/r" + QByteArray::number(i + 1)));
        serveFeed(feedWith(item("4.0", notesUrl())), QStringLiteral("/r5"));
        QVERIFY(check(false, QStringLiteral("/r0")));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(updater()->updateWindow());

        updater()->closeUpdate();
        m_server->get(QStringLiteral("/r5"), ReplayReply::redirect("/r6"));
        serveFeed(feedWith(item("4.0", notesUrl())), QStringLiteral("/r6"));
        QVERIFY(check(false, QStringLiteral("/r0")));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, QStringLiteral("Feed download failed: too many redirects."));
        QCOMPARE(m_server->requestCount(QStringLiteral("/r6")), 0);
    }

    void redirectLoop()
    {
        m_server->get(QStringLiteral("/a"), ReplayReply::redirect("/b", 302));
        m_server->get(QStringLiteral("/b"), ReplayReply::redirect("/a", 307));
        QVERIFY(check(true, QStringLiteral("/a")));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(m_server->requestCount(), 1 + SwUpdater::kMaxRedirects);
        QVERIFY(check(false, QStringLiteral("/a")));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, QStringLiteral("Feed download failed: too many redirects."));
        QVERIFY(!updater()->updateWindow());
    }

    void redirectToOtherScheme()
    {
        m_server->get(QStringLiteral("/update.xml"), ReplayReply::redirect("file:///etc/passwd"));
        QVERIFY(check(false));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY(m_messages.first().text.startsWith(QStringLiteral("Feed download failed: redirected")));
    }

    // Only the first item counts: what follows it is never read, not even when it is broken.
    void severalItems()
    {
        serveFeed(feedWith(item("3.8", notesUrl()) + item("5.0", notesUrl())));
        QVERIFY(check(false));
        QVERIFY(!updater()->updateWindow());
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, QStringLiteral("No updates were found."));

        m_messages.clear();
        serveFeed(feedWith(item("4.0", notesUrl()) + "<item><broken></item>" + item("5.0", notesUrl())));
        QVERIFY(check(false));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(updater()->updateWindow());
        QCOMPARE(updater()->currentProposal()->enclosureVersion(), QStringLiteral("4.0"));
    }

    void enclosureAttributes_data()
    {
        QTest::addColumn<QByteArray>("enclosures");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<qulonglong>("length");
        QTest::addColumn<QString>("url");
        QTest::newRow("swupdate version wins") << QByteArray(
            "<enclosure url=\"http://d.invalid/a\" sparkle:version=\"4.0\" swupdate:version=\"4.1\" "
            "swupdate:platform=\"linux\" length=\"10\"/>")
                                               << "4.1"
                                               << "linux" << 10ull << "http://d.invalid/a";
        QTest::newRow("empty swupdate version") << QByteArray(
            "<enclosure url=\"http://d.invalid/a\" sparkle:version=\"4.0\" swupdate:version=\"\" "
            "swupdate:platform=\" LiNuX \" length=\"x12\"/>")
                                                << "4.0"
                                                << "LiNuX" << 0ull << "http://d.invalid/a";
        QTest::newRow("negative length")
            << QByteArray("<enclosure url=\" http://d.invalid/a \" sparkle:version=\"4.0\" "
                          "swupdate:platform=\"linux\" length=\"-5\"/>")
            << "4.0"
            << "linux" << 0ull << "http://d.invalid/a";
        QTest::newRow("later enclosure overwrites") << QByteArray(
            "<enclosure url=\"http://d.invalid/a\" sparkle:version=\"4.0\" swupdate:platform=\"linux\" "
            "length=\"1\"/><enclosure url=\"http://d.invalid/b\" swupdate:platform=\"linux\" "
            "length=\"2\"/><enclosure url=\"http://d.invalid/c\" sparkle:version=\"9\" "
            "swupdate:platform=\"q_os_mac\" length=\"3\"/>")
                                                    << "4.0"
                                                    << "linux" << 2ull << "http://d.invalid/b";
        QTest::newRow("huge length") << QByteArray(
            "<enclosure url=\"http://d.invalid/a\" sparkle:version=\"4.0\" swupdate:platform=\"linux\" "
            "length=\"99999999999999999999999\"/>")
                                     << "4.0"
                                     << "linux" << 0ull << "http://d.invalid/a";
    }

    void enclosureAttributes()
    {
        QFETCH(QByteArray, enclosures);
        QFETCH(QString, version);
        QFETCH(QString, platform);
        QFETCH(qulonglong, length);
        QFETCH(QString, url);
        serveFeed(feedWith("<item><title>T</title><link>" + notesUrl() + "</link>" + enclosures + "</item>"));
        QVERIFY(check(false));
        QVERIFY(m_messages.isEmpty());
        SwAvailableUpdate *p = updater()->currentProposal();
        QVERIFY(p);
        QCOMPARE(p->enclosureVersion(), version);
        QCOMPARE(p->enclosurePlatform(), platform);
        QCOMPARE(qulonglong(p->enclosureLength()), length);
        QCOMPARE(p->enclosureUrl(), QUrl(url));
        QCOMPARE(p->releaseNotesLink(), QUrl::fromEncoded(notesUrl()));
    }

    // Text in several pieces is joined piece by piece; an enclosure outside the item is dropped.
    void itemTexts()
    {
        serveFeed(feedWith(
            "<enclosure url=\"http://d.invalid/x\" sparkle:version=\"9.0\" swupdate:platform=\"linux\"/>"
            "<item><title> Corvane <![CDATA[ 4.0 ]]> </title><link>"
            + notesUrl() + "</link></item>"));
        QVERIFY(check(false));
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text,
            QStringLiteral("Feed error: invalid \"enclosure\" with the download link"));

        m_messages.clear();
        serveFeed(feedWith("<item><title> Corvane <![CDATA[ 4.0 ]]> </title><link>http://x.invalid/</link>"
                           "<sparkle:releaseNotesLink>"
            + notesUrl() + "</sparkle:releaseNotesLink>"
            + "<enclosure url=\"http://d.invalid/x\" sparkle:version=\"4.0\" "
              "swupdate:platform=\"linux\"/></item>"));
        QVERIFY(check(false));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(updater()->currentProposal()->title(), QStringLiteral("Corvane4.0"));
        QCOMPARE(updater()->currentProposal()->releaseNotesLink(), QUrl::fromEncoded(notesUrl()));
    }

    // Skipping stores the version; the next run's check leaves it alone but offers a newer one.
    void skipHonouredByNextCheck()
    {
        serveFeed(feedWith(item("4.0", notesUrl())));
        QVERIFY(check(true));
        SwUpdateWindow *w = updater()->updateWindow();
        QVERIFY(w);
        QPointer<SwUpdateWindow> guard(w);
        w->ui()->skipThisVersionButton->click();
        QVERIFY(!updater()->updateWindow());
        QTRY_VERIFY(guard.isNull());
        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
            QStringLiteral("Corvane-Media-Rarazarur"));
        QCOMPARE(settings.value(QStringLiteral("SWLatestSkippedVersion")).toString(), QStringLiteral("4.0"));

        updater()->closeUpdate();  // as if the program had been started again
        QVERIFY(check(false));
        QVERIFY(!updater()->updateWindow());
        QCOMPARE(m_messages.size(), 1);
        QCOMPARE(m_messages.first().text, QStringLiteral("No updates were found."));

        serveFeed(feedWith(item("4.1", notesUrl())));
        QVERIFY(check(true));
        QVERIFY(updater()->updateWindow());
        QCOMPARE(updater()->currentProposal()->enclosureVersion(), QStringLiteral("4.1"));
    }

    // A new check while one is pending replaces it; the old one leaves no message behind.
    void newCheckReplacesPending()
    {
        m_server->get(QStringLiteral("/slow.xml"), ReplayReply::silence());
        serveFeed(feedWith(item("4.0", notesUrl())));
        SwUpdater *u = updater();
        QSignalSpy done(u, &SwUpdater::checkFinished);
        u->setFeedURL(m_server->url(QStringLiteral("/slow.xml")));
        QVERIFY(u->CheckForUpdatesNotSilent());
        QTRY_COMPARE(m_server->requestCount(QStringLiteral("/slow.xml")), 1);
        u->setFeedURL(m_server->url(QStringLiteral("/update.xml")));
        QVERIFY(u->CheckForUpdatesNotSilent());
        QVERIFY(done.wait(5000));
        QTest::qWait(100);
        QCOMPARE(done.size(), 1);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(u->updateWindow());
        QCOMPARE(m_server->requestCount(QStringLiteral("/update.xml")), 1);
    }

    void refusedChecks()
    {
        SwUpdater *u = updater();
        QVERIFY(!u->CheckForUpdatesSilent());  // no feed address yet
        u->setFeedURL(QStringLiteral("file:///etc/passwd"));
        QVERIFY(!u->CheckForUpdatesSilent());
        u->setFeedURL(m_server->url(QStringLiteral("/update.xml")));
        QCoreApplication::setOrganizationDomain(QString());
        QVERIFY(!u->CheckForUpdatesSilent());
        QCoreApplication::setOrganizationDomain(QStringLiteral("127.0.0.1"));
        QCOMPARE(m_server->requestCount(), 0);
    }

    // The start-up entry point takes the feed address from the environment.
    void startupCheck()
    {
        serveFeed(feedWith(item("4.0", notesUrl())));
        qputenv("KIVO_UPDATE_FEED", m_server->url(QStringLiteral("/update.xml")).toEncoded());
        QCOMPARE(SwUpdater::configuredFeedURL(), m_server->url(QStringLiteral("/update.xml")));
        SwUpdater *u = updater();
        QSignalSpy done(u, &SwUpdater::checkFinished);
        QVERIFY(SwUpdater::startupCheck());
        QVERIFY(done.wait(5000));
        qunsetenv("KIVO_UPDATE_FEED");
        QVERIFY(u->updateWindow());
        QVERIFY(!QCoreApplication::applicationVersion().isEmpty());

        QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
            QStringLiteral("Corvane-Media-Rarazarur"));
        settings.setValue(
            QStringLiteral("SWUpdateFeedURL"), QStringLiteral("http://feeds.invalid/update.xml"));
        settings.sync();
        QCOMPARE(SwUpdater::configuredFeedURL(), QUrl(QStringLiteral("http://feeds.invalid/update.xml")));
    }
};

KIVO_TEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
