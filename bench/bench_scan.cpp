// Folder scan against a bare TagLib loop over the same files.
//
// Makes 5 000 media files (mixed formats, ten per album folder, 500 albums) in a private data
// folder, then times `track_data::scanFolder` with a library file open (so every track is also
// written to the repository cache) against a plain TagLib::FileRef loop reading the tags and audio
// properties of the same files. The bare loop runs once untimed first, so both read from a warm
// file cache. Prints both times and their ratio.

#include "apppaths.h"
#include "database.h"
#include "mediagen.h"
#include "testenv.h"
#include "track_data.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlQuery>

#include <taglib/fileref.h>
#include <taglib/tag.h>

#include <cstdio>

namespace {

constexpr int kAlbums = 500;
constexpr int kTracksPerAlbum = 10;

struct Source {
    QString suffix;
    double seconds;
    bool cover;
};

// Sizes chosen so every file is larger than the scan's 102400-byte floor.
const Source kSources[] = {
    {QStringLiteral("mp3"), 7.0, true},
    {QStringLiteral("m4a"), 7.0, true},
    {QStringLiteral("flac"), 9.0, true},
    {QStringLiteral("ogg"), 60.0, false},
    {QStringLiteral("wma"), 7.0, true},
    {QStringLiteral("mp3"), 8.0, false},
    {QStringLiteral("m4a"), 8.0, false},
    {QStringLiteral("flac"), 10.0, false},
};
constexpr int kVariants = 6;  // distinct files per source kind

QString fail(const QString &why)
{
    std::fprintf(stderr, "bench_scan: %s\n", qPrintable(why));
    return why;
}

// A few dozen distinct files made with ffmpeg.
QStringList makeSources(const QString &folder)
{
    QStringList made;
    int n = 0;
    for (const Source &source : kSources) {
        for (int v = 0; v < kVariants; ++v, ++n) {
            MediaGen::Audio media;
            media.seconds = source.seconds + 0.5 * v;
            media.sampleRate = 44100;
            media.bitrateKbps = source.suffix == QLatin1String("ogg") ? 64 : 128;
            media.cover = source.cover;
            media.coverColor = QColor::fromHsv((n * 37) % 360, 200, 200);
            media.tags = {{"title", QStringLiteral("Source %1").arg(n)}, {"artist", "Someone"},
                {"album", "Source Album"}, {"genre", "Rock"}, {"date", "2001"}, {"track", "1"}};
            const QString path = QStringLiteral("%1/source%2.%3").arg(folder).arg(n).arg(source.suffix);
            const QString error = MediaGen::makeAudio(path, media);
            if (!error.isEmpty()) {
                fail(error);
                return {};
            }
            if (QFileInfo(path).size() <= 102400) {
                fail(QStringLiteral("%1 is too small (%2 bytes)").arg(path).arg(QFileInfo(path).size()));
                return {};
            }
            made << path;
        }
    }
    return made;
}

// 500 album folders of ten files each, copied from the sources and given their album's tags.
// Four albums in five carry a cover picture in every file, the others in none.
QStringList makeTree(const QString &root, const QStringList &allSources)
{
    QStringList withCover;
    QStringList withoutCover;
    for (int i = 0; i < allSources.size(); ++i)
        (kSources[i / kVariants].cover ? withCover : withoutCover) << allSources.at(i);
    QStringList files;
    for (int a = 0; a < kAlbums; ++a) {
        const QStringList &sources = a % 5 == 4 ? withoutCover : withCover;
        const QString folder = QStringLiteral("%1/Artist %2/Album %3").arg(root).arg(a % 60).arg(a);
        QDir().mkpath(folder);
        for (int k = 0; k < kTracksPerAlbum; ++k) {
            const QString &source = sources.at((a * 7 + k) % sources.size());
            const QString path = QStringLiteral("%1/%2 Song %3.%4")
                                     .arg(folder)
                                     .arg(k + 1)
                                     .arg(k)
                                     .arg(QFileInfo(source).suffix());
            if (!QFile::copy(source, path)) {
                fail(QStringLiteral("cannot copy to ") + path);
                return {};
            }
            TagLib::FileRef ref(QFile::encodeName(path).constData(), false);
            if (ref.isNull() || !ref.tag()) {
                fail(QStringLiteral("TagLib cannot open ") + path);
                return {};
            }
            ref.tag()->setAlbum(QStringToTString(QStringLiteral("Album %1").arg(a)));
            ref.tag()->setArtist(QStringToTString(QStringLiteral("Artist %1").arg(a % 60)));
            ref.tag()->setTitle(QStringToTString(QStringLiteral("Song %1 of %2").arg(k).arg(a)));
            ref.tag()->setTrack(unsigned(k + 1));
            if (!ref.save()) {
                fail(QStringLiteral("cannot retag ") + path);
                return {};
            }
            files << path;
        }
    }
    return files;
}

// The baseline: what any tag reader has to do for these files.
qint64 bareLoop(const QStringList &files, int *read)
{
    QElapsedTimer timer;
    timer.start();
    int ok = 0;
    unsigned sum = 0;
    for (const QString &path : files) {
        TagLib::FileRef ref(QFile::encodeName(path).constData(), true, TagLib::AudioProperties::Average);
        if (ref.isNull() || !ref.tag())
            continue;
        sum += ref.tag()->title().size() + ref.tag()->artist().size() + ref.tag()->album().size()
            + ref.tag()->genre().size() + ref.tag()->comment().size() + ref.tag()->track()
            + ref.tag()->year();
        if (ref.audioProperties())
            sum += unsigned(ref.audioProperties()->bitrate() + ref.audioProperties()->lengthInSeconds()
                + ref.audioProperties()->sampleRate() + ref.audioProperties()->channels());
        ++ok;
    }
    if (read)
        *read = ok;
    if (sum == 0)
        std::printf("(no tags read)\n");
    return timer.nsecsElapsed();
}

qint64 rowCount(const QString &table)
{
    QSqlQuery query(Database::threadConnection());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

}  // namespace

int main(int argc, char *argv[])
{
    TestEnv env;
    if (!env.isValid())
        return 2;
    QCoreApplication app(argc, argv);

    QElapsedTimer setup;
    setup.start();
    const QStringList sources = makeSources(env.makePath(QStringLiteral("sources")));
    if (sources.isEmpty())
        return 1;
    const QString root = env.makePath(QStringLiteral("Music"));
    const QStringList files = makeTree(root, sources);
    if (files.size() != kAlbums * kTracksPerAlbum)
        return 1;
    std::printf("made %lld files in %d album folders in %.1f s\n", qlonglong(files.size()), kAlbums,
        setup.elapsed() / 1000.0);

    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        fail(database.lastError());
        return 1;
    }

