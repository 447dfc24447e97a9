#include "combo.h"
#include "drive.h"
#include "kivodb.h"
#include "manager.h"
#include "mediagen.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"
#include "testenv.h"

#include <QDir>
#include <QQuickItem>
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
