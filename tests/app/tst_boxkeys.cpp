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
            QVERIFY(opened("messageBox") && focusIn("messageBox"));
            press(keys);
            QVERIFY2(!opened("messageBox"), keys);
            QCOMPARE(page(app.controller()), before);
            QCOMPARE(focused(), item("transferButton"));
        }
        press("Space");
        QVERIFY(opened("messageBox"));
        QCOMPARE(cycle("messageBox", "Tab"), QStringList{"OK"});
        QCOMPARE(cycle("messageBox", "Backtab"), QStringList{"OK"});
        QTest::mouseClick(m_window, Qt::LeftButton, {}, QPoint(20, 780));
        QVERIFY(!opened("messageBox"));
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
            QVERIFY(opened("removalBox") && focusIn("removalBox"));
            press(keys);
            QVERIFY2(!opened("removalBox"), keys);
            QCOMPARE(page(app.controller()), before);
            QCOMPARE(focused(), item("removeButton"));
        }
        click(item("removeButton"));
        QCOMPARE(cycle("removalBox", "Tab"), QStringList({"Cancel", "Remove"}));
        QCOMPARE(cycle("removalBox", "Backtab"), QStringList({"Remove", "Cancel"}));
        press("Escape Space Return");
        QVERIFY(QTest::qWaitFor([&] { return kivoDB().loadLibrary().isEmpty(); }, 30000));
        QVERIFY(!opened("removalBox"));
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
        QVERIFY(opened("transferDialog") && focusIn("transferDialog"));
        press("Return");  // no target yet: Transfer is grey
        QVERIFY(opened("transferDialog"));
        QVERIFY(call("transferandSyncDialog"));
        QTRY_COMPARE(m_root->property("selectedDrive").toString(), target);
        const QStringList before = page(app.controller());
        const QStringList tabs = cycle("transferDialog", "Tab");
        QCOMPARE(tabs.size(), 8);  // the folder, Open Directory, four answers, Cancel, Transfer
        QCOMPARE(tabs.mid(6), QStringList({"Cancel", "Transfer"}));
        QStringList backwards = cycle("transferDialog", "Backtab");
        QCOMPARE(QSet<QString>(backwards.begin(), backwards.end()), QSet<QString>(tabs.begin(), tabs.end()));
        QCOMPARE(page(app.controller()), before);
        press("Escape");

        for (const char *keys :
            {"Space", "Tab Tab Tab Space", "Tab Space Tab Space", "Backtab Backtab Backtab Space"}) {
            click(item("transferButton"));
            QTRY_COMPARE(m_root->property("selectedDrive").toString(), target);
            press(keys);
            QVERIFY2(opened("transferDialog") && focusIn("transferDialog"), keys);
            QCOMPARE(page(app.controller()), before);
            press("Escape");
            QVERIFY(!opened("transferDialog"));
            QCOMPARE(m_root->property("selectedDrive").toString(), target);
            QCOMPARE(focused(), item("transferButton"));
        }
        QCOMPARE(started.size(), 0);
        QVERIFY(QDir(target).isEmpty());

        click(item("transferButton"));
        QTRY_COMPARE(m_root->property("selectedDrive").toString(), target);
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        press("Return");
        QVERIFY(ended.wait(30000));
        QTRY_VERIFY(opened("messageBox") && focusIn("messageBox"));
        press("Return");
        QVERIFY(!opened("messageBox"));
        QCOMPARE(focused(), item("transferButton"));
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
        const QStringList before = page(app.controller());

        QVERIFY(call("slShowTransferProgress"));
        QVERIFY(focusIn("transferProgress"));
        press("Escape Return Tab Escape Backtab Escape");
        QVERIFY(opened("transferProgress") && focusIn("transferProgress"));
        QCOMPARE(stop.size(), 0);
        QCOMPARE(cycle("transferProgress", "Tab"), QStringList{"Stop"});
        QVERIFY(call("showmessageBox", "Over the transfer"));
        QVERIFY(call("slhideTransferProgress"));
        QVERIFY(focusIn("messageBox"));
        press("Return");
        QCOMPARE(focused(), item("libraryButton"));

        QVERIFY(call("slShowLoading"));
        press("Tab Backtab Space Return Escape");
        QVERIFY(opened("formatWait") && focusIn("formatWait"));
        QVERIFY(call("showmessageBox", "Over the format"));
        press("Escape");
        QVERIFY(opened("formatWait") && focusIn("formatWait"));
        QVERIFY(call("slHideLoading"));
        QVERIFY(call("slUpdateCopyProgress", 0, 3));
        press("Return Escape");
        QCOMPARE(cancelCopy.size(), 1);
        QVERIFY(call("slCopyFinished", 0));
        QVERIFY(call("slShowSearchProgress", "Searching"));
        press("Escape");
        QCOMPARE(cancelSearch.size(), 1);
        QVERIFY(call("slHideSearchProgress"));
        QCOMPARE(focused(), item("libraryButton"));
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

        QVERIFY(call("slUpdateCopyProgress", 0, 3));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QCOMPARE(cancelCopy.size(), 1);
        QVERIFY(call("slCopyFinished", 0));
        QVERIFY(call("slShowSearchProgress", "Searching"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QCOMPARE(cancelSearch.size(), 1);
        QVERIFY(call("slHideSearchProgress"));
        QVERIFY(call("showmessageBox", "A note"));
        QVERIFY(tabTo("OK"));
        press("Return");
        QVERIFY(!opened("messageBox"));

        click(item("advancedSettingsButton"));
        QTRY_VERIFY(opened("advancedSettings"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QVERIFY(!opened("advancedSettings"));
        click(item("advancedSettingsButton"));
        QTRY_VERIFY(opened("advancedSettings"));
        QVERIFY(tabTo("Select all"));
        press("Return");
        QVERIFY(item("repairChosenButton")->property("text").toString().endsWith("(4)"));
        QVERIFY(tabTo(item("repairChosenButton")));
        QSignalSpy progress(app.controller(), &manager::sgUpdateRepairProgress);
        press("Return");
        QCOMPARE(repair.size(), 1);
        QCOMPARE(repair.first().first().value<QVariant>().toList().size(), 4);
        // The run ends before the tracks go, as it would in a person's hands.
        QVERIFY(QTest::qWaitFor(
            [&] { return !progress.isEmpty() && progress.last().value(1).toInt() == 0; }, 30000));
        QVERIFY(!opened("advancedSettings"));

        QVERIFY(call("selectRows", true));
        click(item("removeButton"));
        QVERIFY(tabTo("Cancel"));
        press("Return");
        QVERIFY(!opened("removalBox"));
        QCOMPARE(kivoDB().loadLibrary().size(), 4);
        click(item("removeButton"));
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
            // The transfer starts only once this has returned: Stop comes before any file.
            if (tabTo("Stop"))
                press("Return");
        });
        openOnFolder(target);
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        QVERIFY(tabTo("Transfer"));
        press("Return");
        QVERIFY(ended.wait(30000));
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
        QTRY_VERIFY(opened("advancedSettings") && focusIn("advancedSettings"));
        QCOMPARE(cycle("advancedSettings", "Tab").size(), 4 + 3);  // the tracks, its three buttons
        press("Escape");
        QVERIFY(!opened("advancedSettings"));
        QCOMPARE(focused(), item("advancedSettingsButton"));
        QCOMPARE(page(app.controller()), before);
    }
};

KIVO_TEST_MAIN(TestBoxKeys)
#include "tst_boxkeys.moc"
