#include "applog.h"
#include "apppaths.h"
#include "database.h"
#include "mediagen.h"
#include "testenv.h"
#include "track_data.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>

#include <algorithm>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString readLog()
{
    QFile file(appLogFile()->fileName);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A copy, cut to exactly `size` bytes when one is given.
void copy(const QString &from, const QString &to, qint64 size = -1)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    if (!QFile::copy(from, to) || (size >= 0 && !QFile(to).resize(size)))
        qFatal("cannot copy %s to %s", qPrintable(from), qPrintable(to));
}

QByteArray noise(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7919 + 13) % 251);
    return bytes;
}

qint64 repoRows(const QString &where = QString(), const QVariantList &values = {})
{
    QSqlQuery query(Database::threadConnection());
    if (!query.prepare(QStringLiteral("SELECT count(*) FROM TrackRepo ") + where))
        return -1;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec() && query.next() ? query.value(0).toLongLong() : -1;
}

// Keys run on one by one from the first, and each track's id is its key.
bool keysConsecutive(const TrackMap &tracks)
{
    qint64 expected = tracks.isEmpty() ? 0 : tracks.firstKey();
    for (auto it = tracks.cbegin(); it != tracks.cend(); ++it, ++expected) {
        if (it.key() != expected || it.value().id != it.key())
            return false;
    }
    return true;
}

TrackMap withPlaylist(TrackMap tracks, const QString &playlist)
{
    tracks.removeIf([&playlist](const auto &it) { return it.value().playlist != playlist; });
    return tracks;
}

QStringList paths(const TrackMap &tracks)
{
    QStringList list;
    for (const track &t : tracks)
        list << t.filepath;
    return list;
}

}  // namespace

class TestScan : public QObject
{
    Q_OBJECT

    QTemporaryDir m_sources;
    std::unique_ptr<TestEnv> m_env;
    std::unique_ptr<Database> m_database;

    QString source(const QString &name) const { return m_sources.filePath(name); }

    void openStore()
    {
        m_database = std::make_unique<Database>();
        QVERIFY2(m_database->open(QStringLiteral("KivoData"), true), qPrintable(m_database->lastError()));
        QVERIFY2(m_database->initStructure(), qPrintable(m_database->lastError()));
    }

    static QString artworkFolder() { return AppPaths::dataLocation() + AppPaths().artworkDir; }

