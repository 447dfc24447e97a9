#include "boxdriver.h"

// The window's boxes driven as a person does: a click on a page button opens one, then only keys.
// Whatever the keys do, the page behind stays as it was.
class TestBoxKeys : public BoxDriver
{
    Q_OBJECT

private slots:
    // Return and Escape close it, as OK does; Tab and space stay in it; the focus goes back to the
    // page button, whose own space opens the box again. A click beside it still closes it.
    void messageBoxTakesTheKeys()
    {
        TestEnv env;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        const QStringList before = page(app.controller());
        for (const char *keys : {"Return", "Escape", "Tab Tab Space", "Backtab Backtab Return"}) {
            click(item("transferButton"));  // nothing ticked
            QVERIFY(ready("messageBox"));
            press(keys);
            QVERIFY2(closed("messageBox"), keys);
            QVERIFY(focusOn(item("transferButton")));
            QCOMPARE(page(app.controller()), before);
        }
        press("Space");
        QCOMPARE(cycle("messageBox", "Tab"), QStringList{"OK"});
        QCOMPARE(cycle("messageBox", "Backtab"), QStringList{"OK"});
        QTest::mouseClick(m_window, Qt::LeftButton, {}, QPoint(20, 780));
        QVERIFY(closed("messageBox"));
    }

    // Escape and Cancel, whichever key presses it, remove nothing; Return on the box as it opens
    // is its highlighted Remove.
    void removalConfirmationTakesTheKeys()
    {
        TestEnv env;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(call("selectRows", true));
        const QStringList before = page(app.controller());
        for (const char *keys :
            {"Escape", "Tab Tab Tab Space", "Backtab Backtab Space", "Tab Return", "Tab Escape"}) {
            click(item("removeButton"));
            QVERIFY(ready("removalBox"));
            press(keys);
            QVERIFY2(closed("removalBox"), keys);
            QVERIFY(focusOn(item("removeButton")));
            QCOMPARE(page(app.controller()), before);
        }
        click(item("removeButton"));
        QCOMPARE(cycle("removalBox", "Tab"), QStringList({"Cancel", "Remove"}));
        QCOMPARE(cycle("removalBox", "Backtab"), QStringList({"Remove", "Cancel"}));
        press("Escape");
        QVERIFY(closed("removalBox"));
        QVERIFY(focusOn(item("removeButton")));
        press("Space");
        QVERIFY(ready("removalBox"));
        press("Return");
        QVERIFY(QTest::qWaitFor([&] { return kivoDB().loadLibrary().isEmpty(); }, 30000));
        QVERIFY(closed("removalBox"));
    }

    // With a folder chosen, keys move and press only the dialog's controls, Escape cancels and
    // keeps the folder, and Return transfers: then the report takes the keys, and after it the
    // focus is back on the page.
    void transferDialogTakesTheKeys()
    {
        TestEnv env;
        KivoApplication app;
        const QString target = startOnStick(env, app);
        if (target.isEmpty())
            return;
        QSignalSpy started(app.drive(), &Drive::sgShowTransferProgress);

        click(item("transferButton"));
        QVERIFY(ready("transferDialog"));
        press("Return");  // no target yet: Transfer is grey
        QVERIFY(opened("transferDialog"));
        QVERIFY(call("transferandSyncDialog"));
        QTRY_COMPARE_WITH_TIMEOUT(m_root->property("selectedDrive").toString(), target, kWait);
        const QStringList before = page(app.controller());
        const QStringList tabs = cycle("transferDialog", "Tab");
        QCOMPARE(tabs.size(), 8);  // the folder, Open Directory, four answers, Cancel, Transfer
        QCOMPARE(tabs.mid(6), QStringList({"Cancel", "Transfer"}));
        QStringList backwards = cycle("transferDialog", "Backtab");
        QCOMPARE(QSet<QString>(backwards.begin(), backwards.end()), QSet<QString>(tabs.begin(), tabs.end()));
        QCOMPARE(page(app.controller()), before);
        press("Escape");
        QVERIFY(closed("transferDialog"));

        // Each time the folder chosen last is listed again by a poll, and taken, before the keys.
        for (const char *keys :
            {"Space", "Tab Tab Tab Space", "Tab Space Tab Space", "Backtab Backtab Backtab Space"}) {
            click(item("transferButton"));
            QTRY_COMPARE_WITH_TIMEOUT(m_root->property("selectedDrive").toString(), target, kWait);
            QVERIFY(ready("transferDialog"));
            press(keys);
            QVERIFY2(opened("transferDialog") && focusIn("transferDialog"), keys);
            QCOMPARE(page(app.controller()), before);
            press("Escape");
            QVERIFY(closed("transferDialog"));
            QVERIFY(focusOn(item("transferButton")));
            QCOMPARE(m_root->property("selectedDrive").toString(), target);
        }
        QCOMPARE(started.size(), 0);
        QVERIFY(QDir(target).isEmpty());

        click(item("transferButton"));
        QTRY_COMPARE_WITH_TIMEOUT(m_root->property("selectedDrive").toString(), target, kWait);
        QVERIFY(ready("transferDialog"));
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        press("Return");
        // The window takes in events while the key goes: the end may have come with it.
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        QVERIFY(ready("messageBox"));
        press("Return");
        QVERIFY(closed("messageBox"));
        QVERIFY(focusOn(item("transferButton")));
    }

