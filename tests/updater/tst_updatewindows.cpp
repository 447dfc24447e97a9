#include "replayserver.h"
#include "swavailableupdate.h"
#include "swreleasenotesbrowser.h"
#include "swupdateconfirmdialog.h"
#include "swupdater.h"
#include "swupdatewindow.h"
#include "swurlopener.h"
#include "testenv.h"
#include "updatetesthelpers.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>

#include <memory>

using updatetest::feedWith;
using updatetest::item;

class TestUpdateWindows : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ReplayServer> m_server;
    QList<QUrl> m_opened;
    bool m_openerWorks = true;
    QStringList m_messages;

    static QSettings *settings()
    {
        return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
            QStringLiteral("Corvane-Media-Rarazarur"));
    }

    SwUpdater *updater()
    {
        SwUpdater *u = SwUpdater::updaterInstance();
        u->setMessageSink([this](bool, const QString &text) { m_messages.append(text); });
        return u;
    }

    // Serves a feed offering `version` and waits for the check to open the update window.
    SwUpdateWindow *offer(const QByteArray &version)
    {
        const QByteArray notes = m_server->url(QStringLiteral("/notes.html")).toEncoded();
        m_server->get(QStringLiteral("/update.xml"),
            ReplayReply::ok(
                feedWith(item(version, notes, "linux", "https://downloads.invalid/setup-4.0.exe"))));
        SwUpdater *u = updater();
        u->setFeedURL(m_server->url(QStringLiteral("/update.xml")));
        QSignalSpy done(u, &SwUpdater::checkFinished);
        if (!u->CheckForUpdatesSilent() || !done.wait(5000))
            return nullptr;
        return u->updateWindow();
    }

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationDomain(QStringLiteral("127.0.0.1"));
        SwUrlOpener::setOpener([this](const QUrl &url) {
            m_opened.append(url);
            return m_openerWorks;
        });
    }

    void cleanupTestCase() { SwUrlOpener::setOpener({}); }

    void init()
    {
        std::unique_ptr<QSettings> s(settings());
        s->clear();
        s->sync();
        m_server = std::make_unique<ReplayServer>();
        QVERIFY(m_server->isListening());
        m_server->get(QStringLiteral("/notes.html"),
            ReplayReply::ok("<html><body><h1>News</h1><p>Better sound.</p></body></html>", "text/html"));
        m_opened.clear();
        m_messages.clear();
        m_openerWorks = true;
    }

    void cleanup()
    {
        SwUpdater::updaterInstance()->closeUpdate();
        m_server.reset();
    }

    void windowForm()
    {
        SwUpdateWindow *w = offer("4.0b");
        QVERIFY(w);
        QVERIFY(w->isVisible());
        QCOMPARE(w->objectName(), QStringLiteral("SwUpdateWindow"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Software Update"));
        QCOMPARE(w->size(), QSize(715, 464));
        QCOMPARE(w->minimumSize(), QSize(715, 464));
        QCOMPARE(w->maximumSize(), QSize(715, 464));
        QCOMPARE(w->windowModality(), Qt::ApplicationModal);
        QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
        Ui_SwUpdateWindow *ui = w->ui();
        QCOMPARE(ui->newVersionIsAvailableLabel->text(),
            QStringLiteral("A new version of Corvane Zorad Urizaderi is available!"));
        QVERIFY(ui->newVersionIsAvailableLabel->font().bold());
        // The feed's version text unchanged, and always the running version.
        QCOMPARE(ui->wouldYouLikeToDownloadLabel->text(),
            QStringLiteral("Corvane Zorad Urizaderi 4.0b is now available - you have 3.9. "
                           "Would you like to download it now?"));
        QCOMPARE(ui->groupBox->title(), QStringLiteral("Release Notes:"));
        QCOMPARE(ui->skipThisVersionButton->text(), QStringLiteral("Skip This Version"));
        QCOMPARE(ui->remindMeLaterButton->text(), QStringLiteral("Remind Me Later"));
        QCOMPARE(ui->installUpdateButton->text(), QStringLiteral("Install Update"));
        QVERIFY(ui->installUpdateButton->isDefault());
        QCOMPARE(ui->releaseNotesWebView->minimumSize(), QSize(160, 80));
        QTRY_VERIFY(ui->releaseNotesWebView->toPlainText().contains(QStringLiteral("Better sound.")));
    }

    // A version text with a placeholder of its own is shown as it came.
    void versionWithPlaceholder()
    {
        SwUpdateWindow *w = offer("4.0%3");
        QVERIFY(w);
        QCOMPARE(w->ui()->wouldYouLikeToDownloadLabel->text(),
            QStringLiteral("Corvane Zorad Urizaderi 4.0%3 is now available - you have 3.9. "
                           "Would you like to download it now?"));
    }

    // Install asks first; Cancel returns to the window; OK opens the download and closes both.
    void installConfirmed()
    {
        SwUpdateWindow *w = offer("4.0");
        QVERIFY(w);
        QPointer<SwUpdateWindow> window(w);
        SwUpdater *u = updater();
        w->ui()->installUpdateButton->click();
        QPointer<SwUpdateConfirmDialog> dialog(u->confirmDialog());
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->objectName(), QStringLiteral("SwUpdateConfirmDialog"));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Software Update"));
        QCOMPARE(dialog->minimumSize(), QSize(480, 160));
        QCOMPARE(dialog->ui()->downloadThisUpdateLabel->text(),
            QStringLiteral("Please Download the update. Close Corvane Zorad Urizaderi and double click the "
                           "downloaded file to install the update. Then reopen Zorad Urizaderi."));

        dialog->ui()->confirmButtonBox->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!u->confirmDialog());
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(window);
        QCOMPARE(u->updateWindow(), window.data());
        QVERIFY(m_opened.isEmpty());

        w->ui()->installUpdateButton->click();
        dialog = u->confirmDialog();
        QVERIFY(dialog);
        dialog->ui()->confirmButtonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://downloads.invalid/setup-4.0.exe"))});
        QVERIFY(!u->updateWindow());
        QVERIFY(!u->confirmDialog());
        QTRY_VERIFY(window.isNull() && dialog.isNull());
        QTRY_COMPARE(m_server->requestCount(QStringLiteral("/update/win/update.html")), 1);
        QVERIFY(m_messages.isEmpty());
        QVERIFY(!std::unique_ptr<QSettings>(settings())->contains(QStringLiteral("SWLatestSkippedVersion")));
    }

    // A browser that cannot be started is reported even in a silent check; both windows stay.
    void browserFails()
    {
        m_openerWorks = false;
        SwUpdateWindow *w = offer("4.0");
        QVERIFY(w);
        SwUpdater *u = updater();
        w->ui()->installUpdateButton->click();
        QVERIFY(u->confirmDialog());
        u->confirmDialog()->ui()->confirmButtonBox->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(m_messages,
            QStringList{QStringLiteral("Unable to open this link in a browser. Please do it manually.")});
        QVERIFY(u->updateWindow());
        QVERIFY(u->confirmDialog());
        QCOMPARE(m_server->requestCount(QStringLiteral("/update/win/update.html")), 0);
    }

    // Remind me later stores nothing, so the same version is offered again.
    void remindMeLater()
    {
        SwUpdateWindow *w = offer("4.0");
        QVERIFY(w);
        QPointer<SwUpdateWindow> window(w);
        w->ui()->installUpdateButton->click();
        QVERIFY(updater()->confirmDialog());
        w->ui()->remindMeLaterButton->click();
        QVERIFY(!updater()->updateWindow());
        QVERIFY(!updater()->confirmDialog());
        QTRY_VERIFY(window.isNull());
        QVERIFY(!std::unique_ptr<QSettings>(settings())->contains(QStringLiteral("SWLatestSkippedVersion")));
        updater()->closeUpdate();
        QVERIFY(offer("4.0"));
    }

    // Closing by the frame clears the updater's pointers; later closes find nothing to close.
    void closedByFrame()
    {
        SwUpdateWindow *w = offer("4.0");
        QVERIFY(w);
        SwUpdater *u = updater();
        w->ui()->installUpdateButton->click();
        QPointer<SwUpdateConfirmDialog> dialog(u->confirmDialog());
        QVERIFY(dialog->close());
        QVERIFY(!u->confirmDialog());
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(u->updateWindow(), w);

        // Escape rejects the dialog without a close event; the pointer must not dangle.
        w->ui()->installUpdateButton->click();
        dialog = u->confirmDialog();
        QVERIFY(dialog);
        dialog->reject();
        QTRY_VERIFY(dialog.isNull());
        QVERIFY(!u->confirmDialog());

        QPointer<SwUpdateWindow> window(w);
        QVERIFY(w->close());
        QVERIFY(!u->updateWindow());
        QTRY_VERIFY(window.isNull());
        u->RemindMeLater();
        u->SkipUpdate();  // the proposal is still there: stored, nothing to close
        QCOMPARE(std::unique_ptr<QSettings>(settings())
                     ->value(QStringLiteral("SWLatestSkippedVersion"))
                     .toString(),
            QStringLiteral("4.0"));
    }

    // Replacing the updater while its windows are open closes them cleanly.
    void updaterGoesFirst()
    {
        SwUpdateWindow *w = offer("4.0");
        QVERIFY(w);
        QPointer<SwUpdateWindow> window(w);
        w->ui()->installUpdateButton->click();
        QPointer<SwUpdateConfirmDialog> dialog(updater()->confirmDialog());
        updater()->closeUpdate();
        QTRY_VERIFY(window.isNull() && dialog.isNull());
    }

    void onlyWebAddressesOpen_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("opens");
        QTest::newRow("http") << "http://example.invalid/a" << true;
        QTest::newRow("https upper") << "HTTPS://example.invalid/a" << true;
        QTest::newRow("file") << "file:///usr/bin/xterm" << false;
        QTest::newRow("no host") << "http:///x" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("mailto") << "mailto:a@example.invalid" << false;
        QTest::newRow("relative") << "/update.xml" << false;
        QTest::newRow("empty") << "" << false;
    }

    void onlyWebAddressesOpen()
    {
        QFETCH(QString, url);
        QFETCH(bool, opens);
        QCOMPARE(SwUrlOpener::open(QUrl(url)), opens);
        QCOMPARE(m_opened.size(), opens ? 1 : 0);
    }
};

KIVO_TEST_MAIN(TestUpdateWindows)
#include "tst_updatewindows.moc"
