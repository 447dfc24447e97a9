#include "discogsapi.h"

#include "applog.h"
#include "apppaths.h"
#include "coverstore.h"
#include "kivodb.h"
#include "repairfields.h"

#include <QDebug>
#include <QFileInfo>
#include <QNetworkAccessManager>

DiscogsApi::DiscogsApi(const WebServiceConfig &config)
    : m_config(config)
    , m_service(config)
    , m_network(new QNetworkAccessManager(this))
{ }

DiscogsApi::~DiscogsApi()
{
    cancel();
}

bool DiscogsApi::setRequestType(qint16 type)
{
    requestType = type;
    return true;
}

void DiscogsApi::searchTrack(track t)
{
    startLookup(t);
    separator = QStringLiteral("AND");
    if (searchTerms(currentTrack, false).isEmpty()) {
        finish(currentTrack, false);  // nothing known to search by
        return;
    }
    sendSearch();
}

void DiscogsApi::searchCover(track t)
{
    requestType = 2;
    searchTrack(t);
}

void DiscogsApi::searchAlbum(track t)
{
    requestType = 1;
    searchTrack(t);
}

void DiscogsApi::cancel()
{
    m_answered = true;
    if (m_request) {
        m_request->abort();
        m_request->deleteLater();
    }
}

// Nothing of an earlier lookup reaches this one.
void DiscogsApi::startLookup(const track &t)
{
    cancel();
    currentTrack = t;
    coverPath.clear();
    albumMap.clear();
    searchResults.clear();
    matchedAlbum.clear();
    matchedArtist.clear();
    matchedCoverUrl.clear();
    matchedReleaseId.clear();
    releaseTracks.clear();
    m_releaseRead = false;
    m_filled = false;
    m_failed = false;
    m_answered = false;
}

QStringList DiscogsApi::searchTerms(const track &t, bool loose)
{
    const QString artist = t.hasArtist && isRealText(t.artistname) ? t.artistname.trimmed() : QString();
    const QString album = t.hasAlbum && isRealText(t.albumname) ? t.albumname.trimmed() : QString();
    const QString title = t.hasTitle && isRealTitle(t.trackname) ? t.trackname.trimmed() : QString();
    const QString genre = isRealText(t.genre) ? t.genre.trimmed() : QString();
    QStringList terms;
    const auto add = [&terms](const char *key, const QString &value) {
        if (!value.isEmpty())
            terms << QLatin1String(key) + value;
    };
    if (loose) {
        add("album:", album);
        add("artist:", artist);
        return terms;
    }
    add("artist:", artist);
    add("album:", album);
    add("title:", title);
    add("genre:", genre);
    if (t.year > 0)
        add("year:", QString::number(t.year));
    return terms;
}

QString DiscogsApi::searchQuery(const track &t, const QString &separator)
{
    return separator == QLatin1String("&") ? searchTerms(t, true).join(QLatin1Char(' '))
                                           : searchTerms(t, false).join(QStringLiteral(" AND "));
}

QUrl DiscogsApi::buildSearchUrl(const QString &separator) const
{
    return m_service.searchUrl(searchQuery(currentTrack, separator));
}

WebRequest *DiscogsApi::get(const QUrl &url, const WebRequest::Options &options)
{
    if (m_request)
        m_request->deleteLater();
    m_request = new WebRequest(m_network, url, options, this);
    return m_request;
}

void DiscogsApi::sendSearch()
{
    WebRequest::Options options = m_service.apiOptions();
    options.cache = m_replies;
    WebRequest *search = get(buildSearchUrl(separator), options);
    connect(search, &WebRequest::finished, this, &DiscogsApi::slot_parse);
    search->start();
}

void DiscogsApi::requestRelease()
{
    const QUrl address = m_service.releaseUrl(matchedReleaseId);
    if (address.isEmpty()) {
        finish(currentTrack, m_filled);
        return;
    }
    WebRequest::Options options = m_service.apiOptions();
    options.cache = m_replies;
    WebRequest *release = get(address, options);
    connect(release, &WebRequest::finished, this, &DiscogsApi::slot_parse_search_response_SecondApi);
    release->start();
}

// Takes the album's cover from the artwork cache, else downloads it there.
void DiscogsApi::downloadCover(const QString &url, const QString &name)
{
    const AppPaths paths;
    if (paths.sanitizeName(name).isEmpty()) {
        finish(currentTrack, m_filled);  // no name to store a cover under
        return;
    }
    coverPath = paths.artworkCachePath(name);
    if (QFileInfo(coverPath).isFile()) {
        currentTrack.cover = coverPath;
        currentTrack.hasCover = true;
        finish(currentTrack, true);
        return;
    }
    const QUrl address(url);
    if (url.contains(QLatin1String("noimage")) || !DiscogsService::isImageAddress(address)) {
        coverPath.clear();
        finish(currentTrack, m_filled);
        return;
    }
    WebRequest *download = get(address, m_service.imageOptions(address));
    connect(download, &WebRequest::finished, this, &DiscogsApi::onFinished);
    download->start();
}

void DiscogsApi::onFinished(const WebResult &result)
{
    QString error = result.error;
    if (result.ok && storeDownloadedCover(result.body, coverPath, &error)) {
        currentTrack.cover = coverPath;
        currentTrack.hasCover = true;
        writeLog(appLogFile(), QStringLiteral("Discogs Api for Downloaded Cover Art - "),
            currentTrack.originalPath);
        finish(currentTrack, true);
        return;
    }
    qDebug() << "Server Error cover" << error;
    m_failed = m_failed || !result.ok;
    coverPath.clear();
    finish(currentTrack, m_filled);
}

// The release's tracks become repository rows of the track's folder, and the album request's
// candidates.
void DiscogsApi::saveToDatabase()
{
    albumMap.clear();
    if (releaseTracks.isEmpty())
        return;
    const AppPaths paths;
    QList<track> rows;
    for (const DiscogsReleaseInfo &entry : std::as_const(releaseTracks)) {
        track row = paths.clearTrack(track{});
        row.trackname = entry.title;
        row.tracknumber = entry.trackNumber;
        row.duration = double(entry.duration);
        row.albumname = entry.album;
        row.artistname = entry.artist;
        row.genre = entry.genre;
        row.year = entry.year;
        row.cover = coverPath;
        row.coverUrl.clear();
        row.folderLocation = currentTrack.folderLocation;
        row.reservedShort3 = clampCount(releaseTracks.size());
        rows << row;
    }
    if (!kivoDB().upsertRepoTracks(rows))
        qDebug() << "Discogs release not stored:" << kivoDB::lastError();
    for (track row : std::as_const(rows)) {
        row.id = currentTrack.id;
        row.score = 0;
        albumMap.insert(currentTrack.id, row);
    }
}

void DiscogsApi::finish(const track &t, bool updated)
{
    if (m_answered)
        return;
    m_answered = true;
    if (m_releaseRead && requestType != 2)
        saveToDatabase();
    switch (requestType) {
    case 1:
        emit DiscogsAlbumRequestFinished(albumMap);
        emit DiscogsAlbumRequest(t);
        break;
    case 2:
        emit DiscogsCoverRequestFinished(t, kSourceId);
        break;
    case 0:
        emit DiscogsApifinished(t, kSourceId, updated);
        break;
    default:
        emit DiscogsApifinished(t, kSourceId, false);
        break;
    }
}
