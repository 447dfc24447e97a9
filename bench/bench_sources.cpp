// Repair run with its web sources, each service's own limit in force: 60 library tracks in 6 album
// folders of ten, every reply from local servers (one per host, as the real services have):
//
//   - albums 1 and 2 lack their titles: MusicBrainz answers each track (one request a track);
//   - albums 3 and 4 have their tags but no cover, and Discogs only its placeholder image: Discogs
//     is searched for each track, fpcalc finds the 1 s clips too short to fingerprint, the run asks
//     Discogs for the album (once; then the kept answer) and at the folder's end for its cover;
//   - albums 5 and 6 lack artist, album and title: each track is fingerprinted by the real fpcalc
//     and looked up on AcoustID; the album's first answer asks Discogs for the album (search,
//     release, cover), the others take the kept answer.
//
// The gaps are the program's defaults (MusicBrainz 1 a second, AcoustID 3 a second, Discogs 25 a
// minute without a token, images 1 a second). Measured per host, from the times the servers
// received the requests: the rate over each stretch of requests the run sent that host one after
// the other (no other host asked in between), the rate over the host's whole span, the smallest
// gap, and the most requests in any window of the limit's length. The baseline is the limit
// itself: target at least 90 % of it over the stretches, never above it in any window.
//
//   bench_sources

#include "apimanager.h"
#include "database.h"
#include "fingerprinting.h"
#include "mediagen.h"
#include "procstats.h"
#include "replayserver.h"
#include "testenv.h"
#include "toolpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kPerAlbum = 10;

struct Host {
    const char *name;
    ReplayServer *server;
    double limitPerSecond;  // 0: no published limit
    double windowSeconds;  // the limit's own window
};

QString artist(int album)
{
    return QStringLiteral("Artist %1").arg(album);
}

QString albumName(int album)
{
    return QStringLiteral("Album %1").arg(album);
}

QString title(int album, int number)
{
    return QStringLiteral("Song %1-%2").arg(album).arg(number);
}

QByteArray xmlText(const QString &text)
{
    return text.toHtmlEscaped().toUtf8();
}

// The MusicBrainz recordings of albums 1 and 2, each as long as its library track.
QByteArray musicBrainzReply()
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><metadata><recording-list>";
    for (int album = 1; album <= 2; ++album) {
        for (int n = 1; n <= kPerAlbum; ++n)
            xml += "<recording><title>" + xmlText(title(album, n)) + "</title><length>"
                + QByteArray::number((200 + album * 20 + n) * 1000)
                + "</length><artist-credit><name-credit><artist><name>" + xmlText(artist(album))
                + "</name></artist></name-credit></artist-credit></recording>";
    }
    return xml + "</recording-list></metadata>";
}

QByteArray discogsSearchReply(const ReplayServer &images)
{
    QByteArray json = "{\"results\": [";
    for (int album = 3; album <= 6; ++album) {
        json
            += QStringLiteral("%1{\"title\": \"%2 - %3\", \"id\": %4, \"thumb\": \"%5\", \"year\": \"2001\", "
                              "\"format\": [\"CD\", \"Album\"], \"genre\": [\"Rock\"]}")
                   .arg(album > 3 ? "," : "", artist(album), albumName(album))
                   .arg(5000 + album)
                   // Discogs's own placeholder stands where it has no image.
                   .arg(images.url(QString(album <= 4 ? "/noimage-%1.png" : "/cover-%1.png").arg(album))
                            .toString())
                   .toUtf8();
    }
    return json + "]}";
}

QByteArray discogsRelease(int album)
{
    QStringList tracks;
    for (int n = 1; n <= kPerAlbum; ++n)
        tracks << QStringLiteral("{\"position\": \"%1\", \"title\": \"%2\", \"duration\": \"0:03\"}")
                      .arg(n)
                      .arg(title(album, n));
    return QStringLiteral(
        "{\"title\": \"%1\", \"year\": 2001, \"genres\": [\"Rock\"], \"artists\": [{\"name\": \"%2\"}], "
        "\"tracklist\": [%3]}")
        .arg(albumName(album), artist(album), tracks.join(','))
        .toUtf8();
}

QByteArray lookupReply(int album)
{
    QByteArray xml
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><status>ok</status><results><result>"
          "<id>res</id><recordings>";
    for (int n = 1; n <= kPerAlbum; ++n)
        xml += "<recording><artists><artist><name>" + xmlText(artist(album)) + "</name></artist></artists>"
            + "<duration>3</duration><releasegroups><releasegroup><releases><release><date><year>2001</"
              "year></date>"
            + "<id>rel-" + QByteArray::number(album) + "</id><mediums><medium><tracks><track><position>"
            + QByteArray::number(n)
            + "</position></track></tracks></medium></mediums><track_count>10</track_count>"
            + "</release></releases><title>" + xmlText(albumName(album))
            + "</title></releasegroup></releasegroups>" + "<title>" + xmlText(title(album, n))
            + "</title></recording>";
    return xml + "</recordings><score>0.95</score></result></results></response>";
}

