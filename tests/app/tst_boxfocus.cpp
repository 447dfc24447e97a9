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
        QVERIFY(tabTo("Open Directory"));
        QSignalSpy polled(app.drive(), &Drive::drivesRead);
        press("Return");
        QCOMPARE(asked, 1);
        QVERIFY(polled.wait(5000));
        QCOMPARE(focused(), item("openDirectoryButton"));
        QVERIFY(marked(item("openDirectoryButton")));

        answer = target;
        press("Return");
        QCOMPARE(asked, 2);
        QTRY_COMPARE(focused(), item("startTransferButton"));
        QVERIFY(marked(item("startTransferButton")));
        QCOMPARE(m_root->property("selectedDrive").toString(), target);
        // The polls list the targets anew; the row with the focus keeps it.
        QVERIFY(tabTo("Folder: " + target));
        const QPointer<QQuickItem> row = focused();
        QVERIFY(polled.wait(5000) && polled.wait(5000));
        QVERIFY(row && focused() == row);
        QVERIFY(marked(row));
        // The same folder chosen again is a folder chosen all the same; a cancel once a folder is
        // listed leaves the focus where it was.
        QVERIFY(tabTo("Open Directory"));
        press("Return");
        QCOMPARE(asked, 3);
        QTRY_COMPARE(focused(), item("startTransferButton"));
        QVERIFY(marked(item("startTransferButton")));
        answer.clear();
        QVERIFY(tabTo("Open Directory"));
        press("Return");
        QCOMPARE(asked, 4);
        QVERIFY(polled.wait(5000) && polled.wait(5000));
        QCOMPARE(focused(), item("openDirectoryButton"));
        QVERIFY(marked(item("openDirectoryButton")));
        QCOMPARE(m_root->property("selectedDrive").toString(), target);
        QVERIFY(tabTo("Transfer"));
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        press("Return");
        QVERIFY(ended.wait(30000));
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
        QVERIFY(QTest::qWaitForWindowActive(m_window));
        const auto seenApart = [this](QQuickItem *control) {
            QVERIFY(control && focused() != control);
            const QImage before = shot(control);
            QVERIFY(before.pixel(0, 0) != 0u);  // drawn, not blank
            QVERIFY2(tabTo(control), qPrintable(control->objectName()));
            QVERIFY(marked(control));
            QVERIFY2(pixelsApart(before, shot(control)) > 100, qPrintable(control->objectName()));
        };

        click(item("removeButton"));
        QQuickItem *remove = item("confirmButton"), *cancel = item("confirmCancel");
        const QImage removeAlone = shot(remove), cancelAlone = shot(cancel);
        QVERIFY(tabTo("Cancel"));
        QVERIFY(pixelsApart(cancelAlone, shot(cancel)) > 100);
        QCOMPARE(pixelsApart(removeAlone, shot(remove)), 0);
        QVERIFY(tabTo("Remove"));
        QVERIFY(pixelsApart(removeAlone, shot(remove)) > 100);
        QCOMPARE(pixelsApart(cancelAlone, shot(cancel)), 0);
        press("Escape");
        // Back on the page button as it was: unmarked after a click, marked after a key.
        QCOMPARE(focused(), item("removeButton"));
        QVERIFY(!marked(item("removeButton")));
        QVERIFY(tabTo(item("removeButton")));
        press("Space Escape");
        QCOMPARE(focused(), item("removeButton"));
        QVERIFY(marked(item("removeButton")));

        openOnFolder(target);
        seenApart(item("startTransferButton"));
        QQuickItem *const first = focused();
        for (int i = 0; i < 20 && (i == 0 || focused() != first); ++i) {
            press("Tab");
            QVERIFY2(marked(focused()), qPrintable(focused()->property("text").toString()));
        }
        press("Escape");

        // A box over another gives the focus back to the control that had it, marked.
        QVERIFY(call("slShowTransferProgress"));
        QVERIFY(tabTo("Stop"));
        QQuickItem *stop = focused();
        QVERIFY(call("showmessageBox", "Over the transfer"));
        QVERIFY(!marked(stop));
        press("Return");
        QCOMPARE(focused(), stop);
        QVERIFY(marked(stop));
        QVERIFY(call("slhideTransferProgress"));

        seenApart(item("libraryButton"));  // the page in front
        QVERIFY(call("slShowBrowser", 1));
        QTRY_VERIFY(item("addAllButton")->isVisible() && item("addAllButton")->isEnabled());
        seenApart(item("addAllButton"));
        click(item("changeVehicleButton"));
        QTRY_VERIFY(item("continueButton")->isVisible() && item("continueButton")->isEnabled());
        seenApart(item("continueButton"));
    }
};

KIVO_TEST_MAIN(TestBoxFocus)
#include "tst_boxfocus.moc"
