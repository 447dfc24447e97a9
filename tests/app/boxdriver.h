#pragma once

#include "combo.h"
#include "drive.h"
#include "kivodb.h"
#include "manager.h"
#include "mediagen.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"
#include "repairread.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QQuickItem>
#include <QSignalSpy>
#include <QtQuickTest/quicktest.h>

// The window driven as a person does, through its objects: the program started on a library,
// the boxes opened by a click or by the program, then keys. For the tests of the boxes' keys and
// of the focus. A check waits for the state it checks, whatever the machine is busy with: a box
// up and laid out before its keys, the window laid out before a click.
class BoxDriver : public QObject
{
protected:
    // As long as a test waits for the window or the program, on a machine busy with other tests.
    static constexpr int kWait = 20000;

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
        QVERIFY(QTest::qWaitFor([mgr] { return !mgr->isSearching() && !mgr->isLoading(); }, 30000));
        // The end of the repair after the add reads the library's views once more, and makes their
        // rows anew: the boxes are tried once that read is shown, not while a list may change
        // under the keys. The build of the views at the add's end may be shown after the run has
        // ended and before that read has begun, so its end tells nothing.
        {
            RepairRead reread(mgr);
            mgr->slAddToLibrary(true);
            QVERIFY(reread.wait());
        }
        QVERIFY(!mgr->isCopying());
        QCOMPARE(mgr->library().size(), 4);
        QVERIFY(QMetaObject::invokeMethod(m_root, "slShowLibraryTab", Q_ARG(QVariant, "tracks")));
        QTRY_COMPARE_WITH_TIMEOUT(
            m_root->property("currentPage").toString(), QStringLiteral("library"), kWait);
        QTRY_COMPARE_WITH_TIMEOUT(m_window->size(), QSize(1280, 800), kWait);
        QVERIFY(QTest::qWaitForWindowExposed(m_window, kWait));
        QVERIFY(QQuickTest::qWaitForPolish(m_window, kWait));
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

    // Where the control stands once the window is laid out: a click at a place the layout has not
    // yet settled would miss it, and one on a grey control does nothing.
    void click(QQuickItem *target)
    {
        QVERIFY(target);
        QTRY_VERIFY_WITH_TIMEOUT(target->isVisible() && target->isEnabled(), kWait);
        QVERIFY(QQuickTest::qWaitForPolish(m_window, kWait));
        QTest::mouseClick(
            m_window, Qt::LeftButton, {}, target->mapToScene(target->boundingRect().center()).toPoint());
    }

    // "Tab Backtab Space Return Escape", as the keyboard sends them. The window takes each key as
    // it is sent: the focus has moved by the time the next one goes.
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

    // The box is up with the keyboard in it, and laid out as it now stands: its rows made, its
    // controls in place. Keys sent before would reach the page, or miss controls still to come.
    bool ready(const char *box)
    {
        return QTest::qWaitFor([&] { return opened(box) && focusIn(box); }, kWait)
            && QQuickTest::qWaitForPolish(m_window, kWait);
    }
    bool closed(const char *box)
    {
        return QTest::qWaitFor([&] { return !opened(box); }, kWait);
    }
    // The focus is on `control`, as a box's closing or the program puts it there.
    bool focusOn(QQuickItem *control)
    {
        return control && QTest::qWaitFor([&] { return focused() == control; }, kWait);
    }

    // The texts of the controls one key visits until it comes round again, once the box is ready;
    // empty if the focus ever leaves the box.
    QStringList cycle(const char *box, const QString &key)
    {
        if (!ready(box))
            return {};
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

    // As start(), then every row ticked and a folder "stick" that the chooser gives: its path, or
    // "" when the start failed.
    QString startOnStick(const TestEnv &env, KivoApplication &app)
    {
        start(env, app);
        const QString target = env.makePath("stick");
        if (QTest::currentTestFailed() || !call("selectRows", true) || !QDir().mkpath(target))
            return {};
        app.drive()->folderChooser = [target] { return target; };
        return target;
    }
    // The transfer dialog opened with the page's button, the chosen folder its target.
    // The folder is listed, and so taken, at the next poll of the drives.
    void openOnFolder(const QString &target)
    {
        click(item("transferButton"));
        QVERIFY(ready("transferDialog"));
        QVERIFY(call("transferandSyncDialog"));
        QTRY_COMPARE_WITH_TIMEOUT(m_root->property("selectedDrive").toString(), target, kWait);
        QVERIFY(ready("transferDialog"));
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
};