    int bareRead = 0;
    bareLoop(files, &bareRead);  // warms the file cache
    const qint64 bareNs = bareLoop(files, &bareRead);

    track_data scanner;
    QElapsedTimer timer;
    timer.start();
    const TrackMap tracks = scanner.scanFolder(QDir(root));
    const qint64 scanNs = timer.nsecsElapsed();

    const qint64 cached = rowCount(QStringLiteral("TrackRepo"));
    const int covers = QDir(AppPaths::dataLocation() + AppPaths().artworkDir).entryList(QDir::Files).size();
    std::printf("bare TagLib loop: %d files in %.3f s (%.1f us per file)\n", bareRead, bareNs / 1e9,
        bareNs / 1e3 / qMax(1, bareRead));
    std::printf(
        "scanFolder:       %lld tracks in %.3f s (%.1f us per file), %lld repository rows, %d covers\n",
        qlonglong(tracks.size()), scanNs / 1e9, scanNs / 1e3 / qMax(1, int(tracks.size())), cached, covers);
    std::printf(
        "ratio scanFolder / bare loop: %.2f (target 1.50 or less)\n", double(scanNs) / double(bareNs));
    const bool complete = tracks.size() == files.size() && cached == files.size();
    if (!complete)
        std::printf("INCOMPLETE: expected %lld tracks and rows\n", qlonglong(files.size()));
    Database::close();
    return complete ? 0 : 1;
}