    // Escape presses a progress box's Cancel, but never a running transfer's Stop; a box closed
    // under another gives that one the way back to the page.
    void progressBoxesKeepTheirButtons()
    {
        TestEnv env;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QSignalSpy stop(m_root, SIGNAL(sgProgressStoped(int)));
        QSignalSpy cancelCopy(m_root, SIGNAL(sgCancelCopy()));
        QSignalSpy cancelSearch(m_root, SIGNAL(sgCancelSearch()));
        click(item("libraryButton"));
        QVERIFY(focusOn(item("libraryButton")));
        const QStringList before = page(app.controller());

        QVERIFY(call("slShowTransferProgress"));
        QVERIFY(ready("transferProgress"));
        press("Escape Return Tab Escape Backtab Escape");
        QVERIFY(opened("transferProgress") && focusIn("transferProgress"));
        QCOMPARE(stop.size(), 0);
        QCOMPARE(cycle("transferProgress", "Tab"), QStringList{"Stop"});
        QVERIFY(call("showmessageBox", "Over the transfer"));
        QVERIFY(ready("messageBox"));
        QVERIFY(call("slhideTransferProgress"));
        QVERIFY(closed("transferProgress"));
        QVERIFY(ready("messageBox"));
        press("Return");
        QVERIFY(closed("messageBox"));
        QVERIFY(focusOn(item("libraryButton")));

        QVERIFY(call("slShowLoading"));
        QVERIFY(ready("formatWait"));
        press("Tab Backtab Space Return Escape");
        QVERIFY(opened("formatWait") && focusIn("formatWait"));
        QVERIFY(call("showmessageBox", "Over the format"));
        QVERIFY(ready("messageBox"));
        press("Escape");
        QVERIFY(closed("messageBox"));
        QVERIFY(ready("formatWait"));
        QVERIFY(call("slHideLoading"));
        QVERIFY(closed("formatWait"));
        QVERIFY(call("slUpdateCopyProgress", 0, 3));
        QVERIFY(ready("copyProgress"));
        press("Return Escape");
        QTRY_COMPARE_WITH_TIMEOUT(cancelCopy.size(), 1, kWait);
        QVERIFY(call("slCopyFinished", 0));
        QVERIFY(closed("copyProgress"));
        QVERIFY(call("slShowSearchProgress", "Searching"));
        QVERIFY(ready("searchProgress"));
        press("Escape");
        QTRY_COMPARE_WITH_TIMEOUT(cancelSearch.size(), 1, kWait);
        QVERIFY(call("slHideSearchProgress"));
        QVERIFY(closed("searchProgress"));
        QVERIFY(focusOn(item("libraryButton")));
        QCOMPARE(page(app.controller()), before);
    }

