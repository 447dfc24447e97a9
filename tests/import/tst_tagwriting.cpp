#include "applog.h"
#include "apppaths.h"
#include "mediagen.h"
#include "taglibbuilder.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}
}  // namespace

class TestTagWriting : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The track a scan would have built from the file's own tags.
    track trackOf(const QString &file)
    {
        track_data data;
        tagInfo info;
        track t = AppPaths().clearTrack(track{});
        if (!data.readFileTags(info, file))
            return t;
        data.applyTagInfo(t, info);
        t.filepath = file;
        t.hasTitle = !t.trackname.isEmpty();
        return t;
    }

    // Only our own files are in the folder: no copy is left behind.
    static QStringList leftovers(const QString &folder)
    {
        return QDir(folder).entryList({".kivo-tags-*"}, QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
    }

    void unicodeRoundTrip_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("artist");
        QTest::addColumn<QString>("album");
        for (const char *suffix : {"mp3", "m4a", "wma"}) {
            const QString s = QString::fromLatin1(suffix);
            QTest::newRow(qPrintable(s + " cyrillic"))
                << s << QStringLiteral("Пісня без кінця") << QStringLiteral("Кино")
                << QStringLiteral("Группа крови");
            QTest::newRow(qPrintable(s + " cjk"))
                << s << QStringLiteral("春の歌") << QStringLiteral("坂本龍一") << QStringLiteral("音楽図鑑");
            QTest::newRow(qPrintable(s + " emoji"))
                << s << QStringLiteral("Road 🚗 Trip") << QStringLiteral("😀 Band") << QStringLiteral("Mix 🎵🎶");
        }
    }

    // Texts outside Latin-1 go into the file and come back unchanged; the audio is kept.
    void unicodeRoundTrip()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, title);
        QFETCH(QString, artist);
        QFETCH(QString, album);
        MediaGen::Audio media;
        media.tags = {{"title", "Old"}, {"artist", "Old Artist"}, {"album", "Old Album"}};
        const QString file
            = m_dir.filePath(QStringLiteral("Запис 録音 %1.%2").arg(QTest::currentDataTag(), suffix));
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());

        track t = trackOf(file);
        t.trackname = title;
        t.artistname = artist;
        t.albumname = album;
        t.genre = QStringLiteral("Поп");
        t.year = 2024;
        t.tracknumber = 12;
        t.hasTitle = t.hasArtist = t.hasAlbum = true;
        TagLibBuilder builder;
        QVERIFY(builder.saveTags(t));

        const track back = trackOf(file);
        QCOMPARE(back.trackname, title);
        QCOMPARE(back.artistname, artist);
        QCOMPARE(back.albumname, album);
        QCOMPARE(back.genre, QStringLiteral("Поп"));
        QCOMPARE(back.year, qint16(2024));
        QCOMPARE(back.tracknumber, qint16(12));
        QCOMPARE(back.duration, 1.0);
        QCOMPARE(back.frequency, qint64(22050));
        QVERIFY(leftovers(m_dir.path()).isEmpty());
    }

    // Placeholders for missing data are never written over what the file holds.
    void flagsGuardTexts()
    {
        MediaGen::Audio media;
        media.tags = {{"title", "Kept Title"}, {"artist", "Kept Artist"}, {"album", "Kept Album"},
            {"genre", "Soul"}, {"date", "1980"}, {"track", "4"}};
        const QString file = m_dir.filePath("guard.mp3");
        QVERIFY(MediaGen::makeAudio(file, media).isEmpty());
        track t = trackOf(file);
        t.trackname = QStringLiteral("Track 01");
        t.hasTitle = false;
        t.artistname = QStringLiteral("Unknown Artist");
        t.hasArtist = false;
        t.albumname = QStringLiteral("");
        t.hasAlbum = true;
        t.genre = QStringLiteral("Unknown Genre");
        t.year = 0;
        t.tracknumber = 0;
        QVERIFY(TagLibBuilder().saveTags(t));
        const track back = trackOf(file);
        QCOMPARE(back.trackname, QStringLiteral("Kept Title"));
        QCOMPARE(back.artistname, QStringLiteral("Kept Artist"));
        QCOMPARE(back.albumname, QStringLiteral("Kept Album"));
        QCOMPARE(back.genre, QStringLiteral("Soul"));
        QCOMPARE(back.year, qint16(1980));
        QCOMPARE(back.tracknumber, qint16(4));
    }

    // A save that cannot complete leaves the original byte for byte.
    void failedSaveKeepsOriginal_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QByteArray garbage(20000, '\0');
        for (int i = 0; i < garbage.size(); ++i)
            garbage[i] = char((i * 31 + 7) % 253);
        QTest::newRow("garbage mp3") << "bad.mp3" << garbage;
        QTest::newRow("garbage m4a") << "bad.m4a" << garbage;
        QTest::newRow("garbage wma") << "bad.wma" << garbage;
        QTest::newRow("empty mp3") << "empty.mp3" << QByteArray();

        const QString source = m_dir.filePath("source.m4a");
        QVERIFY(MediaGen::makeAudio(source).isEmpty());
        const QByteArray m4a = fileBytes(source);
        QTest::newRow("cut m4a") << "cut.m4a" << m4a.left(m4a.size() / 2);
    }

    void failedSaveKeepsOriginal()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const QString folder = m_dir.filePath("failing");
        QDir().mkpath(folder);
        const QString file = folder + "/" + name;
        {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(bytes);
        }
        track t = AppPaths().clearTrack(track{});
        t.filepath = file;
        t.trackname = QStringLiteral("New");
        t.hasTitle = true;
        QVERIFY(!TagLibBuilder().saveTags(t));
        QCOMPARE(fileBytes(file), bytes);
        QVERIFY(leftovers(folder).isEmpty());
        QVERIFY(readLog().contains(file));
    }

    // Formats the writer does not handle, and missing files, are left alone.
    void otherFormatsLeftAlone()
    {
        const QString flac = m_dir.filePath("alone.flac");
        MediaGen::Audio media;
        media.tags = {{"title", "Alone"}};
        QVERIFY(MediaGen::makeAudio(flac, media).isEmpty());
        const QByteArray before = fileBytes(flac);
        track t = trackOf(flac);
        t.trackname = QStringLiteral("Changed");
        QVERIFY(!TagLibBuilder().saveTags(t));
        QCOMPARE(fileBytes(flac), before);

        t.filepath = m_dir.filePath("missing.mp3");
        QVERIFY(!TagLibBuilder().saveTags(t));
        QVERIFY(!QFile::exists(t.filepath));
    }
};

KIVO_TEST_MAIN(TestTagWriting)
#include "tst_tagwriting.moc"
