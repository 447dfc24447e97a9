#include "combo.h"
#include "drive.h"
#include "kivodb.h"
#include "manager.h"
#include "mediagen.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QPointer>
#include <QQuickItem>
#include <QSGRendererInterface>
#include <QSignalSpy>

// The window's boxes driven as a person does: a click on a page button opens one, then only keys.
// Whatever the keys do, the page behind stays as it was.
class TestBoxKeys : public QObject
{
    Q_OBJECT

    QQuickWindow *m_window = nullptr;
    QObject *m_root = nullptr;

    // Four songs added, their repair over, the library's tracks in front.
    void start(const TestEnv &env, KivoApplication &app)
    {
        for (int i = 1; i <= 4; ++i) {
            MediaAudio media;
            media.seconds = 8;
            media.bitrateKbps = 128;
            media.tags = {{"title", QString("Song %1").arg(i)}, {"artist", "The Band"},
                {"album", QString("Album %1").arg((i + 1) / 2)}, {"track", QString::number(i)}};
            const QString path = env.home() + QString("/Music/Band/%1.mp3").arg(i);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QVERIFY(MediaGen::makeAudio(path, media).isEmpty());
        }
        StartOptions options;
        options.qmlFile = QStringLiteral(KIVO_SOURCE_DIR "/qml/QKiVOCorvane/main.qml");
        options.checkForUpdates = false;
        options.askOpenAnother = [] { return true; };
        QCOMPARE(app.start(options), KivoApplication::Result::Started);
        m_window = app.viewer();
        m_root = app.viewer()->rootObject();
        m_window->resize(1280, 800);
        const QVariantMap vehicle = Combo::vehicleList().value(0).toMap();
        QVERIFY(QMetaObject::invokeMethod(m_root, "sgVehicleChosen", Q_ARG(QString, "0"),
            Q_ARG(QString, vehicle.value("name").toString()),
            Q_ARG(QString, vehicle.value("lastYear").toString()), Q_ARG(int, 0)));
        QVERIFY(QMetaObject::invokeMethod(m_root, "sgCheckMediaLibrary", Q_ARG(int, 0)));
        manager *mgr = app.controller();
        mgr->searchInMediaSource("mymusic");
        QVERIFY(QTest::qWaitFor([mgr] { return !mgr->isSearching(); }, 30000));
        QSignalSpy repair(mgr, &manager::sgUpdateRepairProgress);
        mgr->slAddToLibrary(true);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return !mgr->isLoading() && !mgr->isCopying() && !repair.isEmpty()
                    && repair.last().value(1).toInt() == 0;
            },
            30000));
        QCOMPARE(mgr->library().size(), 4);
        QVERIFY(QMetaObject::invokeMethod(m_root, "slShowLibraryTab", Q_ARG(QVariant, "tracks")));
        QTRY_COMPARE(m_root->property("currentPage").toString(), QStringLiteral("library"));
    }

    QQuickItem *item(const char *name) const { return m_root->findChild<QQuickItem *>(name); }
    bool opened(const char *box) const
    {
        return m_root->findChild<QObject *>(box)->property("opened").toBool();
    }
    // One of the window's functions, as the program calls it.
    bool call(const char *function, const QVariant &a = {}, const QVariant &b = {}) const
    {
        if (b.isValid())
            return QMetaObject::invokeMethod(m_root, function, Q_ARG(QVariant, a), Q_ARG(QVariant, b));
        if (a.isValid())
            return QMetaObject::invokeMethod(m_root, function, Q_ARG(QVariant, a));
        return QMetaObject::invokeMethod(m_root, function);
    }

    void click(QQuickItem *target)
    {
        QVERIFY(target && target->isVisible());
        QTest::mouseClick(
            m_window, Qt::LeftButton, {}, target->mapToScene(target->boundingRect().center()).toPoint());
    }

    // "Tab Backtab Space Return Escape", as the keyboard sends them.
    void press(const QString &keys)
    {
        for (const QString &key : keys.split(' ', Qt::SkipEmptyParts)) {
            if (key == "Backtab")
                QTest::keyClick(m_window, Qt::Key_Backtab, Qt::ShiftModifier);
            else
                QTest::keyClick(m_window,
                    key == "Tab"          ? Qt::Key_Tab
                        : key == "Space"  ? Qt::Key_Space
                        : key == "Return" ? Qt::Key_Return
                                          : Qt::Key_Escape);
        }
    }

    QQuickItem *focused() const { return m_window->activeFocusItem(); }
    bool focusIn(const char *box) const
    {
        const auto *content
            = m_root->findChild<QObject *>(box)->property("contentItem").value<QQuickItem *>();
        for (const QQuickItem *at = focused(); at; at = at->parentItem())
            if (at == content->parentItem())
                return true;
        return false;
    }

    // The texts of the controls one key visits until it comes round again; empty if the focus
    // ever leaves the box.
    QStringList cycle(const char *box, const QString &key)
    {
        QStringList seen;
        for (QQuickItem *first = nullptr; seen.size() < 20;) {
            press(key);
            if (!focusIn(box))
                return {};
            if (focused() == first)
                return seen;
            first = first ? first : focused();
            seen << focused()->property("text").toString();
        }
        return {};
    }

    // What a key reaching the page would change, and which boxes are up.
    QStringList page(manager *mgr) const
    {
        QStringList state;
        for (const char *name : {"currentPage", "libraryTab", "detailKind", "tickedText", "selectedDrive"})
            state << m_root->property(name).toString();
        for (const track &t : kivoDB().loadLibrary())
            state << t.trackname + (QFile::exists(t.filepath) ? "" : " (file gone)");
        for (QObject *row : mgr->trackModel())
            state << row->property("trackname").toString()
                    + (row->property("selected").toBool() ? " ticked" : "");
        for (const char *box : {"messageBox", "removalBox", "transferDialog", "transferProgress",
                 "formatWait", "copyProgress", "searchProgress", "advancedSettings"})
            if (opened(box))
                state << box;
        return state;
    }

    // Tabs until the control showing `text` has the focus; false if it never does.
    bool tabTo(const QString &text)
    {
        for (int i = 0; i < 60; ++i) {
            press("Tab");
            if (focused() && focused()->property("text").toString() == text)
                return true;
        }
        return false;
    }
    bool tabTo(QQuickItem *control) { return control && tabTo(control->property("text").toString()); }

    // Whether the window's one focus mark is shown on `control`.
    bool marked(QQuickItem *control) const
    {
        const auto *mark = m_root->findChild<QQuickItem *>("focusMark");
        return mark && control && mark->parentItem() == control && mark->isVisible();
    }

    // The control as the window shows it now.
    QImage shot(QQuickItem *control) const
    {
        return m_window->grabWindow().copy(control->mapRectToScene(control->boundingRect()).toAlignedRect());
    }
    static int pixelsApart(const QImage &a, const QImage &b)
    {
        if (a.size() != b.size())
            return a.width() * a.height();
        int apart = 0;
        for (int y = 0; y < a.height(); ++y)
            for (int x = 0; x < a.width(); ++x)
                apart += a.pixel(x, y) != b.pixel(x, y) ? 1 : 0;
        return apart;
    }

    // The media files a transfer wrote below `folder`.
    static int mediaFiles(const QString &folder)
    {
        int found = 0;
        for (QDirIterator it(folder, {"*.mp3"}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
             it.next())
            ++found;
        return found;
    }

private slots:
    // Grabs of the window come out drawn on every platform, the offscreen one included.
    void initTestCase() { QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); }

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
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(call("selectRows", true));
        const QString target = env.makePath("stick");
        QVERIFY(QDir().mkpath(target));
        app.drive()->folderChooser = [target] { return target; };
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
        press("Return");
        QCOMPARE(repair.size(), 1);
        QCOMPARE(repair.first().first().value<QVariant>().toList().size(), 4);
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
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(call("selectRows", true));
        const QString target = env.makePath("stick");
        QVERIFY(QDir().mkpath(target));
        app.drive()->folderChooser = [target] { return target; };
        QStringList counts;
        const auto opening = connect(app.drive(), &Drive::sgShowTransferProgress, this, [&] {
            counts << item("transferCount")->property("text").toString();
            // The transfer starts only once this has returned: Stop comes before any file.
            if (tabTo("Stop"))
                press("Return");
        });
        click(item("transferButton"));
        QVERIFY(call("transferandSyncDialog"));
        QTRY_COMPARE(m_root->property("selectedDrive").toString(), target);
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

    // A folder chosen through Open Directory takes the focus to Transfer, marked, and Return
    // transfers there; after a cancelled chooser the focus stays on Open Directory, marked. The
    // focus stays on a target's row while the drives are polled.
    void chosenFolderTakesReturn()
    {
        TestEnv env;
        QString answer;
        int asked = 0;
        KivoApplication app;
        start(env, app);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(call("selectRows", true));
        const QString target = env.makePath("stick");
        QVERIFY(QDir().mkpath(target));
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
        QVERIFY(tabTo("Transfer"));
        QSignalSpy ended(app.drive(), &Drive::sgTransferEnded);
        press("Return");
        QVERIFY(ended.wait(30000));
        QCOMPARE(asked, 2);
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
        start(env, app);
        if (QTest::currentTestFailed())
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

        QVERIFY(call("selectRows", true));
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

        const QString target = env.makePath("stick");
        QVERIFY(QDir().mkpath(target));
        app.drive()->folderChooser = [target] { return target; };
        click(item("transferButton"));
        QVERIFY(call("transferandSyncDialog"));
        QTRY_COMPARE(m_root->property("selectedDrive").toString(), target);
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
