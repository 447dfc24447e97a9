// Folder scan against a parallel TagLib loop over the same files.
//
// Makes 5 000 media files (mixed formats, ten per album folder, 500 albums) in a private data
// folder. Four albums in five carry a 600 x 600 JPEG cover in every file, the others a
// "folder.jpg" beside their files. Times `track_data::scanFolder` with a library file open (so
// every track is also written to the repository cache) against a loop that does the same file
// and cover work with bare TagLib and Qt calls on as many threads as the scan reads with: the tags
// and audio properties of every file; for the first file of each album its embedded picture from
// the same parse, decoded at the fitted size, fit into 110 x 110 and encoded as PNG (in memory);
// for an album without one, its folder image read (the scan copies that file as it is).
//
// Both run once untimed (so both read a warm file cache), then take turns, the loop first; every
// scan starts from an empty artwork folder and repository cache. Prints the median, fastest and
// slowest run of each, the peak RSS (VmHWM) of each, and the ratio of the medians.
//
//   bench_scan [runs]   (default 5)

#include "apppaths.h"
#include "coverfiles.h"
#include "database.h"
#include "mediagen.h"
#include "procstats.h"
#include "testenv.h"
#include "track_data.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/tag.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr int kAlbums = 500;
constexpr int kTracksPerAlbum = 10;
constexpr int kCoverSize = 110;

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

// A 600 x 600 JPEG (quality 90) that compresses like a photo: gradients, soft shapes and grain.
// The grain grows with the seed, so the files run from about 35 to 75 KB.
QByteArray photoJpeg(int seed)
{
    QRandomGenerator random(quint32(seed) + 1);
    QImage image(600, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient ground(0, 0, 600, 600);
    ground.setColorAt(0, QColor::fromHsv(random.bounded(360), 150, 230));
    ground.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 60));
    painter.fillRect(image.rect(), ground);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 14; ++i) {
        const QPointF centre(random.bounded(600), random.bounded(600));
        const qreal radius = 30 + random.bounded(150);
        QColor colour
            = QColor::fromHsv(random.bounded(360), 120 + random.bounded(120), 80 + random.bounded(170), 200);
        QRadialGradient glow(centre, radius);
        glow.setColorAt(0, colour);
        colour.setAlpha(0);
        glow.setColorAt(1, colour);
        painter.setBrush(glow);
        if (i % 3 == 0)
            painter.drawRect(QRectF(centre.x() - radius / 2, centre.y() - radius / 3, radius, radius * 0.7));
        else
            painter.drawEllipse(centre, radius, radius * (0.5 + random.bounded(1.0)));
    }
    painter.end();
    const int grain = 2 + seed % 5;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(2 * grain + 1)) - grain;
            const auto channel = [n](int value) { return std::clamp(value + n, 0, 255); };
            line[x] = qRgb(channel(qRed(line[x])), channel(qGreen(line[x])), channel(qBlue(line[x])));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "jpg", 90);
    return bytes;
}

struct Covers {
    qint64 smallest = 0;
    qint64 largest = 0;
    int made = 0;
};

void countCover(Covers &covers, const QByteArray &jpeg)
{
    covers.smallest = covers.made ? qMin(covers.smallest, qint64(jpeg.size())) : jpeg.size();
    covers.largest = qMax(covers.largest, qint64(jpeg.size()));
    ++covers.made;
}

