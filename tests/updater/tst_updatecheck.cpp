#include "replayserver.h"
#include "swavailableupdate.h"
#include "swreleasenotesbrowser.h"
#include "swupdateconfirmdialog.h"
#include "swupdater.h"
#include "swupdatewindow.h"
#include "swurlopener.h"
#include "testenv.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

namespace {
// "SERVER" becomes the test server's address when a page is served.
const QByteArray kNotes = "http://SERVER/notes.html";
const QByteArray kSetup = "https://downloads.invalid/setup.exe";
const QString kFeed = "/update.xml";
const QString kNone = "No updates were found.";
const QString kBadEnclosure = "! Feed error: invalid \"enclosure\" with the download link";
const QString kFailed = "! Feed download failed: ";
// Requests meant to succeed get a limit no loaded machine reaches; the short one is only for
// rows where the time-out itself is what is tested.
constexpr int kPatientMs = 30000;
constexpr int kImpatientMs = 300;

QByteArray feedWith(const QByteArray &items)
{
    return "<?xml version=\"1.0\"?><rss "
           "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\" "
           "xmlns:swupdate=\"http://swupdate.invalid/ns\"><channel>\n"
        + items + "</channel></rss>\n";
}

QByteArray item(const QByteArray &version, const QByteArray &platform = "linux",
    const QByteArray &enclosure = kSetup, const QByteArray &notes = kNotes)
{
    return "<item><title>Version " + version + "</title><sparkle:releaseNotesLink>" + notes
        + "</sparkle:releaseNotesLink>\n<enclosure url=\"" + enclosure + "\" sparkle:version=\"" + version
        + "\" swupdate:platform=\"" + platform + "\" length=\"1234\"/></item>\n";
}

std::unique_ptr<QSettings> settings()
{
    return std::make_unique<QSettings>(
        QSettings::NativeFormat, QSettings::UserScope, "Corvane", "Corvane-Media-Rarazarur");
}

QString storedSkip()
{
    return settings()->value("SWLatestSkippedVersion").toString();
}
}  // namespace