// The most requests that fall into any window of `seconds`.
int busiestWindow(const QList<qint64> &times, double seconds)
{
    int most = 0;
    qsizetype first = 0;
    for (qsizetype last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= qint64(seconds * 1e6))
            ++first;
        most = qMax(most, int(last - first + 1));
    }
    return most;
}

}  // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    TestEnv env;
    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(database.lastError()));
        return 1;
    }

    ReplayServer musicBrainz, discogs, images, acoustId, coverArt;
    qputenv("KIVO_MUSICBRAINZ_HOST", musicBrainz.url(QString()).toEncoded());
    qputenv("KIVO_DISCOGS_HOST", discogs.url(QString()).toEncoded());
    qputenv("KIVO_ACOUSTID_HOST", acoustId.url(QString()).toEncoded());
    qputenv("KIVO_COVERART_HOST", coverArt.url(QString()).toEncoded());
    qputenv("KIVO_ACOUSTID_KEY", "benchKey");
    const WebServiceConfig config = WebServiceConfig::load();

    // The library: one sine file per fingerprinted album, copied for its ten tracks, so each album
    // has one fingerprint and its look-up one recorded reply.
    QElapsedTimer timer;
    timer.start();
    const AppPaths paths;
    TrackMap tracks;
    for (int album = 1; album <= 6; ++album) {
        const QString folder = env.root() + QStringLiteral("/music/Album %1").arg(album);
        QDir().mkpath(folder);
        QString source;
        if (album >= 3) {
            source = env.makePath(QStringLiteral("sources/album%1.mp3").arg(album));
            MediaGen::Audio audio;
            audio.seconds = album >= 5 ? album - 2 : 1;
            const QString error = MediaGen::makeAudio(source, audio);
            if (!error.isEmpty()) {
                std::fprintf(stderr, "cannot make audio: %s\n", qPrintable(error));
                return 1;
            }
        }
        if (album >= 5) {
            const platform::ToolResult run = platform::runTool(platform::Tool::Fpcalc, {source});
            const FpcalcResult printed = FpcalcRunner::parseOutput(run.standardOutput);
            if (!printed.ok) {
                std::fprintf(stderr, "fpcalc gave nothing for %s\n", qPrintable(source));
                return 1;
            }
            const QUrl lookup = fingerprinting::lookupUrl(config, printed.duration, printed.fingerprint);
            acoustId.get(
                lookup.path() + '?' + lookup.query(QUrl::FullyEncoded), ReplayReply::ok(lookupReply(album)));
        }
        if (album <= 2) {
            // The album's cover is cached already: a title is all these tracks lack.
            QImage image(110, 110, QImage::Format_RGB32);
            image.fill(QColor::fromHsv(album * 40, 200, 200));
            QDir().mkpath(QFileInfo(paths.artworkCachePath(albumName(album))).absolutePath());
            image.save(paths.artworkCachePath(albumName(album)), "png");
        }
        if (album >= 3)
            discogs.get(
                QStringLiteral("/releases/%1").arg(5000 + album), ReplayReply::ok(discogsRelease(album)));
        if (album >= 5)
            images.get(QStringLiteral("/cover-%1.png").arg(album),
                ReplayReply::ok(MediaGen::coverPng(Qt::darkCyan)));
        for (int n = 1; n <= kPerAlbum; ++n) {
            track t;
            t.id = (album - 1) * kPerAlbum + n;
            t.filename = QStringLiteral("%1 Track.mp3").arg(n, 2, 10, QChar('0'));
            t.filepath = t.originalPath = folder + '/' + t.filename;
            if (!source.isEmpty())
                QFile::copy(source, t.filepath);
            t.folderLocation = folder;
            t.tracknumber = qint16(n);
            t.cover = paths.noArtworkUrl;
            t.genre = paths.unknownGenre;
            t.duration = album >= 3 ? (album >= 5 ? album - 2 : 1) : 200 + album * 20 + n;
            t.trackname = album <= 2 || album >= 5 ? QStringLiteral("Track %1").arg(n, 2, 10, QChar('0'))
                                                   : title(album, n);
            t.artistname = album <= 4 ? artist(album) : paths.unknownArtist;
            t.albumname = album <= 4 ? albumName(album) : paths.unknownAlbum;
            t.hasTitle = album >= 3 && album <= 4;
            t.hasArtist = t.hasAlbum = album <= 4;
            tracks.insert(t.id, t);
        }
    }
    musicBrainz.get(QStringLiteral("/ws/2/recording"), ReplayReply::ok(musicBrainzReply()));
    discogs.get(QStringLiteral("/database/search"), ReplayReply::ok(discogsSearchReply(images)));
    std::printf("made 60 tracks in 6 album folders in %.0f ms\n", timer.nsecsElapsed() / 1e6);

    // The run, to its end marker.
    ApiManager::setOnlineCheck([] { return true; });
    ApiManager run(ApiManager::webSources());
    run.setTagWriter([](const track &) { return true; });
    QList<track> saved;
    QEventLoop loop;
    QObject::connect(&run, &ApiManager::updateTrackToManager, &loop, [&](const track &t) {
        if (t.id < 1)
            loop.quit();
        else
            saved << t;
    });
    resetPeak();
    timer.restart();
    run.startOptimisation(tracks);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;

    int titled = 0, covered = 0, identified = 0;
    for (const track &t : std::as_const(saved)) {
        titled += t.trackname.startsWith(QLatin1String("Song ")) ? 1 : 0;
        covered += t.hasCover ? 1 : 0;
        identified += t.id > 40 && t.albumname == albumName(int((t.id - 1) / kPerAlbum) + 1) ? 1 : 0;
    }
    std::printf(
        "repair: %.1f s, %d tracks saved, %d with their titles, %d with covers, %d of 20 fingerprinted "
        "tracks on their album; peak RSS %lld MB\n\n",
        seconds, int(saved.size()), titled, covered, identified, statusKb("VmHWM:") / 1024);

    // Every request of every host in the order they arrived.
    const Host hosts[] = {{"MusicBrainz", &musicBrainz, 1.0, 1.0}, {"AcoustID", &acoustId, 3.0, 1.0},
        {"Discogs (no token)", &discogs, 25.0 / 60.0, 60.0}, {"Discogs images", &images, 0, 1.0},
        {"large covers", &coverArt, 0, 1.0}};
    QList<QPair<qint64, int>> all;
    for (int h = 0; h < int(std::size(hosts)); ++h) {
        for (const RecordedRequest &r : hosts[h].server->requests())
            all.append({r.receivedUs, h});
    }
    std::sort(all.begin(), all.end());

    std::printf("%-20s %8s %14s %14s %9s %13s %12s %14s\n", "host", "requests", "stretch req/s", "span req/s",
        "limit/s", "stretch/limit", "least gap ms", "busiest window");
    bool met = true;
    for (int h = 0; h < int(std::size(hosts)); ++h) {
        QList<qint64> times;
        qint64 stretchSpan = 0;
        qint64 stretchGaps = 0;
        qint64 leastGap = -1;
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (all[i].second != h)
                continue;
            if (!times.isEmpty()) {
                const qint64 gap = all[i].first - times.last();
                leastGap = leastGap < 0 ? gap : qMin(leastGap, gap);
                if (all[i - 1].second == h) {  // asked one after the other
                    stretchSpan += gap;
                    ++stretchGaps;
                }
            }
            times << all[i].first;
        }
        const double stretchRate = stretchSpan > 0 ? stretchGaps / (stretchSpan / 1e6) : 0;
        const double spanRate
            = times.size() > 1 ? (times.size() - 1) / ((times.last() - times.first()) / 1e6) : 0;
        const Host &host = hosts[h];
        const int window = busiestWindow(times, host.windowSeconds);
        const int allowed = host.limitPerSecond > 0 ? qRound(host.limitPerSecond * host.windowSeconds) : 0;
        if (host.limitPerSecond > 0)
            met = met && stretchRate >= 0.9 * host.limitPerSecond && window <= allowed;
        const bool limited = host.limitPerSecond > 0;
        const QString limit = limited ? QString::number(host.limitPerSecond, 'f', 3) : QStringLiteral("-");
        const QString share = limited
            ? QString::number(100 * stretchRate / host.limitPerSecond, 'f', 1) + " %"
            : QStringLiteral("-");
        const QString gap = leastGap < 0 ? QStringLiteral("-") : QString::number(leastGap / 1e3, 'f', 1);
        const QString busiest = limited
            ? QStringLiteral("%1/%2 in %3 s").arg(window).arg(allowed).arg(host.windowSeconds)
            : QString::number(window) + QStringLiteral(" in 1 s");
        std::printf("%-20s %8d %14.3f %14.3f %9s %13s %12s %14s\n", host.name, int(times.size()), stretchRate,
            spanRate, qPrintable(limit), qPrintable(share), qPrintable(gap), qPrintable(busiest));
    }
    std::printf(
        "\nstretch: requests the run sent the host one after the other; window: the most requests in any "
        "window of the limit's length, against what the limit allows\n");
    std::printf("target: at least 90 %% of each limit over the stretches, never above it in any window: %s\n",
        met ? "met" : "NOT met");
    ApiManager::setOnlineCheck({});
    return 0;
}