// A few dozen distinct files made with ffmpeg; each with a cover has a JPEG of its own.
QStringList makeSources(const QString &folder, Covers &covers)
{
    QStringList made;
    int n = 0;
    for (const Source &source : kSources) {
        for (int v = 0; v < kVariants; ++v, ++n) {
            MediaGen::Audio media;
            media.seconds = source.seconds + 0.5 * v;
            media.sampleRate = 44100;
            media.bitrateKbps = source.suffix == QLatin1String("ogg") ? 64 : 128;
            media.tags = {{"title", QStringLiteral("Source %1").arg(n)}, {"artist", "Someone"},
                {"album", "Source Album"}, {"genre", "Rock"}, {"date", "2001"}, {"track", "1"}};
            const QString path = QStringLiteral("%1/source%2.%3").arg(folder).arg(n).arg(source.suffix);
            QString error = MediaGen::makeAudio(path, media);
            if (error.isEmpty() && source.cover) {
                const QByteArray jpeg = photoJpeg(n);
                countCover(covers, jpeg);
                error = MediaGen::attachCover(path, jpeg, QStringLiteral("image/jpeg"));
            }
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

// One file of the tree, with the cover work the loop does for it.
struct BareJob {
    QString path;
    bool embeddedCover = false;  // the first file of an album whose files carry a cover
    QString folderImage;  // the first file of an album with a folder image instead
};

// 500 album folders of ten files each, copied from the sources and given their album's tags.
// Four albums in five carry a cover picture in every file; the others have none, and a
// "folder.jpg" beside their files.
std::vector<BareJob> makeTree(const QString &root, const QStringList &allSources, Covers &covers)
{
    QStringList withCover;
    QStringList withoutCover;
    for (int i = 0; i < allSources.size(); ++i)
        (kSources[i / kVariants].cover ? withCover : withoutCover) << allSources.at(i);
    std::vector<BareJob> jobs;
    for (int a = 0; a < kAlbums; ++a) {
        const bool embedded = a % 5 != 4;
        const QStringList &sources = embedded ? withCover : withoutCover;
        const QString folder = QStringLiteral("%1/Artist %2/Album %3").arg(root).arg(a % 60).arg(a);
        QDir().mkpath(folder);
        QString folderImage;
        if (!embedded) {
            folderImage = folder + QStringLiteral("/folder.jpg");
            const QByteArray jpeg = photoJpeg(1000 + a);
            countCover(covers, jpeg);
            QFile image(folderImage);
            if (!image.open(QIODevice::WriteOnly) || image.write(jpeg) != jpeg.size()) {
                fail(QStringLiteral("cannot write ") + folderImage);
                return {};
            }
        }
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
            BareJob job;
            job.path = path;
            job.embeddedCover = embedded && k == 0;
            job.folderImage = k == 0 ? folderImage : QString();
            jobs.push_back(job);
        }
    }
    return jobs;
}

QByteArray bytesOf(const TagLib::ByteVector &data)
{
    return QByteArray(data.data(), int(data.size()));
}

// The first picture of the file TagLib has parsed, whatever its kind.
QByteArray firstPicture(TagLib::File *file)
{
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(file)) {
        const TagLib::ID3v2::Tag *tag = mpeg->ID3v2Tag(false);
        if (!tag)
            return {};
        for (const TagLib::ID3v2::Frame *frame : tag->frameListMap()["APIC"]) {
            if (const auto *picture = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame *>(frame))
                return bytesOf(picture->picture());
        }
    } else if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(file)) {
        if (mp4->tag() && mp4->tag()->contains("covr")) {
            const TagLib::MP4::CoverArtList covers = mp4->tag()->item("covr").toCoverArtList();
            if (!covers.isEmpty())
                return bytesOf(covers.front().data());
        }
    } else if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(file)) {
        const TagLib::List<TagLib::FLAC::Picture *> pictures = flac->pictureList();
        if (!pictures.isEmpty())
            return bytesOf(pictures.front()->data());
    } else if (auto *asf = dynamic_cast<TagLib::ASF::File *>(file)) {
        if (asf->tag() && asf->tag()->attributeListMap().contains("WM/Picture"))
            return bytesOf(asf->tag()->attributeListMap()["WM/Picture"].front().toPicture().picture());
    }
    return {};
}

// Decoded at the size that fits 110 x 110, fit, and encoded as PNG with the setting the program's
// covers use.
QByteArray coverPng(const QByteArray &picture)
{
    QBuffer in;
    in.setData(picture);
    in.open(QIODevice::ReadOnly);
    QImageReader reader(&in);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(kCoverSize, kCoverSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (image.width() > kCoverSize || image.height() > kCoverSize)
        image = image.scaled(kCoverSize, kCoverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray png;
    QBuffer out(&png);
    out.open(QIODevice::WriteOnly);
    image.save(&out, "png", kCoverPngQuality);
    return png;
}

struct BareResult {
    int read = 0;
    int covers = 0;
    int folderImages = 0;
};

// The baseline: what any tag reader that also makes the covers has to do for these files, on the
// global thread pool the scan reads on.
BareResult bareLoop(const std::vector<BareJob> &jobs)
{
    std::atomic_int read{0};
    std::atomic_int covers{0};
    std::atomic_int folderImages{0};
    std::atomic_uint sum{0};
    QtConcurrent::blockingMap(jobs, [&](const BareJob &job) {
        TagLib::FileRef ref(QFile::encodeName(job.path).constData(), true, TagLib::AudioProperties::Average);
        if (ref.isNull() || !ref.tag())
            return;
        const TagLib::Tag *tag = ref.tag();
        unsigned n = tag->title().size() + tag->artist().size() + tag->album().size() + tag->genre().size()
            + tag->comment().size() + tag->track() + tag->year();
        if (const TagLib::AudioProperties *properties = ref.audioProperties())
            n += unsigned(properties->bitrate() + properties->lengthInSeconds() + properties->sampleRate()
                + properties->channels());
        sum += n;
        ++read;
        if (job.embeddedCover && !coverPng(firstPicture(ref.file())).isEmpty())
            ++covers;
        if (!job.folderImage.isEmpty()) {
            QFile image(job.folderImage);
            if (image.open(QIODevice::ReadOnly) && !image.readAll().isEmpty())
                ++folderImages;
        }
    });
    if (sum == 0)
        std::printf("(no tags read)\n");
    return {read.load(), covers.load(), folderImages.load()};
}

qint64 rowCount(const QString &table)
{
    QSqlQuery query(Database::threadConnection());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !query.next())
        return -1;
    return query.value(0).toLongLong();
}

// Every scan starts as the first one did: no cover written, nothing in the repository cache.
bool emptyScanResults()
{
    QDir artwork(AppPaths::dataLocation() + AppPaths().artworkDir);
    for (const QString &name : artwork.entryList(QDir::Files | QDir::Hidden)) {
        if (!artwork.remove(name))
            return false;
    }
    QSqlQuery query(Database::threadConnection());
    for (const char *table : {"TrackRepo", "albumsRepo", "artistsRepo"}) {
        if (!query.exec(QStringLiteral("DELETE FROM ") + QLatin1String(table)))
            return false;
    }
    return true;
}

void printFigures(const char *label, const RunFigures &figures)
{
    std::printf("%-16s median %7.1f ms (min %7.1f, max %7.1f) over %d runs, peak RSS %lld MB\n", label,
        figures.median(), figures.least(), figures.most(), int(figures.values.size()), figures.peakMb());
}

}  // namespace

