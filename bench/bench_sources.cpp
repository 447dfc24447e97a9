// Repair run with its web sources, each service's own limit in force, over 100 library tracks in
// 10 album folders of ten, every reply from a local server (one per host, as the real services
// have) that answers after a delay:
//
//   - albums 1 to 9 have their artist, album and cached cover but no titles: MusicBrainz is asked
//     for the album's recordings (one search an album: its tracks share it), each track picks the
//     one of its length;
//   - album 10 has its tags but no cover, and Discogs offers only its placeholder image: Discogs is
//     searched for each track (ten searches, each with its title), and at the folder's end for the
//     album's cover, which is the first track's search again: answered from the run's own store.
//
// The gaps are the program's defaults (MusicBrainz 1 a second, Discogs 25 a minute without a
// token, images 1 a second). The run asks one host at a time (folder by folder, track by track), so
// the least time the published limits allow for the requests it must make is, summed over the
// hosts, (distinct requests - 1) x the published gap, plus one reply's delay per host. The figure
// is the run's time against that least time; target at most 1.1x. Also printed per host: the
// requests sent against the distinct requests needed (distinct addresses).
//
//   bench_sources [runs]   (default 5)

#include "apimanager.h"
#include "apppaths.h"
#include "database.h"
#include "mediagen.h"
#include "procstats.h"
#include "replayserver.h"
#include "requestpacer.h"
#include "testenv.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QSet>

#include <cstdio>