    // Tab to a push button and Return does what space does, in each box: the add's and the
    // search's Cancel, OK, the repair chooser's three buttons, the removal's Cancel and Remove.
    void returnPressesTheFocusedButton()
    {
        TestEnv env;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QSignalSpy cancelCopy(m_root, SIGNAL(sgCancelCopy()));
        QSignalSpy cancelSearch(m_root, SIGNAL(sgCancelSearch()));
        QSignalSpy repair(m_root, SIGNAL(sgCollectMediaToUpdate(QVariant)));
        click(item("libraryButton"));
        QVERIFY(focusOn(item("libraryButton")));

        QVERIFY(call("slUpdateCopyProgress", 0, 3));
        QVERIFY(ready("copyProgress"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QTRY_COMPARE_WITH_TIMEOUT(cancelCopy.size(), 1, kWait);
        QVERIFY(call("slCopyFinished", 0));
        QVERIFY(closed("copyProgress"));
        QVERIFY(call("slShowSearchProgress", "Searching"));
        QVERIFY(ready("searchProgress"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QTRY_COMPARE_WITH_TIMEOUT(cancelSearch.size(), 1, kWait);
        QVERIFY(call("slHideSearchProgress"));
        QVERIFY(closed("searchProgress"));
        QVERIFY(call("showmessageBox", "A note"));
        QVERIFY(ready("messageBox"));
        QVERIFY(tabTo("OK"));
        press("Return");
        QVERIFY(closed("messageBox"));

        click(item("advancedSettingsButton"));
        QVERIFY(ready("advancedSettings"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QVERIFY(closed("advancedSettings"));
        click(item("advancedSettingsButton"));
        QVERIFY(ready("advancedSettings"));
        QVERIFY(tabTo("Select all"));
        press("Return");
        QTRY_VERIFY_WITH_TIMEOUT(
            item("repairChosenButton")->property("text").toString().endsWith("(4)"), kWait);
        QVERIFY(tabTo(item("repairChosenButton")));
        // The run ends, and the library's views are read again, before the tracks go, as it would
        // be in a person's hands.
        RepairRead reread(app.controller());
        press("Return");
        QTRY_COMPARE_WITH_TIMEOUT(repair.size(), 1, kWait);
        QCOMPARE(repair.first().first().value<QVariant>().toList().size(), 4);
        QVERIFY(reread.wait());
        QVERIFY(closed("advancedSettings"));

        QVERIFY(call("selectRows", true));
        click(item("removeButton"));
        QVERIFY(ready("removalBox"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QVERIFY(closed("removalBox"));
        QCOMPARE(kivoDB().loadLibrary().size(), 4);
        click(item("removeButton"));
        QVERIFY(ready("removalBox"));
        QVERIFY(tabTo("Remove"));
        press("Return");
        QVERIFY(QTest::qWaitFor([&] { return kivoDB().loadLibrary().isEmpty(); }, 30000));
    }

    // Tab to Transfer and Return starts the transfer; the box that opens counts the files to come
    // before the first has arrived, and Tab to its Stop and Return stops the transfer there.
    void returnStopsTheTransfer()
    {
        TestEnv env;
        KivoApplication app;
        const QString target = startOnStick(env, app);
        if (target.isEmpty())
            return;
        QStringList counts;
        const auto opening = connect(app.drive(), &Drive::sgShowTransferProgress, this, [&] {
            counts << item("transferCount")->property("text").toString();
            // The transfer starts only once this has returned: Stop comes before any file. The
            // window opened the box, with the keyboard in it, before this was called.
            if (focusIn("transferProgress") && tabTo("Stop"))
                press("Return");
        });
        openOnFolder(target);
        if (QTest::currentTestFailed())
            return;
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        QVERIFY(tabTo("Transfer"));
        press("Return");
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 30000);
        disconnect(opening);
        const auto report = ended.first().first().value<TransferReport>();
        QCOMPARE(report.stop, TransferReport::Cancelled);
        QCOMPARE(report.copied, 0);
        QCOMPARE(mediaFiles(target), 0);
        QCOMPARE(counts, QStringList{"Transferring: 0 / 4"});
    }

    // The tracks to repair: a Tab cycle stays in it, Escape closes it, the focus goes back.
    void repairChooserGivesTheFocusBack()
    {
        TestEnv env;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        const QStringList before = page(app.controller());
        click(item("advancedSettingsButton"));
        QCOMPARE(cycle("advancedSettings", "Tab").size(), 4 + 3);  // the tracks, its three buttons
        press("Escape");
        QVERIFY(closed("advancedSettings"));
        QVERIFY(focusOn(item("advancedSettingsButton")));
        QCOMPARE(page(app.controller()), before);
    }
};

KIVO_TEST_MAIN(TestBoxKeys)
#include "tst_boxkeys.moc"