int main(int argc, char *argv[])
{
    TestEnv env;
    if (!env.isValid())
        return 2;
    QCoreApplication app(argc, argv);
    const int runs = qMax(1, argc > 1 ? QByteArray(argv[1]).toInt() : 5);

    QElapsedTimer setup;
    setup.start();
    Covers covers;
    const QStringList sources = makeSources(env.makePath(QStringLiteral("sources")), covers);
    if (sources.isEmpty())
        return 1;
    const QString root = env.makePath(QStringLiteral("Music"));
    const std::vector<BareJob> jobs = makeTree(root, sources, covers);
    if (jobs.size() != size_t(kAlbums * kTracksPerAlbum))
        return 1;
    std::printf("made %lld files in %d album folders in %.1f s; %d cover JPEGs of 600 x 600, %lld to %lld "
                "bytes\n",
        qlonglong(jobs.size()), kAlbums, setup.elapsed() / 1000.0, covers.made, covers.smallest,
        covers.largest);
    std::printf("threads: the loop %d (the global pool, which the scan reads on); the scan's cover writing "
                "up to %d\n",
        QThreadPool::globalInstance()->maxThreadCount(), qMax(4, 2 * QThread::idealThreadCount()));

    Database database;
    if (!database.open(QStringLiteral("KivoData"), true) || !database.initStructure()) {
        fail(database.lastError());
        return 1;
    }

    track_data scanner;
    const auto scan = [&scanner, &root] { return scanner.scanFolder(QDir(root)); };

    // Untimed: warms the file cache, the database file and the image plugins for both.
    const BareResult warm = bareLoop(jobs);
    if (!scan().size() || !emptyScanResults())
        return 1;

    RunFigures bare, ours;
    BareResult bareResult = warm;
    qsizetype tracks = 0;
    qint64 cached = 0;
    int written = 0;
    bool complete = true;
    for (int run = 0; run < runs; ++run) {
        measure(bare, [&] { bareResult = bareLoop(jobs); });
        TrackMap result;
        measure(ours, [&] { result = scan(); });
        tracks = result.size();
        result = TrackMap();
        cached = rowCount(QStringLiteral("TrackRepo"));
        written = QDir(AppPaths::dataLocation() + AppPaths().artworkDir).entryList(QDir::Files).size();
        complete = complete && tracks == qsizetype(jobs.size()) && cached == qint64(jobs.size())
            && written == kAlbums;
        if (!emptyScanResults())
            return 1;
    }

    std::printf("parallel loop: %d files read, %d covers made as PNG, %d folder images read\n",
        bareResult.read, bareResult.covers, bareResult.folderImages);
    std::printf("scanFolder:    %lld tracks, %lld repository rows, %d covers written\n", qlonglong(tracks),
        cached, written);
    printFigures("parallel loop", bare);
    printFigures("scanFolder", ours);
    std::printf("ratio of medians scanFolder / parallel loop: %.2f (target 1.30 or less)\n",
        ours.median() / bare.median());
    if (!complete)
        std::printf("INCOMPLETE: expected %lld tracks and rows and %d covers in every run\n",
            qlonglong(jobs.size()), kAlbums);
    Database::close();
    return complete ? 0 : 1;
}