namespace {

constexpr int kAlbums = 10;
constexpr int kPerAlbum = 10;
constexpr int kDelayMs = 50;
// The published limits, as gaps in ms (the program keeps 2 % above them).
constexpr double kMusicBrainzGapMs = 1000;
constexpr double kDiscogsGapMs = 60000.0 / 25;
constexpr double kImageGapMs = 1000;

QString artist(int album)
{
    return QStringLiteral("Artist %1").arg(album);
}

// Album names carry the run, so no run finds what an earlier one saved in the repository.
QString albumName(int run, int album)
{
    return QStringLiteral("Album %1-%2").arg(run).arg(album);
}

QString title(int album, int number)
{
    return QStringLiteral("Song %1-%2").arg(album).arg(number);
}

double seconds(int album, int number)
{
    return 180 + album * 40 + number * 7;
}

QByteArray xmlText(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

QByteArray musicBrainzReply(int run)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata><recording-list>";
    for (int album = 1; album < kAlbums; ++album) {
        for (int n = 1; n <= kPerAlbum; ++n)
            xml += "<recording><title>" + xmlText(title(album, n)) + "</title><length>"
                + QByteArray::number(qint64(seconds(album, n) * 1000))
                + "</length><artist-credit><name-credit><artist><name>" + xmlText(artist(album))
                + "</name></artist></name-credit></artist-credit><release-list><release><title>"
                + xmlText(albumName(run, album)) + "</title></release></release-list></recording>";
    }
    return xml + "</recording-list></metadata>";
}

QByteArray discogsSearch(int run, const ReplayServer &images)
{
    return QStringLiteral(
        "{\"results\": [{\"title\": \"%1 - %2\", \"id\": 9001, \"thumb\": \"%3\", \"year\": "
        "\"2001\", \"format\": [\"CD\", \"Album\"], \"genre\": [\"Rock\"]}]}")
        .arg(artist(kAlbums), albumName(run, kAlbums), images.url(QStringLiteral("/noimage.png")).toString())
        .toUtf8();
}

QByteArray discogsRelease(int run)
{
    QStringList tracks;
    for (int n = 1; n <= kPerAlbum; ++n) {
        const int s = int(seconds(kAlbums, n));
        tracks << QStringLiteral("{\"position\": \"%1\", \"title\": \"%2\", \"duration\": \"%3:%4\"}")
                      .arg(n)
                      .arg(title(kAlbums, n))
                      .arg(s / 60)
                      .arg(s % 60, 2, 10, QChar('0'));
    }
    return QStringLiteral(
        "{\"title\": \"%1\", \"year\": 2001, \"genres\": [\"Rock\"], \"artists\": [{\"name\": "
        "\"%2\"}], \"tracklist\": [%3]}")
        .arg(albumName(run, kAlbums), artist(kAlbums), tracks.join(','))
        .toUtf8();
}

struct HostCount {
    int sent = 0;
    int distinct = 0;
};

HostCount countOf(const ReplayServer &server)
{
    QSet<QByteArray> targets;
    for (const RecordedRequest &r : server.requests())
        targets.insert(r.target);
    return {server.requestCount(), int(targets.size())};
}

ReplayReply delayed(ReplayReply reply)
{
    return reply.withDelay(kDelayMs);
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 5;
    TestEnv env;
    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(database.lastError()));
        return 1;
    }
    ReplayServer musicBrainz, discogs, images;
    qputenv("KIVO_MUSICBRAINZ_HOST", musicBrainz.url(QString()).toEncoded());
    qputenv("KIVO_DISCOGS_HOST", discogs.url(QString()).toEncoded());
    qputenv("KIVO_ACOUSTID_HOST", "none");
    qputenv("KIVO_COVERART_HOST", "none");
    images.get(QStringLiteral("/cover.png"), delayed(ReplayReply::ok(MediaGen::coverPng(Qt::darkCyan))));
    ApiManager::setOnlineCheck([] { return true; });
    const AppPaths paths;

    RunFigures ours, least;
    HostCount mb, dc, im;
    int titled = 0, covered = 0;
    for (int run = 1; run <= runs; ++run) {
        musicBrainz.clearRequests();
        discogs.clearRequests();
        images.clearRequests();
        RequestPacer::reset();
        musicBrainz.get(QStringLiteral("/ws/2/recording"), delayed(ReplayReply::ok(musicBrainzReply(run))));
        discogs.get(QStringLiteral("/database/search"), delayed(ReplayReply::ok(discogsSearch(run, images))));
        discogs.get(QStringLiteral("/releases/9001"), delayed(ReplayReply::ok(discogsRelease(run))));

        TrackMap tracks;
        for (int album = 1; album <= kAlbums; ++album) {
            const QString folder = env.root() + QStringLiteral("/music/%1/Album %2").arg(run).arg(album);
            QDir().mkpath(folder);
            if (album < kAlbums) {
                // The album's cover is cached already: a title is all its tracks lack.
                QImage image(110, 110, QImage::Format_RGB32);
                image.fill(QColor::fromHsv(album * 30, 200, 200));
                QDir().mkpath(QFileInfo(paths.artworkCachePath(albumName(run, album))).absolutePath());
                image.save(paths.artworkCachePath(albumName(run, album)), "png");
            }
            for (int n = 1; n <= kPerAlbum; ++n) {
                track t;
                t.id = (album - 1) * kPerAlbum + n;
                t.filename = QStringLiteral("%1 Track.mp3").arg(n, 2, 10, QChar('0'));
                t.filepath = t.originalPath = folder + '/' + t.filename;
                t.folderLocation = folder;
                t.tracknumber = qint16(n);
                t.cover = paths.noArtworkUrl;
                t.genre = paths.unknownGenre;
                t.duration = seconds(album, n);
                t.trackname = album < kAlbums ? QStringLiteral("Track %1").arg(n, 2, 10, QChar('0'))
                                              : title(album, n);
                t.artistname = artist(album);
                t.albumname = albumName(run, album);
                t.hasTitle = album == kAlbums;
                t.hasArtist = t.hasAlbum = true;
                tracks.insert(t.id, t);
            }
        }

        ApiManager repair(ApiManager::webSources());
        repair.setTagWriter([](const track &) { return true; });
        QList<track> saved;
        QEventLoop loop;
        QObject::connect(&repair, &ApiManager::updateTrackToManager, &loop, [&](const track &t) {
            if (t.id < 1)
                loop.quit();
            else
                saved << t;
        });
        measure(ours, [&] {
            repair.startOptimisation(tracks);
            loop.exec();
        });
        mb = countOf(musicBrainz);
        dc = countOf(discogs);
        im = countOf(images);
        const double bound = qMax(0, mb.distinct - 1) * kMusicBrainzGapMs
            + qMax(0, dc.distinct - 1) * kDiscogsGapMs + qMax(0, im.distinct - 1) * kImageGapMs
            + kDelayMs * ((mb.distinct > 0) + (dc.distinct > 0) + (im.distinct > 0));
        least.values << bound;
        least.peakKb << 0;
        titled = covered = 0;
        for (const track &t : std::as_const(saved)) {
            titled += t.trackname.startsWith(QLatin1String("Song ")) ? 1 : 0;
            covered += t.hasCover ? 1 : 0;
        }
        std::printf(
            "run %d: %.0f ms against %.0f ms least (%.3fx); %d tracks saved, %d titled, %d with covers\n",
            run, ours.values.last(), bound, ours.values.last() / bound, int(saved.size()), titled, covered);
    }
    std::printf("\n%-12s %14s %18s\n", "host", "requests sent", "distinct needed");
    std::printf("%-12s %14d %18d\n", "MusicBrainz", mb.sent, mb.distinct);
    std::printf("%-12s %14d %18d\n", "Discogs", dc.sent, dc.distinct);
    std::printf("%-12s %14d %18d\n\n", "images", im.sent, im.distinct);
    printFigures("repair run against the least time the limits allow", ours, least);
    std::printf("target: at most 1.1x: %s\n", ours.median() <= 1.1 * least.median() ? "met" : "NOT met");
    ApiManager::setOnlineCheck({});
    return 0;
}
