#include "boxdriver.h"

#include <QPointer>
#include <QSGRendererInterface>

// Where the keyboard focus goes and how it is seen: after the folder chooser, while the drives
// are polled, and on the highlighted buttons, drawn.
class TestBoxFocus : public BoxDriver
{
    Q_OBJECT

private slots:
    // Grabs of the window come out drawn on every platform, the offscreen one included.
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

    // A folder chosen through Open Directory takes the focus to Transfer, marked, and Return
    // transfers there; after a cancelled chooser the focus stays on Open Directory, marked. The
    // focus stays on a target's row while the drives are polled.
    void chosenFolderTakesReturn()
    {
        TestEnv env;
        QString answer;
        int asked = 0;
        KivoApplication app;
        const QString target = startOnStick(env, app);
        if (target.isEmpty())
            return;
        app.drive()->folderChooser = [&] {
            ++asked;
            return answer;
        };
        click(item("transferButton"));
        QVERIFY(ready("transferDialog"));
        QVERIFY(tabTo("Open Directory"));
        QSignalSpy polled(app.drive(), &Drive::drivesRead);
        press("Return");
        QCOMPARE(asked, 1);
        // The poll after the chooser is the one that could move the focus; it has not.
        QVERIFY(polled.wait(kWait));
        QCOMPARE(focused(), item("openDirectoryButton"));
        QVERIFY(marked(item("openDirectoryButton")));

        answer = target;
        press("Return");
        QCOMPARE(asked, 2);
        QVERIFY(focusOn(item("startTransferButton")));
        QVERIFY(marked(item("startTransferButton")));
        QCOMPARE(m_root->property("selectedDrive").toString(), target);
        // The polls list the targets anew; the row with the focus keeps it.
        QVERIFY(ready("transferDialog"));
        QVERIFY(tabTo("Folder: " + target));
        const QPointer<QQuickItem> row = focused();
        QVERIFY(polled.wait(kWait) && polled.wait(kWait));
        QVERIFY(row && focused() == row);
        QVERIFY(marked(row));
        // The same folder chosen again is a folder chosen all the same; a cancel once a folder is
        // listed leaves the focus where it was.
        QVERIFY(tabTo("Open Directory"));
        press("Return");
        QCOMPARE(asked, 3);
        QVERIFY(focusOn(item("startTransferButton")));
        QVERIFY(marked(item("startTransferButton")));
        answer.clear();
        QVERIFY(tabTo("Open Directory"));
        press("Return");
        QCOMPARE(asked, 4);
        QVERIFY(polled.wait(kWait) && polled.wait(kWait));
        QCOMPARE(focused(), item("openDirectoryButton"));
        QVERIFY(marked(item("openDirectoryButton")));
        QCOMPARE(m_root->property("selectedDrive").toString(), target);
        QVERIFY(tabTo("Transfer"));
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        press("Return");
        // The window takes in events while the key goes: the end may have come with it.
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        QCOMPARE(asked, 4);
        QCOMPARE(ended.first().first().value<TransferReport>().stop, TransferReport::Completed);
        QCOMPARE(mediaFiles(target), 4);
    }

    // Drawn: a highlighted button looks otherwise with the focus than without it, and while the
    // button beside it has the focus, only that one looks focused. The mark goes with the focus
    // to each control of a box.
    void focusIsSeenOnHighlightedButtons()
    {
        TestEnv env;
        KivoApplication app;
        const QString target = startOnStick(env, app);
        if (target.isEmpty())
            return;
        m_window->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(m_window, kWait));
        // Shots of the window as it stands once laid out.
        const auto seenApart = [this](QQuickItem *control) {
            QVERIFY(control && focused() != control);
            QVERIFY(QQuickTest::qWaitForPolish(m_window, kWait));
            const QImage before = shot(control);
            QVERIFY(before.pixel(0, 0) != 0u);  // drawn, not blank
            QVERIFY2(tabTo(control), qPrintable(control->objectName()));
            QVERIFY(marked(control));
            QVERIFY2(pixelsApart(before, shot(control)) > 100, qPrintable(control->objectName()));
        };

        click(item("removeButton"));
        QVERIFY(ready("removalBox"));
        QQuickItem *remove = item("confirmButton"), *cancel = item("confirmCancel");
        const QImage removeAlone = shot(remove), cancelAlone = shot(cancel);
        QVERIFY(tabTo("Cancel"));
        QVERIFY(pixelsApart(cancelAlone, shot(cancel)) > 100);
        QCOMPARE(pixelsApart(removeAlone, shot(remove)), 0);
        QVERIFY(tabTo("Remove"));
        QVERIFY(pixelsApart(removeAlone, shot(remove)) > 100);
        QCOMPARE(pixelsApart(cancelAlone, shot(cancel)), 0);
        press("Escape");
        QVERIFY(closed("removalBox"));
        // Back on the page button as it was: unmarked after a click, marked after a key.
        QVERIFY(focusOn(item("removeButton")));
        QVERIFY(!marked(item("removeButton")));
        QVERIFY(tabTo(item("removeButton")));
        press("Space");
        QVERIFY(ready("removalBox"));
        press("Escape");
        QVERIFY(closed("removalBox"));
        QVERIFY(focusOn(item("removeButton")));
        QVERIFY(marked(item("removeButton")));

        openOnFolder(target);
        if (QTest::currentTestFailed())
            return;
        seenApart(item("startTransferButton"));
        QQuickItem *const first = focused();
        for (int i = 0; i < 20 && (i == 0 || focused() != first); ++i) {
            press("Tab");
            QVERIFY2(marked(focused()), qPrintable(focused()->property("text").toString()));
        }
        press("Escape");
        QVERIFY(closed("transferDialog"));

        // A box over another gives the focus back to the control that had it, marked.
        QVERIFY(call("slShowTransferProgress"));
        QVERIFY(ready("transferProgress"));
        QVERIFY(tabTo("Stop"));
        QQuickItem *stop = focused();
        QVERIFY(call("showmessageBox", "Over the transfer"));
        QVERIFY(ready("messageBox"));
        QVERIFY(!marked(stop));
        press("Return");
        QVERIFY(closed("messageBox"));
        QVERIFY(focusOn(stop));
        QVERIFY(marked(stop));
        QVERIFY(call("slhideTransferProgress"));
        QVERIFY(closed("transferProgress"));

        seenApart(item("libraryButton"));  // the page in front
        QVERIFY(call("slShowBrowser", 1));
        QTRY_VERIFY_WITH_TIMEOUT(
            item("addAllButton")->isVisible() && item("addAllButton")->isEnabled(), kWait);
        seenApart(item("addAllButton"));
        click(item("changeVehicleButton"));
        QTRY_VERIFY_WITH_TIMEOUT(
            item("continueButton")->isVisible() && item("continueButton")->isEnabled(), kWait);
        seenApart(item("continueButton"));
    }
};

KIVO_TEST_MAIN(TestBoxFocus)
#include "tst_boxfocus.moc"
