#include "apppaths.h"
#include "database.h"
#include "kivodb.h"
#include "testenv.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

// Every row of the repository cache and of the tables it adds to, in id order.
QStringList dump()
{
    QStringList rows;
    for (const char *table : {"TrackRepo", "artistsRepo", "albumsRepo", "genres", "years"}) {
        QSqlQuery query(Database::threadConnection());
        if (!query.exec(QStringLiteral("SELECT * FROM %1 ORDER BY id").arg(QLatin1String(table)))) {
            rows << QStringLiteral("cannot read ") + QLatin1String(table);
            continue;
        }
        while (query.next()) {
            QStringList values;
            for (int i = 0; i < query.record().count(); ++i)
                values << (query.value(i).isNull() ? QStringLiteral("NULL") : query.value(i).toString());
            rows << QLatin1String(table) + QStringLiteral(": ") + values.join(QLatin1Char('|'));
        }
    }
    return rows;
}

}  // namespace

class TestKivoDBRepoBatch : public QObject
{
    Q_OBJECT

    // Scanned tracks that exercise every rule of the cache: names with quotes, albums that differ
    // only in case, covers that exist, are missing or are the placeholder, repeated files.
    static QList<track> tracks(const QString &coverFolder)
    {
        const AppPaths paths;
        auto make = [&paths](const QString &file, const QString &album, const QString &artist) {
            track t = paths.clearTrack(track{});
            t.folderLocation = QStringLiteral("/music/Folder");
            t.filepath = t.originalPath = t.folderLocation + QLatin1Char('/') + file;
            t.filename = file;
            t.trackname = QStringLiteral(" Title of ") + file + QLatin1Char(' ');
            t.albumname = album;
            t.artistname = artist;
            t.genre = QStringLiteral("Rock");
            t.year = 1999;
            t.bitrate = 192;
            t.cover = paths.noArtworkUrl;
            return t;
        };
        const QString albumCover = coverFolder + QStringLiteral("/Album's Best.png");
        const QString otherCover = coverFolder + QStringLiteral("/Other.png");
        QList<track> list;
        list << make("a.mp3", "Album's Best", "Guns N' Roses");
        list.last().cover = albumCover;
        list << make("b.mp3", "ALBUM'S BEST", "Guns N' Roses");
        list.last().cover = otherCover;
        list << make("c.mp3", "album's best", "Other");
        list.last().cover = albumCover;
        list.last().year = 2001;
        list << make("d.mp3", "Unknown Album", "Unknown Artist");
        list << make("e.mp3", "Unknown Album", "Unknown Artist");
        list.last().cover = albumCover;
        list << make("f.mp3", "100% Hits_", "Band");
        list.last().cover = coverFolder + QStringLiteral("/missing.png");
        list << list.first();
        list << list.first();
        list.last().playlist = QStringLiteral("Road Trip");
        list << make("clip.mp4", "Films", "Studio");
        list.last().isVideo = true;
        list.last().cover = coverFolder + QStringLiteral("/clip.png");
        list.last().genre = QStringLiteral("Jazz");
        list << make("g.mp3", "Album's Best", "Guns N' Roses");
        list.last().cover = albumCover;
        return list;
    }

    QStringList store(bool batch)
    {
        TestEnv env;
        Database database;
        if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure())
            return {QStringLiteral("no store: ") + database.lastError()};
        const QString folder = env.root() + QStringLiteral("/covers");
        QDir().mkpath(folder);
        for (const char *name : {"Album's Best.png", "Other.png", "clip.png"}) {
            QFile file(folder + QLatin1Char('/') + QLatin1String(name));
            file.open(QIODevice::WriteOnly);
            file.write("png");
        }
        kivoDB db;
        const QList<track> list = tracks(folder);
        if (batch) {
            // In two batches, as the scan hands them over.
            if (!db.saveToRepoBatch(list.mid(0, 5)) || !db.saveToRepoBatch(list.mid(5)))
                return {QStringLiteral("batch failed: ") + kivoDB::lastError()};
        } else {
            for (const track &t : list) {
                if (!db.saveToRepo(t))
                    return {QStringLiteral("save failed: ") + kivoDB::lastError()};
            }
        }
        QStringList rows = dump();
        rows.replaceInStrings(env.root(), QStringLiteral("<root>"));
        Database::close();
        return rows;
    }

private slots:
    // A batch leaves the same rows as storing the tracks one by one.
    void sameRowsAsOneByOne()
    {
        const QStringList single = store(false);
        const QStringList batched = store(true);
        QVERIFY(single.size() > 10);
        QCOMPARE(batched, single);
    }

    void emptyBatch()
    {
        kivoDB db;
        QVERIFY(db.saveToRepoBatch({}));
    }

    // Without a library file nothing is stored and the failure is told.
    void noStore()
    {
        Database::close();
        kivoDB db;
        QVERIFY(!db.saveToRepoBatch(tracks(QStringLiteral("/nowhere"))));
        QVERIFY(!kivoDB::lastError().isEmpty());
    }
};

KIVO_TEST_MAIN(TestKivoDBRepoBatch)
#include "tst_kivodb_repobatch.moc"
