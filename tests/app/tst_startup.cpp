#include "applog.h"
#include "apppaths.h"
#include "combo.h"
#include "database.h"
#include "datamodels.h"
#include "kivodb.h"
#include "manager.h"
#include "mediagen.h"
#include "messagehandler.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QQmlContext>
#include <QQuickItem>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtQuickTest/quicktest.h>

#include <sched.h>

namespace {

QString readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(file.readAll());
}

QByteArray bytesOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

StartOptions testOptions(bool openAnother = false, QStringList *errors = nullptr)
{
    StartOptions options;
    options.qmlFile = QStringLiteral(KIVO_SOURCE_DIR "/qml/QKiVOCorvane/main.qml");
    options.checkForUpdates = false;
    options.askOpenAnother = [openAnother] { return openAnother; };
    options.showError = [errors](const QString &text) {
        if (errors)
            *errors << text;
    };
    return options;
}

// A library file holding `tracks`, each given an (empty) file where it has none.
bool makeLibrary(QList<track> tracks)
{
    for (track &t : tracks) {
        if (t.filepath.isEmpty())
            return false;
        QDir().mkpath(QFileInfo(t.filepath).absolutePath());
        QFile(t.filepath).open(QIODevice::WriteOnly);
    }
    Database db;
    const bool ok = db.open("KivoData", true) && db.initStructure() && kivoDB().insertTracks(tracks);
    Database::close();
    return ok;
}

track libraryTrack(const QString &path, const QString &artist, const QString &album, const QString &title)
{
    track t = AppPaths().clearTrack(track());
    t.filepath = path;
    t.artistname = artist;
    t.albumname = album;
    t.trackname = title;
    return t;
}

// The items' rectangles in the window, in the order they stand from left to right.
QList<QRectF> placesOf(QQuickItem *root, const QList<const char *> &names)
{
    QList<QRectF> places;
    for (const char *name : names) {
        const auto *item = root->findChild<QQuickItem *>(name);
        places << (item && item->isVisible() ? item->mapRectToScene(item->boundingRect()) : QRectF());
    }
    return places;
}