// The update check, its windows and the release-notes view, against a local server.
class TestUpdateCheck : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ReplayServer> m_server;
    QStringList m_messages;  // errors start with "! "
    QList<QUrl> m_opened;
    bool m_openerWorks = true;
    int m_timeoutMs = kPatientMs;  // for feed requests and notes loads alike

    SwUpdater *updater()
    {
        SwUpdater *u = SwUpdater::updaterInstance();
        u->setMessageSink(
            [this](bool isError, const QString &text) { m_messages.append(isError ? "! " + text : text); });
        u->setFeedTimeout(m_timeoutMs);
        return u;
    }

    void serve(const QString &path, QByteArray body, const QByteArray &type = "application/rss+xml")
    {
        body.replace("SERVER", "127.0.0.1:" + QByteArray::number(m_server->port()));
        m_server->get(path, ReplayReply::ok(body, type));
    }

    // Runs one check against the server and waits until it has ended, exactly once.
    bool check(bool silent, const QString &path = kFeed)
    {
        SwUpdater *u = updater();
        u->setFeedURL(m_server->url(path));
        QSignalSpy done(u, &SwUpdater::checkFinished);
        return u->CheckForUpdates(silent) && done.wait(30000) && done.size() == 1;
    }

    // Loads `target` (a path on the server or a whole address); true when the page arrived.
    bool loadNotes(SwReleaseNotesBrowser &view, const QString &target)
    {
        view.setTimeoutMs(m_timeoutMs);
        view.setMaxBytes(100000);
        QSignalSpy done(&view, &SwReleaseNotesBrowser::loadFinished);
        view.load(target.startsWith(QLatin1Char('/')) ? m_server->url(target) : QUrl(target));
        return (!done.isEmpty() || done.wait(30000)) && done.size() == 1 && done.first().first().toBool();
    }

    SwUpdateWindow *offer(const QByteArray &version)
    {
        serve(kFeed, feedWith(item(version)));
        return check(true) ? updater()->updateWindow() : nullptr;
    }

    SwUpdateConfirmDialog *install()
    {
        updater()->updateWindow()->ui()->installUpdateButton->click();
        return updater()->confirmDialog();
    }

    void confirm(QDialogButtonBox::StandardButton button)
    {
        updater()->confirmDialog()->ui()->confirmButtonBox->button(button)->click();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationDomain("127.0.0.1");
        SwUrlOpener::setOpener([this](const QUrl &url) {
            if (m_openerWorks)
                m_opened.append(url);
            return m_openerWorks;
        });
    }

    void init()
    {
        // Qt fixes the settings folder at its first use, so each test clears the keys instead.
        settings()->clear();
        m_server = std::make_unique<ReplayServer>();
        serve("/notes.html", "<p>Better sound.</p>", "text/html");
        // /r1 reaches /r6 in five redirects, /r0 needs six.
        for (int i = 0; i < 6; ++i)
            m_server->get(QString("/r%1").arg(i), ReplayReply::redirect("r" + QByteArray::number(i + 1)));
        serve("/r6", feedWith(item("4.0")));
        m_server->get("/silent", ReplayReply::silence());
        serve("/big", feedWith("<!--" + QByteArray(SwUpdater::kMaxFeedBytes, 'x') + "-->"));
        m_server->get("/loop", ReplayReply::redirect("/loop", 307));
        m_server->get("/tofile", ReplayReply::redirect("file:///etc/passwd"));
        m_messages.clear();
        m_opened.clear();
        m_openerWorks = true;
        m_timeoutMs = kPatientMs;
    }

    void cleanup()
    {
        SwUpdater::updaterInstance()->closeUpdate();
        m_server.reset();
    }

    // Only the first item is read; its swupdate version wins and is shown as it came, placeholder
    // and all; the platform is matched in any case; a negative length means unknown, not huge.
    // An empty swupdate version leaves the sparkle one; a length past any integer means unknown.
    void newerVersionOpensWindow()
    {
        serve(kFeed,
            feedWith("<item><link>" + kNotes + "</link><enclosure url=\"" + kSetup
                + "\" sparkle:version=\"3\" swupdate:version=\"4.0%3\" swupdate:platform=\" LiNuX \" "
                  "length=\"-5\"/>"
                  "</item><item><broken></item>"
                + item("5.0")));
        QVERIFY(check(true));
        SwUpdateWindow *w = updater()->updateWindow();
        QVERIFY(w && w->isVisible());
        QCOMPARE(updater()->currentProposal()->enclosureUrl(), QUrl::fromEncoded(kSetup));
        QCOMPARE(updater()->currentProposal()->enclosureLength(), 0ul);
        QCOMPARE(w->ui()->wouldYouLikeToDownloadLabel->text(),
            "Corvane Zorad Urizaderi 4.0%3 is now available - you have 3.9. "
            "Would you like to download it now?");
        QTRY_VERIFY_WITH_TIMEOUT(
            w->ui()->releaseNotesWebView->toPlainText().contains("Better sound."), 30000);
        QVERIFY(m_messages.isEmpty());

        // Of several release-notes links (one per language) the first is taken.
        updater()->closeUpdate();
        serve(kFeed,
            feedWith(
                item("4.0")
                    .replace("\" length=\"1234", "\" swupdate:version=\"\" length=\"99999999999999999999")
                    .replace("</sparkle:releaseNotesLink>",
                        "</sparkle:releaseNotesLink><sparkle:releaseNotesLink xml:lang=\"de\">"
                        "http://SERVER/de.html</sparkle:releaseNotesLink>")));
        QVERIFY(check(false));
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(updater()->currentProposal()->enclosureVersion(), "4.0");
        QCOMPARE(updater()->currentProposal()->enclosureLength(), 0ul);
        QCOMPARE(updater()->currentProposal()->releaseNotesLink(), m_server->url("/notes.html"));

        // Feeds bind the updater's prefix to addresses of their own.
        updater()->closeUpdate();
        serve(kFeed,
            feedWith(item("4.2").replace("\" length", "\" swupdate:version=\"4.3\" length"))
                .replace("http://swupdate.invalid/ns", "https://updates.example.invalid/swupdate/1.0"));
        QVERIFY(check(true));
        QVERIFY(updater()->updateWindow());
        QCOMPARE(updater()->currentProposal()->enclosureVersion(), "4.3");
    }

    void nothingOffered_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");  // served at the path unless null
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("timeoutMs");
        const auto feed = [](const char *name, const QByteArray &body, const QString &message) {
            QTest::newRow(name) << kFeed << body << message << kPatientMs;
        };
        feed("same version", feedWith(item("3.9")), kNone);
        feed("same version with a zero part", feedWith(item("3.9.0")), kNone);
        feed("older, whatever its links",
            feedWith(item("3.8", "linux", "file:///usr/bin/xterm", "ftp://127.0.0.1/notes.html")), kNone);
        // Names are known by their namespace, not by the prefix a feed chose.
        feed("other prefixes",
            feedWith(item("3.9"))
                .replace("sparkle:", "s:")
                .replace("swupdate:", "u:")
                .replace("xmlns:sparkle=", "xmlns:s=")
                .replace("xmlns:swupdate=", "xmlns:u="),
            kNone);
        feed("usual prefix, other namespace", feedWith(item("4.0")).replace("xml-namespaces/sparkle", "x"),
            "! Feed error: \"release notes\" link is empty");
        feed("only the first item", feedWith(item("3.8") + item("5.0")), kNone);
        feed("other platform", feedWith(item("4.0", "q_os_mac")), kBadEnclosure);
        feed("no version", feedWith(item("")), kBadEnclosure);
        feed("file enclosure", feedWith(item("4.0", "linux", "file:///usr/bin/xterm")), kBadEnclosure);
        feed("no items", feedWith(""), kNone);
        feed("enclosure outside the item",
            feedWith(
                "<enclosure url=\"http://d.invalid/x\" sparkle:version=\"9\" swupdate:platform=\"linux\"/>"
                "<item><link>http://127.0.0.1/n</link></item>"),
            kBadEnclosure);
        feed("no links", feedWith("<item><title>4.0</title></item>"),
            "! Feed error: \"release notes\" link is empty");
        feed("ftp notes", feedWith(item("4.0", "linux", kSetup, "ftp://127.0.0.1/notes.html")),
            "! Feed error: invalid \"release notes\" link");
        feed("malformed", "<rss><channel><item></channel></rss>", "! Feed parsing failed: 1 ");
        feed("truncated", feedWith(item("4.0")).left(250), "! Feed parsing failed");
        feed("not xml", QByteArray("\x00\xff\xfe garbage", 12), "! Feed parsing failed");
        // The notes view gives up on the same unreachable addresses.
        const auto unreachable
            = [](const char *name, const char *path, const QString &message, int timeoutMs = kPatientMs) {
                  QTest::newRow(name) << QString(path) << QByteArray() << kFailed + message << timeoutMs;
              };
        unreachable("not found", "/missing", "");
        unreachable("never answers", "/silent", "the update server did not answer in time.", kImpatientMs);
        unreachable("too large", "/big", "the feed is larger than");
        unreachable("six redirects", "/r0", "too many redirects.");
        unreachable("redirect loop", "/loop", "too many redirects.");
        unreachable("redirect to file", "/tofile", "redirected to an address that is not http");
    }

    // Nothing is offered; a silent check says nothing, a check on request says why.
    void nothingOffered()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        QFETCH(int, timeoutMs);
        m_timeoutMs = timeoutMs;
        if (!body.isNull())
            serve(path, body);
        QVERIFY(check(true, path));
        QVERIFY(m_messages.isEmpty());
        QVERIFY(check(false, path));
        QCOMPARE(m_messages.size(), 1);
        QVERIFY2(m_messages.first().startsWith(message), qPrintable(m_messages.first()));
        QVERIFY(!updater()->updateWindow() && !updater()->currentProposal() && !updater()->isChecking());
        if (body.isNull()) {
            SwReleaseNotesBrowser view;
            view.setPlainText("old");
            QVERIFY(!loadNotes(view, path));
            QVERIFY(view.toPlainText().isEmpty() && !view.isLoading());
            QCOMPARE(m_server->requestCount("/r6"), 0);
        }
    }

    // A followed redirect becomes the feed address, so the next check asks there directly. Feeds and
    // notes that are not web addresses are never read; the start-up check reads the feed address
    // from the environment, else from the settings.
    void feedAddresses()
    {
        QVERIFY(check(true, "/r1"));
        QVERIFY(updater()->updateWindow());
        QCOMPARE(updater()->feedURL(), m_server->url("/r6").toString());
        QSignalSpy done(updater(), &SwUpdater::checkFinished);
        QVERIFY(updater()->CheckForUpdatesSilent() && done.wait(30000));
        QCOMPARE(
            QList<int>({m_server->requestCount("/r1"), m_server->requestCount("/r6")}), QList<int>({1, 2}));
        SwReleaseNotesBrowser view;
        QVERIFY(loadNotes(view, "/r1"));
        QCOMPARE(view.pageUrl(), m_server->url("/r6"));
        QVERIFY(!loadNotes(view, "file:///etc/passwd"));

        updater()->closeUpdate();
        updater()->setFeedURL("file:///etc/passwd");
        QVERIFY(!updater()->CheckForUpdatesSilent() && !updater()->isChecking());
        qputenv("KIVO_UPDATE_FEED", m_server->url("/r6").toEncoded());
        QSignalSpy started(updater(), &SwUpdater::checkFinished);
        QVERIFY(SwUpdater::startupCheck() && started.wait(30000));
        qunsetenv("KIVO_UPDATE_FEED");
        QVERIFY(updater()->updateWindow());
        settings()->setValue("SWUpdateFeedURL", "http://feeds.invalid/u.xml");
        QCOMPARE(SwUpdater::configuredFeedURL(), QUrl("http://feeds.invalid/u.xml"));
    }

    // A new check or notes load replaces a pending one; the old one leaves no trace.
    void replacesPending()
    {
        m_server->get("/slow", ReplayReply::ok("slow page").withDelay(200));
        serve("/fast", "fast page", "text/plain");
        SwReleaseNotesBrowser view;
        view.load(m_server->url("/slow"));
        QVERIFY(loadNotes(view, "/fast"));

        SwUpdater *u = updater();
        QSignalSpy done(u, &SwUpdater::checkFinished);
        u->setFeedURL(m_server->url("/silent"));
        QVERIFY(u->CheckForUpdatesNotSilent());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount("/silent"), 1, 30000);
        u->setFeedURL(m_server->url("/r6"));
        QVERIFY(u->CheckForUpdatesNotSilent() && done.wait(30000));
        // The old check cannot time out here, so end its connection instead: a request still
        // running would now fail (a second message, a second finish) or be sent again.
        m_server->dropConnections();
        QTest::qWait(400);
        QCOMPARE(done.size(), 1);
        QVERIFY(m_messages.isEmpty());
        QCOMPARE(m_server->requestCount("/silent"), 1);
        QVERIFY(u->updateWindow());
        QCOMPARE(view.toPlainText(), "fast page");
    }

    void skipOrRemindLater_data()
    {
        QTest::addColumn<bool>("skip");
        QTest::newRow("skip this version") << true;
        QTest::newRow("remind me later") << false;
    }

    // Skipping stores the version: the next run's check leaves it alone but offers a newer one.
    // Remind me later stores nothing, so the same version comes again.
    void skipOrRemindLater()
    {
        QFETCH(bool, skip);
        QPointer<SwUpdateWindow> window(offer("4.0"));
        QVERIFY(window);
        (skip ? window->ui()->skipThisVersionButton : window->ui()->remindMeLaterButton)->click();
        QVERIFY(!updater()->updateWindow());
        QTRY_VERIFY(window.isNull());
        QCOMPARE(storedSkip(), skip ? "4.0" : "");
        updater()->closeUpdate();  // as if the program had been started again
        QVERIFY(check(false));
        QCOMPARE(m_messages, skip ? QStringList{kNone} : QStringList());
        QCOMPARE(!updater()->updateWindow(), skip);
        QVERIFY(offer("4.1"));
    }

    // Install asks first; Cancel returns to the window; OK opens the download and closes both,
    // unless the browser cannot be started: that is reported even after a silent check.
    void installConfirmed()
    {
        QPointer<SwUpdateWindow> window(offer("4.0"));
        QVERIFY(window);
        QPointer<SwUpdateConfirmDialog> dialog(install());
        QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
        confirm(QDialogButtonBox::Cancel);
        QVERIFY(!updater()->confirmDialog());
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(updater()->updateWindow(), window.data());

        dialog = install();
        m_openerWorks = false;
        confirm(QDialogButtonBox::Ok);
        QCOMPARE(m_messages, QStringList{"! Unable to open this link in a browser. Please do it manually."});
        QVERIFY(updater()->updateWindow() && updater()->confirmDialog());
        m_openerWorks = true;
        confirm(QDialogButtonBox::Ok);
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromEncoded(kSetup)});
        QVERIFY(!updater()->updateWindow() && !updater()->confirmDialog());
        QTRY_VERIFY(window.isNull() && dialog.isNull());
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount("/update/win/update.html"), 1, 30000);
        QVERIFY(storedSkip().isEmpty());
    }

    // Windows closed by the frame, by Escape or by the updater going first leave no dangling pointer.
    void closingLeavesNoDanglingPointer()
    {
        QPointer<SwUpdateWindow> window(offer("4.0"));
        QVERIFY(window);
        QPointer<SwUpdateConfirmDialog> dialog(install());
        QVERIFY(dialog && dialog->close());
        QVERIFY(!updater()->confirmDialog());
        dialog = install();
        dialog->reject();  // Escape: no close event
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(!updater()->confirmDialog());
        dialog = install();
        QVERIFY(window->close());
        QVERIFY(!updater()->updateWindow());
        updater()->closeUpdate();
        QTRY_VERIFY(window.isNull() && dialog.isNull());
    }

    // Only web addresses ever reach the browser; links in the notes resolve against the page first.
    void onlyWebAddressesOpen()
    {
        serve("/dir/notes", "<a href=\"more.html\">more</a>", "text/html");
        SwReleaseNotesBrowser view;
        QVERIFY(loadNotes(view, "/dir/notes"));
        for (const char *link :
            {"more.html", "file:///usr/bin/xterm", "javascript:alert(1)", "https://a.invalid/x"})
            emit view.anchorClicked(QUrl(link));
        for (const char *other :
            {"file:///usr/bin/xterm", "http:///x", "mailto:a@b.invalid", "/update.xml", ""})
            QVERIFY(!SwUrlOpener::open(QUrl(other)));
        QVERIFY(SwUrlOpener::open(QUrl("HTTP://example.invalid/a")));
        QCOMPARE(m_opened,
            (QList<QUrl>{m_server->url("/dir/more.html"), QUrl("https://a.invalid/x"),
                QUrl("HTTP://example.invalid/a")}));
    }

    void notesCharsets_data()
    {
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("shown");
        const auto row = [](const char *name, const char *type, const char *body, const char *shown) {
            QTest::newRow(name) << QByteArray(type) << QByteArray(body) << QString::fromUtf8(shown);
        };
        row("latin-1 by header", "text/html; charset=ISO-8859-1", "<p>Caf\xe9</p>", "Caf\u00e9");
        row("windows-1252 quoted", "text/html; charset=\"windows-1252\"", "na\xefve", "na\u00efve");
        row("header wins over meta", "text/html;charset=utf-8",
            "<meta charset=\"iso-8859-1\"><p>\u00e9t\u00e9", "\u00e9t\u00e9");
        row("meta without header", "text/html", "<head><meta charset=\"iso-8859-1\"></head><p>\xe9t\xe9",
            "\u00e9t\u00e9");
        row("utf-8 by default", "text/html", "<p>\u20ac 5</p>", "\u20ac 5");
        row("plain text stays text", "text/plain", "<b>not bold</b>", "<b>not bold</b>");
    }

    void notesCharsets()
    {
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QFETCH(QString, shown);
        serve("/page", body, contentType);
        SwReleaseNotesBrowser view;
        QVERIFY(loadNotes(view, "/page"));
        QCOMPARE(view.toPlainText().trimmed(), shown);
    }

    // Nothing in the notes runs or fetches: no scripts, style sheets, remote images or local files.
    void inertNotes()
    {
        QImage picture(4, 4, QImage::Format_RGB32);
        picture.fill(Qt::red);
        const QUrl local = QUrl::fromLocalFile(QDir::home().filePath("secret.png"));
        QVERIFY(picture.save(local.toLocalFile()));
        serve("/page",
            "<head><link rel=\"stylesheet\" "
            "href=\"http://SERVER/style.css\"><script>document.write('injected')"
            "</script></head><p>Notes</p><img src=\"http://SERVER/pic.png\"><img src=\""
                + local.toEncoded() + "\">",
            "text/html");
        SwReleaseNotesBrowser view;
        QVERIFY(loadNotes(view, "/page"));
        QVERIFY(view.toPlainText().startsWith("Notes"));
        QVERIFY(!view.toPlainText().contains("injected"));
        const QVariant resource = view.document()->resource(QTextDocument::ImageResource, local);
        QVERIFY(resource.value<QImage>().isNull() && resource.toByteArray().isEmpty());
        QTest::qWait(50);
        QCOMPARE(m_server->requestCount(), 1);
    }
};

KIVO_TEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