    // A tree of `count` links to one mp3 file, `perFolder` in each folder; returns its root.
    QString linkedTree(const QString &name, int count, int perFolder)
    {
        const QString root = m_env->root() + QLatin1Char('/') + name;
        const QString original = root + QStringLiteral("/original.bin");
        copy(source(QStringLiteral("red.mp3")), original);
        for (int i = 0; i < count; ++i) {
            const QString folder = QStringLiteral("%1/Folder %2").arg(root).arg(i / perFolder);
            QDir().mkpath(folder);
            const QByteArray link = QFile::encodeName(QStringLiteral("%1/Song %2.mp3").arg(folder).arg(i));
            if (::link(QFile::encodeName(original).constData(), link.constData()) != 0)
                qFatal("cannot link %s", link.constData());
        }
        return root;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_sources.isValid());
        // Every source is larger than the 102400 bytes a track needs.
        const auto make = [this](const char *name, const char *title, const char *album, const QColor &cover,
                              double seconds = 8) {
            MediaGen::Audio media;
            media.seconds = seconds;
            media.sampleRate = 44100;
            media.bitrateKbps = 128;
            media.cover = cover.isValid();
            media.coverColor = cover;
            if (title)
                media.tags = {{"title", title}, {"album", album}, {"artist", "Band"}, {"genre", "Rock"}};
            const QString error = QString::fromLatin1(name) == "locked.m4a"
                ? MediaGen::makeProtected(source(name), media)
                : MediaGen::makeAudio(source(name), media);
            return error.isEmpty() && QFileInfo(source(name)).size() > 102400;
        };
        QVERIFY(
            make("red.mp3", "Red", "Album A", Qt::red) && make("green.m4a", "Green", "Album A", Qt::green));
        QVERIFY(
            make("blue.flac", "Blue", "Album A", Qt::blue) && make("plain.ogg", "Plain", "Album B", {}, 60));
        QVERIFY(
            make("yellow.wma", "Win", "Album B", Qt::yellow) && make("untagged.mp3", nullptr, nullptr, {}));
        QVERIFY(make("bare.mp3", "Bare", "Album C", {}) && make("locked.m4a", nullptr, nullptr, {}, 10));
        // Album C's second file carries a picture that is no image.
        copy(source("bare.mp3"), source("broken-cover.mp3"));
        QVERIFY(MediaGen::attachCover(source("broken-cover.mp3"), QByteArray(4000, 'x')).isEmpty());
        QVERIFY(MediaGen::makeVideo(source("clip.mp4"), 12).isEmpty());
        QVERIFY(QFileInfo(source("clip.mp4")).size() > 102400);
    }

    void init()
    {
        m_env = std::make_unique<TestEnv>();
        QVERIFY(m_env->isValid());
        setLogFile(appLogFile(), AppPaths().dataDir + QStringLiteral("/debug.log"));
    }

    void cleanup()
    {
        track_data reset;
        reset.systemVideoSupported = false;
        reset.videoSupported();
        m_database.reset();
        Database::close();
        m_env.reset();
    }

    void mixedTree_data()
    {
        QTest::addColumn<bool>("video");
        QTest::newRow("video not supported") << false;
        QTest::newRow("video supported") << true;
    }

    // Mixed formats, tagged and untagged, bad files, excluded folders and playlists of every kind.
    void mixedTree()
    {
        QFETCH(bool, video);
        openStore();
        const QString root = m_env->root() + QStringLiteral("/Music");
        QString red, green, blue, plain, win, bare, brokenCover, untagged, edge, over, clip, locked, itunes,
            kept;
        const QList<std::tuple<QString *, const char *, const char *, qint64>> files = {
            {&red, "red.mp3", "Album A/01 Red.mp3", -1}, {&green, "green.m4a", "Album A/02 Green.m4a", -1},
            {&blue, "blue.flac", "Album A/03 Blue.flac", -1},
            {&plain, "plain.ogg", "Album B/01 Plain.ogg", -1}, {&win, "yellow.wma", "Album B/02 Win.wma", -1},
            {&bare, "bare.mp3", "Album C/01 Bare.mp3", -1},
            {&brokenCover, "broken-cover.mp3", "Album C/02 Broken.mp3", -1},
            {&untagged, "untagged.mp3", "Loose/untagged.mp3", -1},
            {&edge, "red.mp3", "Loose/edge 102400.mp3", 102400},
            {&over, "red.mp3", "Loose/edge 102401.mp3", 102401}, {&clip, "clip.mp4", "Video/clip.mp4", -1},
            {&locked, "locked.m4a", "Locked/locked.m4a", -1},
            {&itunes, "red.mp3", "iTunes/iTunes Media/Music/itunes.mp3", -1},
            {&kept, "red.mp3", "Corvane Zorad Urizaderi/Kept/kept.mp3", -1}};
        for (const auto &[target, from, relative, size] : files) {
            *target = root + "/" + relative;
            copy(source(from), *target, size);
        }
        write(root + "/Loose/empty.mp3", QByteArray());
        write(root + "/Loose/noise.flac", noise(150000));
        write(root + "/Loose/letter.mp3", QByteArray(150000, 'a'));
        write(root + "/Loose/notes.txt", "not media");
        write(root + "/Video/junk.avi", QByteArray(150000, 'a'));
        write(root + "/Corvane Zorad Urizaderi/Kept/Hidden.m3u", red.toUtf8());
        write(root + "/Lists/Road Trip.m3u",
            ("#EXTM3U\n" + red + "\n../Album B/01 Plain.ogg\n..\\Album A\\02 Green.m4a\n"
                + "http://example.com/stream.mp3\n" + root + "/Missing/gone.mp3\n" + edge + "\n" + itunes
                + "\n" + clip + "\n" + locked + "\n" + root + "/Loose/notes.txt\nC:\\Music\\gone.mp3\n")
                .toUtf8());
        write(root + "/Lists/Mix.pls", ("[playlist]\nFile1=" + red + "\nNumberOfEntries=1\n").toUtf8());
        write(root + "/Lists/broken.m3u8", noise(3000));
        write(root + "/Lists/live.m3u8", ("#EXTM3U\n#EXT-X-TARGETDURATION:10\n" + red + "\n").toUtf8());
        write(root + "/Lists/Other.xspf", "<?xml version=\"1.0\"?><playlist/>");

        track_data scanner;
        scanner.systemVideoSupported = video;
        scanner.videoSupported();
        const TrackMap tracks = scanner.scanFolder(QDir(root));

        // In the tree: nine tracks (ten with video). From "Road Trip": five (six). From "Mix": one.
        const TrackMap plainFiles = withPlaylist(tracks, QStringLiteral(""));
        const TrackMap roadTrip = withPlaylist(tracks, QStringLiteral("Road Trip"));
        const TrackMap mix = withPlaylist(tracks, QStringLiteral("Mix"));
        QCOMPARE(tracks.size(), video ? 17 : 15);
        QCOMPARE(plainFiles.size() + roadTrip.size() + mix.size(), tracks.size());
        QVERIFY(keysConsecutive(tracks));

        // Plain files are keyed in the order of their folders' and their own names.
        const QStringList expectedTree
            = QStringList({red, green, blue, plain, win, bare, brokenCover, over, untagged})
            + (video ? QStringList{clip} : QStringList());
        QCOMPARE(paths(plainFiles), expectedTree);

        // A playlist's members follow one another in the playlist's order; relative entries and
        // Windows separators are resolved; the 102400-byte file and the iTunes folder's file are
        // taken from a playlist; URLs, missing files and other files are not.
        QCOMPARE(paths(roadTrip),
            QStringList({red, plain, green, edge, itunes}) + (video ? QStringList{clip} : QStringList()));
        QVERIFY(keysConsecutive(roadTrip));
        QCOMPARE(paths(mix), QStringList({red}));

        for (const track &t : roadTrip)
            QVERIFY(t.albumname == QLatin1String("Road Trip") && t.playlistId == t.album_id && !t.isVideo);
        if (video) {
            const track movie = plainFiles.values().at(expectedTree.indexOf(clip));
            QVERIFY(movie.isVideo && movie.duration == 12.0 && QFile::exists(movie.cover));
        }

        // Protected files are listed, once per time they are met, in walk order.
        QCOMPARE(scanner.protectedFiles(), QStringList({locked, locked}));

        // One cover per album: the first file of the album in walk order that carries a picture
        // ("edge 102401.mp3" is a copy of the red file and belongs to Album A as well).
        const QString albumA = artworkFolder() + "/Album A.png";
        const QColor colourA = Qt::red;
        QCOMPARE(QColor(QImage(albumA).pixel(5, 5)), colourA);
        for (const track &t : plainFiles)
            QVERIFY(t.albumname != QLatin1String("Album A") || (t.cover == albumA && t.hasCover));
        QCOMPARE(QDir(artworkFolder()).entryList({"Album A*"}, QDir::Files).size(), 1);
        for (const track &t : plainFiles)
            QVERIFY(t.albumname != QLatin1String("Album B")
                || (t.cover == artworkFolder() + "/Album B.png" && t.hasCover));
        // Album C's only picture is no image: asked for whatever the order, it gives no cover.
        const QString log = readLog();
        QVERIFY(log.contains("Embedded cover does not decode: " + brokenCover));

        // Untagged: the file name is the title.
        const track loose = plainFiles.values().at(expectedTree.indexOf(untagged));
        QVERIFY(loose.trackname == QLatin1String("untagged") && loose.missingMediaData);

        // Nothing from the library's own folder, not even its playlist.
        for (const track &t : tracks)
            QVERIFY(!t.filepath.contains("Corvane Zorad Urizaderi") && t.playlist != QLatin1String("Hidden"));

        // Bad items are skipped with a line each.
        for (const QString &line : {"too small to be a track: " + root + "/Loose/empty.mp3",
                 QStringLiteral("Tag read failed"), root + "/Loose/noise.flac", root + "/Loose/letter.mp3",
                 QStringLiteral("no local file: http://example.com/stream.mp3"),
                 "whose file is missing: " + root + "/Missing/gone.mp3",
                 QStringLiteral("whose file is missing: C:/Music/gone.mp3"),
                 "without entries it can read: " + root + "/Lists/broken.m3u8",
                 "without entries it can read: " + root + "/Lists/Other.xspf",
                 "a streaming manifest: " + root + "/Lists/live.m3u8", "Protected media file: " + locked})
            QVERIFY2(log.contains(line), qPrintable(line));
        QCOMPARE(log.contains("a video file in which ffprobe finds no stream: " + root + "/Video/junk.avi"),
            video);

        // Every track is in the repository cache, each file once per playlist.
        QCOMPARE(repoRows(), qint64(tracks.size()));
        // One file in the tree and in two playlists gives three tracks.
        QCOMPARE(repoRows("WHERE filepath = ?", {red}), qint64(3));
        QCOMPARE(repoRows("WHERE filepath = ? AND Playlist = ?", {edge, "Road Trip"}), qint64(1));
        QCOMPARE(repoRows("WHERE filepath = ? AND Playlist = ''", {edge}), qint64(0));
    }

    // Links back up the tree, to themselves or nowhere, an unreadable folder and a missing root
    // never trap or stop the walk; what cannot be read is passed over with a line.
    void awkwardTrees()
    {
        track_data scanner;
        QVERIFY(scanner.scanFolder(QDir(m_env->root() + "/no such folder")).isEmpty());
        QVERIFY(readLog().contains("a folder that does not exist"));

        const QString root = m_env->root() + QStringLiteral("/Links");
        copy(source("red.mp3"), root + "/Album/song.mp3");
        const QList<std::pair<QString, QString>> links = {{root, "Album/loop"},
            {root + "/Album", "Album/Deeper/back"}, {"self.mp3", "Album/self.mp3"},
            {root + "/nowhere.mp3", "Album/dangling.mp3"}, {root + "/Album/song.mp3", "Other/linked.mp3"}};
        for (const auto &[target, link] : links) {
            QDir().mkpath(QFileInfo(root + "/" + link).absolutePath());
            QVERIFY(QFile::link(target, root + "/" + link));
        }
        copy(source("red.mp3"), root + "/Closed/song.mp3");
        QVERIFY(QFile::setPermissions(root + "/Closed", QFileDevice::Permissions()));
        const bool readable = QDir(root + "/Closed").entryList(QDir::Files).size() > 0;  // as root

        QFuture<TrackMap> scan
            = QtConcurrent::run([&scanner, root] { return scanner.scanFolder(QDir(root)); });
        QDeadlineTimer deadline(20000);
        while (!scan.isFinished() && !deadline.hasExpired())
            QThread::msleep(10);
        QVERIFY2(scan.isFinished(), "the scan did not end");
        QFile::setPermissions(
            root + "/Closed", QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QStringList found = paths(scan.result());
        found.sort();
        QStringList expected = {root + "/Album/song.mp3", root + "/Other/linked.mp3"};
        if (readable)
            expected.insert(1, root + "/Closed/song.mp3");
        QCOMPARE(found, expected);
        QVERIFY(readable || readLog().contains("a folder that cannot be read: " + root + "/Closed"));
    }

    // Folders and files are walked in natural name order whatever order the file system keeps, so
    // scan keys (and the library ids an add gives) follow what a person sees.
    void walksInNameOrder()
    {
        const QString root = m_env->root() + QStringLiteral("/Ordered");
        QStringList expected;
        for (const char *album : {"Album 2", "Album 10"}) {
            for (int i = 1; i <= 12; ++i)
                expected << QStringLiteral("%1/%2/%3 Song.mp3").arg(root, album).arg(i);
        }
        QStringList shuffled = expected;
        std::reverse(shuffled.begin(), shuffled.end());
        std::rotate(shuffled.begin(), shuffled.begin() + 7, shuffled.end());
        for (const QString &file : std::as_const(shuffled))
            copy(source("bare.mp3"), file);

        track_data scanner;
        const TrackMap tracks = scanner.scanFolder(QDir(root));
        QStringList found;
        for (const track &t : tracks)
            found << t.filepath;
        QCOMPARE(found, expected);
    }

    // An album takes its cover from the first of its files that carries one, however late in the
    // walk it comes; an album whose files carry none takes its folder's "folder.jpg", even when a
    // playlist lists one of its files.
    void albumCovers()
    {
        const QString root = m_env->root() + QStringLiteral("/Covers");
        for (int i = 0; i < 4; ++i)
            copy(source("bare.mp3"), QStringLiteral("%1/Late/%2.mp3").arg(root).arg(i));
        QVERIFY(MediaGen::attachCover(root + "/Late/3.mp3", MediaGen::coverPng(Qt::magenta)).isEmpty());
        copy(source("plain.ogg"), root + "/Plain/01.ogg");
        copy(source("plain.ogg"), root + "/Plain/02.ogg");
        QImage art(20, 20, QImage::Format_RGB32);
        art.fill(Qt::darkGreen);
        QVERIFY(art.save(root + "/Plain/folder.jpg"));
        write(root + "/Mine.m3u", "Plain/02.ogg\n");

        track_data scanner;
        const TrackMap tracks = scanner.scanFolder(QDir(root));
        QCOMPARE(tracks.size(), 7);
        for (const track &t : tracks) {
            if (!t.playlist.isEmpty())
                continue;
            const QString cover
                = artworkFolder() + (t.albumname == "Album C" ? "/Album C.png" : "/Album B.png");
            QVERIFY2(t.cover == cover && t.hasCover && !t.missingMediaData, qPrintable(t.filepath));
        }
        QCOMPARE(QColor(QImage(artworkFolder() + "/Album C.png").pixel(5, 5)), QColor(Qt::magenta));
        const QColor folderArt = QImage(artworkFolder() + "/Album B.png").pixelColor(5, 5);
        QVERIFY(folderArt.red() < 8 && qAbs(folderArt.green() - 128) < 8 && folderArt.blue() < 8);
    }

    // A stop request before the scan walks nothing; one from another thread ends the walk, and
    // what was found is returned and cached; the next scan goes on with the next keys.
    void cancel()
    {
        openStore();
        const int total = 3000;
        const QString root = linkedTree(QStringLiteral("Long"), total, 10);
        // Two playlists the walk cannot open until the test opens their other ends, after the 1510
        // songs of the folders before them: the stop comes once the walk is past the first, so it
        // ends there or at the second, however slow the machine. A pipe itself is not listed; a
        // link to one is.
        QList<QByteArray> gates;
        for (const QString &name : {QStringLiteral("gate 1"), QStringLiteral("gate 2")}) {
            gates << QFile::encodeName(root + "/" + name);
            QVERIFY(::mkfifo(gates.last().constData(), 0644) == 0);
            QVERIFY(QFile::link(root + "/" + name, root + "/Folder 150/zz " + name + ".m3u"));
        }
        track_data scanner;
        scanner.cancelSearch = true;
        QVERIFY(scanner.scanFolder(QDir(root)).isEmpty());
        QCOMPARE(repoRows(), qint64(0));
        scanner.cancelSearch = false;
        QFuture<TrackMap> scan
            = QtConcurrent::run([&scanner, root] { return scanner.scanFolder(QDir(root)); });
        // Opened without waiting only once the walk holds the other end, which lets it go on.
        const auto letThrough = [&scan](const QByteArray &gate) {
            int writer = -1;
            while (writer < 0 && !scan.isFinished()) {
                writer = ::open(gate.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (writer < 0)
                    QThread::usleep(500);
            }
            if (writer >= 0)
                ::close(writer);
        };
        letThrough(gates.at(0));
        scanner.cancelSearch = true;
        letThrough(gates.at(1));
        const TrackMap tracks = scan.result();
        QVERIFY2(
            tracks.size() == 1510 && keysConsecutive(tracks), qPrintable(QString::number(tracks.size())));
        QCOMPARE(repoRows(), qint64(tracks.size()));

        scanner.cancelSearch = false;
        const TrackMap next = scanner.scanFolder(QDir(linkedTree(QStringLiteral("Next"), 3, 3)));
        QVERIFY(next.size() == 3 && next.firstKey() == tracks.lastKey() + 1 && keysConsecutive(next));
        QCOMPARE(next.first().album_id, tracks.first().album_id);
        QCOMPARE(repoRows(), qint64(tracks.size() + 3));
    }
};

KIVO_TEST_MAIN(TestScan)
#include "tst_scan.moc"