// Why the items overlap, leave the window or have no size; empty when they stand side by side.
QString overlapIn(const QList<QRectF> &places, qreal windowWidth)
{
    for (int i = 0; i < places.size(); ++i) {
        const QRectF &place = places.at(i);
        if (place.width() < 1 || place.left() < 0 || place.right() > windowWidth + 0.5)
            return QStringLiteral("item %1 at %2 + %3").arg(i).arg(place.left()).arg(place.width());
        if (i > 0 && places.at(i - 1).right() > place.left() + 0.5)
            return QStringLiteral("items %1 and %2 overlap at %3").arg(i - 1).arg(i).arg(place.left());
    }
    return {};
}

}  // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstStartCreatesDatabaseLogsAndConnections()
    {
        TestEnv env;
        {
            KivoApplication app;
            QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
            QVERIFY(QFile::exists(env.appDataDir() + "/kivo.db"));
            QVERIFY2(app.failedConnections().isEmpty(), qPrintable(app.failedConnections().join('\n')));
            QVERIFY(app.connectionCount() >= 5);
            QVERIFY(readFile(env.appDataDir() + "/debug.log").contains(" - Start KiVO"));
            const QStringList errorLines
                = readFile(env.appDataDir() + "/error.log").split('\n', Qt::SkipEmptyParts);
            QCOMPARE(errorLines.size(), 1);
            QVERIFY(errorLines.first().endsWith(" : Starting application..."));

            // Nothing chosen yet: the welcome page stays.
            QObject *root = app.viewer()->rootObject();
            QCOMPARE(root->property("currentPage").toString(), QStringLiteral("welcome"));
            app.shutdown();
        }
        QVERIFY(readFile(env.appDataDir() + "/debug.log").contains(" - Closed KiVO"));
    }

    void vehicleChoiceIsKeptAcrossStarts()
    {
        TestEnv env;
        const QVariantMap vehicle = Combo::vehicleList().first().toMap();
        const QString name = vehicle.value("name").toString();
        const QString year = vehicle.value("lastYear").toString();
        {
            KivoApplication app;
            QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
            QObject *root = app.viewer()->rootObject();
            QVERIFY(QMetaObject::invokeMethod(root, "sgVehicleChosen", Q_ARG(QString, "0"),
                Q_ARG(QString, name), Q_ARG(QString, year), Q_ARG(int, 0)));
            QVERIFY(QMetaObject::invokeMethod(root, "sgCheckMediaLibrary", Q_ARG(int, 0)));
            // An empty library opens on the start page, with the vehicle's system loaded.
            QCOMPARE(root->property("currentPage").toString(), QStringLiteral("start"));
            QCOMPARE(Combo::systemInfo()->vehicle, name);
            QVERIFY(!Combo::systemInfo()->name.empty());
        }
        {
            KivoApplication app;
            QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
            QCOMPARE(app.viewer()->rootContext()->contextProperty("SelectedModelName").toString(), name);
            QCOMPARE(app.viewer()->rootContext()->contextProperty("SelectedModelYearValue").toString(), year);
            // A known vehicle skips the welcome page at the next start.
            QCOMPARE(app.viewer()->rootObject()->property("currentPage").toString(), QStringLiteral("start"));
        }
    }

    void secondInstanceAsksAndKeepsTheLogs()
    {
        TestEnv env;
        KivoApplication first;
        QCOMPARE(first.start(testOptions()), KivoApplication::Result::Started);
        writeLog(appLogFile(), QStringLiteral("first instance line"));

        KivoApplication declined;
        QCOMPARE(declined.start(testOptions(false)), KivoApplication::Result::Declined);
        QVERIFY(readFile(env.appDataDir() + "/debug.log").contains("first instance line"));

        KivoApplication second;
        QCOMPARE(second.start(testOptions(true)), KivoApplication::Result::Started);
        QVERIFY(second.isSecondInstance());
        const QString log = readFile(env.appDataDir() + "/debug.log");
        QVERIFY(log.contains("first instance line"));
        QCOMPARE(log.count(" - Start KiVO"), 2);
    }

    // A file that is no database, and one whose track table is damaged while its schema reads
    // well, stop the start with a message and stay byte for byte; a read-only one opens, says
    // so, refuses changes and leaves no file beside it.
    void unusableDatabasesAreToldAndKeptAsTheyAre_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not a database") << "garbage";
        QTest::newRow("damaged table") << "damaged";
        QTest::newRow("read-only") << "readonly";
    }
    void unusableDatabasesAreToldAndKeptAsTheyAre()
    {
        QFETCH(QString, kind);
        TestEnv env;
        QDir().mkpath(env.appDataDir());
        const QString path = env.appDataDir() + "/kivo.db";
        if (kind == "garbage") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(4096, 'x')) == 4096);
        } else {
            QList<track> tracks;
            for (int i = 0; i < 400; ++i) {
                track t{};
                t.filepath = env.makePath(QString("music/%1.mp3").arg(i));
                QFile(t.filepath).open(QIODevice::WriteOnly);
                t.trackname = QString("Song %1 with a title long enough to fill pages").arg(i);
                t.albumname = "Album";
                tracks << t;
            }
            Database db;
            QVERIFY(db.open("KivoData", true) && db.initStructure() && kivoDB().insertTracks(tracks));
            QSqlQuery query(db.handle());
            QVERIFY(query.exec("SELECT rootpage FROM sqlite_master WHERE name = 'tracks'") && query.next());
            const qint64 rootPage = query.value(0).toLongLong();
            QVERIFY(query.exec("PRAGMA page_size") && query.next());
            const qint64 pageSize = query.value(0).toLongLong();
            query.finish();
            Database::close();
            QSqlDatabase::removeDatabase("KivoData");
            if (kind == "damaged") {
                QFile file(path);
                QVERIFY(file.open(QIODevice::ReadWrite) && file.seek((rootPage - 1) * pageSize));
                file.write(QByteArray(int(pageSize), char(0x5a)));
            } else {
                QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
            }
        }
        const QByteArray hash = QCryptographicHash::hash(bytesOf(path), QCryptographicHash::Sha256);

        QStringList errors;
        KivoApplication app;
        const KivoApplication::Result result = app.start(testOptions(false, &errors));
        if (kind == "readonly") {
            QCOMPARE(result, KivoApplication::Result::Started);
            QObject *root = app.viewer()->rootObject();
            QCOMPARE(root->findChild<QObject *>("messageText")->property("text").toString(),
                MessageHandler().readOnlyLibrary);
            QVERIFY(QTest::qWaitFor([&] { return !app.controller()->isLoading(); }, 30000));
            QCOMPARE(app.controller()->library().size(), 400);
            QSignalSpy told(app.controller(), &manager::sgShowMessage);
            app.controller()->slAddToLibrary(true);
            app.controller()->slRemoveFromLibrary(QVariantList{app.controller()->library().firstKey()});
            QCOMPARE(told.size(), 2);
            QCOMPARE(told.last().first().toString(), MessageHandler().readOnlyLibrary);
        } else if (kind == "damaged") {
            // Checking the whole file is left to the first load, so the window is not held up;
            // nothing is written before the check fails.
            QCOMPARE(result, KivoApplication::Result::Started);
            QVERIFY(QTest::qWaitFor([&] { return !app.storeFailure().isEmpty(); }, 30000));
            QCOMPARE(errors, QStringList{app.storeFailure()});
            QVERIFY2(errors.first().contains("damaged"), qPrintable(errors.first()));
        } else {
            QCOMPARE(result, KivoApplication::Result::DatabaseFailed);
            QCOMPARE(errors.size(), 1);
            QVERIFY2(errors.first().contains(kind == "damaged" ? "damaged" : "not a database"),
                qPrintable(errors.first()));
        }
        app.shutdown();
        QCOMPARE(QCryptographicHash::hash(bytesOf(path), QCryptographicHash::Sha256), hash);
        if (kind == "readonly")
            QVERIFY(!QFileInfo::exists(path + "-wal") && !QFileInfo::exists(path + "-shm"));
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    // A library of a few hundred tracks: 3 artists, 30 albums of 10 tracks and 2 playlists.
    void modelsAreBuiltFromTheLibrary()
    {
        TestEnv env;
        QList<track> tracks;
        const AppPaths paths;
        for (int i = 0; i < 310; ++i) {
            track t = paths.clearTrack(track());
            t.filepath = env.makePath(QStringLiteral("media/%1.mp3").arg(i));
            QFile file(t.filepath);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            const int album = i / 10;
            t.artistname = QStringLiteral("Artist %1").arg(album % 3);
            t.albumname = QStringLiteral("Album %1").arg(album, 2, 10, QLatin1Char('0'));
            t.trackname = QStringLiteral("Song %1").arg(i);
            t.genre = "Rock";
            t.codec = "mp3";
            t.duration = 125;
            t.bitrate = 192;
            if (i >= 300)
                t.playlist = i % 2 ? "Road Trip" : "Chill";
            tracks << t;
        }
        {
            Database db;
            QVERIFY(db.open("KivoData", true));
            QVERIFY(db.initStructure());
            QVERIFY(kivoDB().insertTracks(tracks));
            Database::close();
        }

        // The window comes up while the library is still being read.
        QSemaphore loadMayGo;
        manager::loadGate = [&loadMayGo] { loadMayGo.acquire(); };
        KivoApplication app;
        QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
        const manager *mgr = app.controller();
        QVERIFY(app.viewer()->rootObject());
        QVERIFY(mgr->isLoading());
        QVERIFY(app.viewer()->rootObject()->property("libraryLoading").toBool());
        QVERIFY(mgr->trackModel().isEmpty());
        loadMayGo.release();
        QVERIFY(QTest::qWaitFor([mgr] { return !mgr->isLoading(); }, 30000));
        manager::loadGate = nullptr;
        QVERIFY(!app.viewer()->rootObject()->property("libraryLoading").toBool());
        QCOMPARE(mgr->library().size(), 310);
        QCOMPARE(mgr->trackModel().size(), 300);
        QCOMPARE(mgr->albumModel().size(), 30);
        QCOMPARE(mgr->artistModel().size(), 3);
        QCOMPARE(mgr->playlistModel().size(), 2);

        auto *artist = qobject_cast<ArtistDataModel *>(mgr->artistModel().first());
        QCOMPARE(artist->artistname(), QStringLiteral("Artist 0"));
        QCOMPARE(artist->albumCount(), 10);
        QCOMPARE(artist->trackCount(), 100);
        auto *album = qobject_cast<AlbumDataModel *>(mgr->albumModel().first());
        QCOMPARE(album->albumname(), QStringLiteral("Album 00"));
        QCOMPARE(album->trackCount(), 10);
        auto *row = qobject_cast<TrackDataModel *>(mgr->trackModel().first());
        QCOMPARE(row->duration(), QStringLiteral("2:05"));
        QCOMPARE(row->quality(), 1);
        auto *playlist = qobject_cast<TrackList *>(mgr->playlistModel().first());
        QCOMPARE(playlist->name(), QStringLiteral("Chill"));
        QCOMPARE(playlist->trackCount(), 5);

        // The front end sees the same lists, and a library with albums opens on the library page.
        QCOMPARE(
            app.viewer()->rootContext()->contextProperty("albumModel").value<QList<QObject *>>().size(), 30);
        QVERIFY(app.viewer()->rootContext()->contextProperty("isDB").toBool());

        // A changed property notifies once, an unchanged write not at all.
        QSignalSpy spy(album, &AlbumDataModel::albumnameChanged);
        album->setAlbumname("Renamed");
        album->setAlbumname("Renamed");
        QCOMPARE(spy.count(), 1);
    }

    // The window's size comes right after the start, before the first arrangement, as a window
    // manager gives it; whether the start leads to the start page or to the library, the header's
    // items (and the library's tools) stand side by side inside the window.
    void headerItemsNeverOverlap_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::newRow("1280 x 800") << QSize(1280, 800);
        QTest::newRow("1024 x 600") << QSize(1024, 600);
    }
    void headerItemsNeverOverlap()
    {
        QFETCH(QSize, size);
        TestEnv env;
        QVERIFY(makeLibrary({}));
        const QVariantMap vehicle = Combo::vehicleList().first().toMap();
        QSettings settings("MyComp", "MyApp");
        settings.setValue("MainWindows/ModelName", vehicle.value("name"));
        settings.setValue("MainWindows/ModelYearValue", vehicle.value("lastYear").toString());
        settings.sync();
        for (int run = 0; run < 20; ++run) {
            if (run == 10)
                QVERIFY(makeLibrary({libraryTrack(env.makePath("media/a.mp3"), "Artist", "Album", "Song")}));
            KivoApplication app;
            QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
            QQuickView *view = app.viewer();
            view->resize(size);
            QVERIFY(QTest::qWaitForWindowExposed(view, 20000));
            QVERIFY(QTest::qWaitFor([&] { return !app.controller()->isLoading(); }, 30000));
            // The new size comes as an event of the window system; the arrangement follows it.
            QTRY_COMPARE_WITH_TIMEOUT(view->size(), size, 20000);
            QVERIFY(QQuickTest::qWaitForPolish(view, 20000));
            QQuickItem *root = view->rootObject();
            QCOMPARE(root->property("currentPage").toString(), run < 10 ? "start" : "library");
            const QString header = overlapIn(
                placesOf(root,
                    {"headerLogo", "vehicleLabel", "addMediaButton", "libraryButton", "changeVehicleButton"}),
                size.width());
            QVERIFY2(header.isEmpty(), qPrintable(QString("start %1: %2").arg(run).arg(header)));
            if (run >= 10) {
                const QString tools = overlapIn(placesOf(root,
                                                    {"librarySearch", "librarySelectAll", "librarySelectNone",
                                                        "transferButton", "removeButton"}),
                    size.width());
                QVERIFY2(tools.isEmpty(), qPrintable(QString("start %1: %2").arg(run).arg(tools)));
            }
        }
    }

    // Lists sort without case and with numbers in order; a search ignores accents and case; an
    // opened album or playlist lists its tracks; a removal is asked about with its counts; a
    // video never shows a library folder.
    void libraryViewsOrderFindAndOpen()
    {
        TestEnv env;
        const QString root = kivoDB::libraryRoot();
        QList<track> tracks;
        const char *artists[] = {"Artist 10", "abba", "Émile", "artist 2", "Beatles"};
        for (int i = 0; i < 5; ++i) {
            track t = libraryTrack(root + QString("/Album/%1.mp3").arg(i), artists[i], "Album", "");
            t.trackname = QStringList{"Song 10", "song 9", "Rós", "Intro", "Outro"}.at(i);
            t.tracknumber = qint16(5 - i);
            tracks << t;
        }
        track entry = libraryTrack(env.makePath("own/x.mp3"), "abba", "Trip", "Rós");
        entry.playlist = "Trip";
        tracks << entry;
        track video = libraryTrack(
            root + "/Transcoded Media/Videos/clip.mp4", "Unknown Artist", "Unknown Album", "clip");
        video.isVideo = true;
        tracks << video;
        QVERIFY(makeLibrary(tracks));

        KivoApplication app;
        QCOMPARE(app.start(testOptions()), KivoApplication::Result::Started);
        manager *mgr = app.controller();
        const auto settled = [mgr] { return QTest::qWaitFor([mgr] { return !mgr->isLoading(); }, 30000); };
        QVERIFY(settled());
        const auto names = [](const QList<QObject *> &rows, const char *property) {
            QStringList list;
            for (const QObject *row : rows)
                list << row->property(property).toString();
            return list;
        };
        QCOMPARE(names(mgr->artistModel(), "artistname"),
            QStringList({"abba", "artist 2", "Artist 10", "Beatles", "Émile"}));
        QCOMPARE(names(mgr->trackModel(), "trackname"),
            QStringList({"Intro", "Outro", "Rós", "song 9", "Song 10"}));
        QCOMPARE(names(mgr->videoModel(), "subtitle"), QStringList{"Video"});

        mgr->slSearchLibrary("ROS");
        QVERIFY(settled());
        QCOMPARE(names(mgr->trackModel(), "trackname"), QStringList{"Rós"});
        mgr->slSearchLibrary("emile");
        QVERIFY(settled());
        QCOMPARE(names(mgr->artistModel(), "artistname"), QStringList{"Émile"});
        mgr->slSearchLibrary("");
        QVERIFY(settled());

        // An album lists by track number and ticks the library's own rows; a playlist its
        // entries, each with a tick of its own.
        mgr->slOpenDetail("album", "album");
        QCOMPARE(names(mgr->detailModel(), "trackname"),
            QStringList({"Outro", "Intro", "Rós", "song 9", "Song 10"}));
        QVERIFY(mgr->detailModel().first()->property("row").value<QObject *>());
        QCOMPARE(app.viewer()->rootObject()->property("detailKind").toString(), QStringLiteral("album"));
        mgr->slOpenDetail("playlist", "Trip");
        QCOMPARE(mgr->detailModel().size(), 1);
        QObject *tick = mgr->detailModel().first()->property("row").value<QObject *>();
        QVERIFY(tick && !mgr->trackModel().contains(tick));

        // Seven tracks go, six of their files from the library folder; the user's own file stays.
        QVariantList ids;
        for (const track &t : mgr->library())
            ids << t.id;
        QSignalSpy asked(mgr, &manager::sgAskRemoval);
        mgr->slConfirmRemove(ids);
        QCOMPARE(asked.size(), 1);
        QVERIFY(asked.first().first().toString().startsWith("Remove 7 tracks from the library? 6 files"));
    }

    void missingFrontEndIsReported()
    {
        TestEnv env;
        QStringList errors;
        StartOptions options = testOptions(false, &errors);
        options.qmlFile = env.root() + "/nowhere/main.qml";
        KivoApplication app;
        QCOMPARE(app.start(options), KivoApplication::Result::FrontEndFailed);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().contains("main.qml"));
    }

    // Installed, and started from a folder that has no front end: it is found beside the program.
    void frontEndFoundBesideTheProgram()
    {
        TestEnv env;
        const QString source = KIVO_SOURCE_DIR "/qml/QKiVOCorvane";
        const QString installed = env.root() + "/prefix/share/kivo/qml/QKiVOCorvane";
        QVERIFY(QDir().mkpath(installed) && QDir().mkpath(env.root() + "/prefix/bin")
            && QDir().mkpath(env.root() + "/elsewhere"));
        for (const QString &name : QDir(source).entryList(QDir::Files))
            QVERIFY(QFile::copy(source + "/" + name, installed + "/" + name));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(env.root() + "/elsewhere"));
        StartOptions options = testOptions();
        options.qmlFile = StartOptions().qmlFile;
        options.programDir = env.root() + "/prefix/bin";
        KivoApplication::Result result;
        {
            KivoApplication app;
            result = app.start(options);
            QVERIFY(result != KivoApplication::Result::Started || app.viewer()->isVisible());
        }
        QDir::setCurrent(before);
        QCOMPARE(result, KivoApplication::Result::Started);
    }

    // On a machine of one core, an add ends: its scan and the views it builds wait, on the shared
    // pool, for work of their own there.
    void addEndsOnOneCore()
    {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {"--one-core"});
        // An add that waits for itself never ends: the bound is only there to say so.
        QVERIFY(child.waitForFinished(300000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
    }
};

