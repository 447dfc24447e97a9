// The arrange mode of bench_transfer: what it costs to put a stick's folders back in play order
// when a later transfer adds to them.
//
// Albums: 20 songs each onto a fresh FAT image, then one more song in the middle of each album,
// then a new album whose name sorts before the others (see bench_transfer.cpp).
//
// A big folder: one album of 1 001 songs with names of 41 characters, the first of them left out
// of a first whole transfer; the user then puts a file of their own into the album folder by
// hand, and a second transfer brings the first song alone, so it lands last, after the user's
// file, and every song must move out and back in play order. Each transfer is timed, and so is
// arranging; FolderOrder::stepHook counts the renames and the plugs that hold the slots freed
// among the user's entries meanwhile.

#include "bench_transfer.h"

#include "fatimage.h"
#include "folderorder.h"
#include "parkingrecord.h"
#include "textorder.h"

#include <QElapsedTimer>
#include <QMap>

#include <algorithm>
#include <cstdio>
#include <utility>

using namespace transferbench;

namespace {

// Names as the run orders album files of equal numbers and the album folders.
QStringList playOrder(QStringList names)
{
    const QCollator collator = nameCollator();
    std::sort(names.begin(), names.end(), [&collator](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

// A folder of the image ("" for its root) in the order of its slots, which is the order the car
// plays it in, read from the image file, not the mount.
QStringList slotOrder(const QString &image, const QString &folder)
{
    QStringList names;
    for (const fatimage::Slot &slot : fatimage::slotsOf(image, folder))
        names << slot.name;
    if (names.isEmpty())
        fail(QStringLiteral("the image's folder /%1 cannot be read").arg(folder));
    return names;
}

// Fails unless each album's songs stand by name, the album folders by the collator, and no hidden
// folder of an arrange is left in the root. `albums`: the song names each album should hold.
void checkOrder(const QString &image, const QMap<QString, QStringList> &albums, const QString &after)
{
    const QString media = QStringLiteral("Bench Media");
    for (auto it = albums.cbegin(); it != albums.cend(); ++it) {
        QStringList played;
        for (const QString &name : slotOrder(image, media + QLatin1Char('/') + it.key())) {
            if (name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
                played << name;
        }
        if (played != playOrder(it.value()))
            fail(QStringLiteral("after the %1, %2 plays %3")
                     .arg(after, it.key(), played.join(QStringLiteral(", "))));
    }
    QStringList folders;
    for (const QString &name : slotOrder(image, media)) {
        if (!name.startsWith(QLatin1Char('.')))
            folders << name;
    }
    if (folders != playOrder(albums.keys()))
        fail(QStringLiteral("after the %1, the media folder holds %2")
                 .arg(after, folders.join(QStringLiteral(", "))));
    for (const QString &name : slotOrder(image, {})) {
        if (name.startsWith(QLatin1String(".kivo"), Qt::CaseInsensitive))
            fail(QStringLiteral("after the %1, %2 is left in the root").arg(after, name));
    }
}

// Fails unless the transfer of `tracks` ended Completed, every file copied and nothing failed.
void checkCompleted(const Outcome &o, const TrackMap &tracks, const QString &what)
{
    if (o.report.stop != TransferReport::Completed || o.report.copied != int(tracks.size())
        || !o.report.failures.isEmpty())
        fail(QStringLiteral("the %1 copied %2 of %3 files and ended with stop %4 (%5)%6")
                 .arg(what)
                 .arg(o.report.copied)
                 .arg(tracks.size())
                 .arg(int(o.report.stop))
                 .arg(o.report.stopReason,
                     o.report.failures.isEmpty()
                         ? QString()
                         : QStringLiteral("; ") + o.report.failures.join(QStringLiteral("; "))));
}

// The time a run spends arranging: from each sgArranging to the signal after it. The run emits on
// the calling thread, so the lambdas are called directly.
struct ArrangeClock {
    QElapsedTimer since;
    bool arranging = false;
    double ms = 0;
    int folders = 0;

    void end()
    {
        if (arranging)
            ms += since.nsecsElapsed() / 1e6;
        arranging = false;
    }
    void watch(ffmpeghandler &handler)
    {
        QObject::connect(&handler, &ffmpeghandler::sgArranging, [this](const QString &) {
            end();
            ++folders;
            arranging = true;
            since.start();
        });
        QObject::connect(&handler, &ffmpeghandler::incrementProgress, [this](const QString &) { end(); });
        QObject::connect(&handler, &ffmpeghandler::sgWritingToDrive, [this] { end(); });
        // Only a run that did not reach the flush ends here, and that fails the bench anyway.
        QObject::connect(
            &handler, &ffmpeghandler::sgTransferFinished, [this](const TransferReport &) { end(); });
    }
};

int arrangeAlbums(const TestEnv &env, int files, int runs)
{
    const QString noFat = FatTarget::unavailable();
    if (!noFat.isEmpty()) {
        std::printf("arrange: FAT image: skipped, %s\n", qPrintable(noFat));
        return 0;
    }
    // Whole albums, so each has a middle.
    const int albums = std::max(1, files / 20);
    files = albums * 20;
    const QString targets = qEnvironmentVariable("KIVO_BENCH_TARGET", env.root());
    const QString source = env.makePath("source");
    // Half the size of copy's songs: fusefat refuses to make entries in a folder whose cluster
    // lies past 2 GiB into the image (EPERM), and the hidden folders of the arranges come last.
    const QString song = makeSource(env.root() + "/song.mp3", 16.0, 256, 440);
    const TrackMap whole = makeAlbums(source, song, files);
    const QString middle = QStringLiteral("10b Track.mp3"), front = QStringLiteral("A First Album");
    TrackMap added, newAlbum;
    for (int a = 0; a < albums; ++a) {
        const QString album = QStringLiteral("Album %1").arg(a, 3, 10, QLatin1Char('0'));
        const qint64 id = files + a + 1;
        added.insert(id, albumTrack(id, song, source + QLatin1Char('/') + album, album, middle));
    }
    makeCover(source + QLatin1Char('/') + front, albums);
    for (int k = 0; k < 20; ++k) {
        const qint64 id = files + albums + k + 1;
        newAlbum.insert(id,
            albumTrack(id, song, source + QLatin1Char('/') + front, front,
                QStringLiteral("%1 Track.mp3").arg(k + 1, 2, 10, QLatin1Char('0'))));
    }
    // What the stick holds after each transfer.
    QMap<QString, QStringList> afterWhole, afterAdded, afterNewAlbum;
    for (const track &t : whole)
        afterWhole[t.albumname] << QFileInfo(t.filepath).fileName();
    afterAdded = afterWhole;
    for (const track &t : added)
        afterAdded[t.albumname] << middle;
    afterNewAlbum = afterAdded;
    for (const track &t : newAlbum)
        afterNewAlbum[t.albumname] << QFileInfo(t.filepath).fileName();
    // Neither would make the run move anything if the names did not sort where they are meant to.
    if (playOrder(afterNewAlbum.keys()).constFirst() != front)
        fail(QStringLiteral("the collator does not put “%1” before “Album 000”").arg(front));
    if (playOrder(afterAdded.first()).indexOf(middle) != 10)
        fail(QStringLiteral("the collator does not put “%1” after “10 Track.mp3”").arg(middle));

    SystemInfo system = mp3System();
    std::printf("arrange: %d files of %lld bytes in %d albums with covers, then 1 more in each album, then "
                "an album of 20 before them; %d runs, FAT32 image through fusefat -o rw+ in %s\n",
        files, QFileInfo(song).size(), albums, runs, qPrintable(targets));

    // Warm the file cache.
    TrackMap all = whole;
    all.insert(added);
    all.insert(newAlbum);
    const QString warm = targets + QStringLiteral("/kivo-warm");
    transfer(all, warm, &system, 0);
    settle({warm});

    const qint64 imageBytes = qint64(all.size()) * QFileInfo(song).size() * 5 / 4 + (256LL << 20);
    FatTarget image(targets, imageBytes);
    struct Figures {
        RunFigures run, arranging;
        QList<int> folders;
    } first, more, before;
    // One transfer onto the stick as the last left it: plugged in, timed, unplugged and checked.
    const auto onto = [&](const TrackMap &tracks, const QMap<QString, QStringList> &after,
                          const QString &what, Figures &figures) {
        settle({});
        const QString root = image.mount();
        ArrangeClock clock;
        trimHeap();
        const Outcome o = transfer(
            tracks, root, &system, 0, 1LL << 40, [&clock](ffmpeghandler &handler) { clock.watch(handler); });
        image.unmount();
        checkCompleted(o, tracks, what);
        figures.run.values << o.ms;
        figures.run.peakKb << o.peakKb;
        figures.arranging.values << clock.ms;
        figures.arranging.peakKb << o.peakKb;
        figures.folders << clock.folders;
        checkOrder(image.image(), after, what);
    };
    for (int r = 0; r < runs; ++r) {
        image.fresh();
        onto(whole, afterWhole, QStringLiteral("first whole transfer"), first);
        onto(added, afterAdded, QStringLiteral("transfer of one more song to each album"), more);
        onto(newAlbum, afterNewAlbum, QStringLiteral("transfer of an album before the others"), before);
        image.release();
    }

    const auto folders = [](const QList<int> &counts) {
        const auto [least, most] = std::minmax_element(counts.cbegin(), counts.cend());
        return *least == *most ? QString::number(*least) : QStringLiteral("%1 to %2").arg(*least).arg(*most);
    };
    print("first whole transfer", first.run);
    print("one more song in each album", more.run);
    print("  of which arranging", more.arranging);
    print("an album before the others", before.run);
    print("  of which arranging", before.arranging);
    std::printf(
        "  folders arranged in a run: first %s, one more song %s (of %d albums), album before %s (the "
        "media folder)\n",
        qPrintable(folders(first.folders)), qPrintable(folders(more.folders)), albums,
        qPrintable(folders(before.folders)));
    std::printf("  peak RSS: first %lld MB, one more song %lld MB, album before %lld MB\n",
        first.run.peakMb(), more.run.peakMb(), before.run.peakMb());
    std::printf("  after every transfer each album's songs and the album folders stood in play order\n");
    return 0;
}

// Fails unless the big folder's songs stand in name order in the image's slots, the user's file is
// still among them and no hidden folder or plug of an arrange is left.
void checkBigFolder(const QString &image, const QString &album, const QStringList &songs, const QString &user)
{
    const QString after = QStringLiteral("after the second transfer of the big folder");
    QStringList played;
    bool kept = false;
    for (const QString &name : slotOrder(image, album)) {
        if (name.endsWith(QLatin1String(".mp3"), Qt::CaseInsensitive))
            played << name;
        kept = kept || name.compare(user, Qt::CaseInsensitive) == 0;
        if (name.startsWith(QLatin1Char('.')) || ParkingRecord::isPlugName(name))
            fail(QStringLiteral("%1, %2 is left in the album folder").arg(after, name));
    }
    if (played != songs) {
        int at = 0;
        while (at < std::min(played.size(), songs.size()) && played.at(at) == songs.at(at))
            ++at;
        fail(QStringLiteral("%1, the album plays %2 songs, and at place %3 “%4” where “%5” belongs")
                 .arg(after)
                 .arg(played.size())
                 .arg(at + 1)
                 .arg(played.value(at), songs.value(at)));
    }
    if (!kept)
        fail(QStringLiteral("%1, the user's %2 is gone").arg(after, user));
    for (const QString &folder : {QString(), album.section(QLatin1Char('/'), 0, 0)}) {
        for (const QString &name : slotOrder(image, folder)) {
            if (name.startsWith(QLatin1String(".kivo"), Qt::CaseInsensitive))
                fail(QStringLiteral("%1, %2 is left in /%3").arg(after, name, folder));
        }
    }
}

void printCount(const char *what, const RunFigures &f, const char *unit)
{
    std::printf(
        "  %-34s median %9.0f %s   min %9.0f   max %9.0f\n", what, f.median(), unit, f.least(), f.most());
}

// One album folder of `songs` songs whose first comes last, after a file of the user's.
int arrangeBigFolder(const TestEnv &env, int songs, int runs)
{
    const QString noFat = FatTarget::unavailable();
    if (!noFat.isEmpty()) {
        std::printf("arrange, a big folder: FAT image: skipped, %s\n", qPrintable(noFat));
        return 0;
    }
    const QString targets = qEnvironmentVariable("KIVO_BENCH_TARGET", env.root());
    const QString album = QStringLiteral("Big Album"), user = QStringLiteral("notes.txt");
    const QString folder = env.makePath(QStringLiteral("big/") + album);
    makeCover(folder, 0);
    // Short songs: the arrange renames entries, whatever their size.
    const QString song = makeSource(env.root() + "/short.mp3", 1.0, 128, 660);
    QStringList names;
    TrackMap rest, first;
    for (int i = 1; i <= songs; ++i) {
        const QString name
            = QStringLiteral("%1 A song with a name 41 chars long.mp3").arg(i, 4, 10, QLatin1Char('0'));
        names << name;
        (i == 1 ? first : rest).insert(i, albumTrack(i, song, folder, album, name));
    }
    // Songs without track numbers play by name; song 1 must come first for the arrange to move all.
    if (playOrder(names) != names)
        fail(QStringLiteral("the collator does not put the big folder's songs in number order"));

    SystemInfo system = mp3System();
    std::printf(
        "arrange, a big folder: one album of %d songs of %lld bytes with names of %lld characters; the "
        "first transfer brings songs 2 to %d, the user puts %s into the album folder, the second "
        "brings song 1 alone, which the run must put first; %d runs, FAT32 image through fusefat "
        "-o rw+ in %s\n",
        songs, QFileInfo(song).size(), qint64(names.constFirst().size()), songs, qPrintable(user), runs,
        qPrintable(targets));

    // Warm the file cache.
    TrackMap all = rest;
    all.insert(first);
    const QString warm = targets + QStringLiteral("/kivo-warm-big");
    transfer(all, warm, &system, 0);
    settle({warm});

    const qint64 imageBytes = qint64(songs) * QFileInfo(song).size() * 5 / 4 + (256LL << 20);
    FatTarget image(targets, imageBytes);
    const QString onStick = QStringLiteral("Bench Media/") + album;
    const QByteArray userText = "Bring the charger and the cable for the phone.\n";
    RunFigures whole, second, arranging, renames, plugs, peakWhole, peakSecond;
    for (int r = 0; r < runs; ++r) {
        settle({});
        QString root = image.fresh();
        trimHeap();
        const Outcome o1 = transfer(rest, root, &system, 0);
        image.unplug();
        checkCompleted(o1, rest, QStringLiteral("first whole transfer of the big folder"));

        // By hand, between transfers: the file takes the slots after the last song.
        root = image.mount();
        QFile note(root + QLatin1Char('/') + onStick + QLatin1Char('/') + user);
        if (!note.open(QIODevice::WriteOnly | QIODevice::NewOnly) || note.write(userText) != userText.size())
            fail(QStringLiteral("%1 cannot be written on the stick").arg(user));
        note.close();
        image.unplug();

        settle({});
        root = image.mount();
        ArrangeClock clock;
        int moves = 0, plugged = 0, trip = 0;
        // The run arranges on the calling thread, as it emits. An entry that came back out of
        // turn and went again is two renames more; a trip tells its plugs so far.
        FolderOrder::stepHook = [&moves, &plugged, &trip](FolderOrder::Step step, int count) {
            if (step == FolderOrder::Step::MovedOut || step == FolderOrder::Step::MovedBack)
                ++moves;
            else if (step == FolderOrder::Step::Replaced)
                moves += 2;
            else if (step == FolderOrder::Step::Plugged)
                trip = count;
            else if (step == FolderOrder::Step::Unplugged)
                plugged += std::exchange(trip, 0);
        };
        trimHeap();
        const Outcome o2 = transfer(
            first, root, &system, 0, 1LL << 40, [&clock](ffmpeghandler &handler) { clock.watch(handler); });
        FolderOrder::stepHook = {};
        QByteArray kept;
        if (note.open(QIODevice::ReadOnly))
            kept = note.readAll();
        note.close();
        image.unplug();
        checkCompleted(o2, first, QStringLiteral("second transfer of the big folder"));
        checkBigFolder(image.image(), onStick, names, user);
        if (kept != userText)
            fail(QStringLiteral("after the second transfer of the big folder, %1 does not hold what the user "
                                "wrote")
                     .arg(user));
        image.release();

        whole.values << o1.ms;
        second.values << o2.ms;
        arranging.values << clock.ms;
        renames.values << moves;
        plugs.values << plugged;
        peakWhole.values << o1.peakKb / 1024;
        peakSecond.values << o2.peakKb / 1024;
        std::printf("  run %d: first whole transfer %.1f ms, second %.1f ms, of which arranging %.1f ms, "
                    "%d renames, %d plugs, peak RSS %lld MB and %lld MB\n",
            r + 1, o1.ms, o2.ms, clock.ms, moves, plugged, o1.peakKb / 1024, o2.peakKb / 1024);
    }

    print("first whole transfer", whole);
    print("second transfer, song 1", second);
    print("  of which arranging", arranging);
    printCount("renames, moved out and back", renames, "  ");
    printCount("plugs", plugs, "  ");
    printCount("peak RSS, first whole transfer", peakWhole, "MB");
    printCount("peak RSS, second transfer", peakSecond, "MB");
    std::printf("  after the second transfer the album's songs stood in name order, %s was still there and "
                "no hidden folder was left\n",
        qPrintable(user));
    return 0;
}

}  // namespace

int transferbench::benchArrange(const TestEnv &env, int files, int runs, int bigFolder)
{
    const int albums = arrangeAlbums(env, files, runs);
    return albums != 0 ? albums : arrangeBigFolder(env, bigFolder, runs);
}
