#include "applog.h"
#include "apppaths.h"
#include "combo.h"
#include "database.h"
#include "datamodels.h"
#include "kivodb.h"
#include "manager.h"
#include "messagehandler.h"
#include "qmain.h"
#include "qmlapplicationviewer.h"
#include "systeminfo.h"
#include "testenv.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QQmlContext>
#include <QQuickItem>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>

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
};

KIVO_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