// The program on one core, adding two songs of the music folder: 0 once they are in the library.
static int oneCoreChild(int argc, char *argv[])
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    if (::sched_setaffinity(0, sizeof(one), &one) != 0)
        return 3;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TestEnv env;
    QApplication qt(argc, argv);
    for (const char *name : {"a", "b"}) {
        MediaAudio song;
        song.seconds = 8;
        song.bitrateKbps = 128;
        song.tags = {{"title", name}, {"album", "One Core"}};
        const QString path = env.home() + "/Music/Band/" + name + ".mp3";
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (!MediaGen::makeAudio(path, song).isEmpty())
            return 4;
    }
    KivoApplication app;
    if (app.start(testOptions()) != KivoApplication::Result::Started)
        return 2;
    QObject *root = app.viewer()->rootObject();
    const QVariantMap vehicle = Combo::vehicleList().value(0).toMap();
    QMetaObject::invokeMethod(root, "sgVehicleChosen", Q_ARG(QString, "0"),
        Q_ARG(QString, vehicle.value("name").toString()),
        Q_ARG(QString, vehicle.value("lastYear").toString()), Q_ARG(int, 0));
    QMetaObject::invokeMethod(root, "sgCheckMediaLibrary", Q_ARG(int, 0));
    manager *mgr = app.controller();
    mgr->searchInMediaSource("mymusic");
    if (!QTest::qWaitFor([mgr] { return !mgr->isSearching() && !mgr->isLoading(); }, 120000))
        return 1;
    mgr->slAddToLibrary(true);
    const bool added
        = QTest::qWaitFor([mgr] { return mgr->library().size() == 2 && !mgr->isLoading(); }, 120000);
    app.shutdown();
    return added ? 0 : 1;
}

KIVO_TEST_MAIN_WITH_CHILD(TestStartup, "--one-core", oneCoreChild)
#include "tst_startup.moc"
