#include "fingerprinting.h"

#include "acoustidreply.h"
#include "apppaths.h"
#include "coverfiles.h"
#include "coverstore.h"
#include "repairfields.h"

#include <QDebug>
#include <QFileInfo>
#include <QNetworkAccessManager>

namespace {

constexpr qint64 kMaxLookupBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxImageBytes = 10 * 1024 * 1024;

qint16 numberOf(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? clampCount(value) : qint16(0);
}

}  // namespace

fingerprinting::fingerprinting(const WebServiceConfig &config)
    : m_config(config)
    , m_network(new QNetworkAccessManager(this))
    , m_fpcalc(new FpcalcRunner(this))
{
    connect(m_fpcalc, &FpcalcRunner::finished, this, &fingerprinting::onFpcalcFinished);
}

fingerprinting::~fingerprinting()
{
    cancel();
}

void fingerprinting::start(track t)
{
    m_fpcalc->cancel();
    if (m_lookupReply) {
        m_lookupReply->abort();
        m_lookupReply->deleteLater();
    }
    t.fingerprintRequested = true;
    m_currentTrack = t;
    FAxmlTrackDataMultiMap.clear();
    m_lookupAnswered = false;
    m_fpcalc->start(t.filepath);
}

void fingerprinting::onFpcalcFinished(const FpcalcResult &result)
{
    if (!result.ok) {
        qDebug() << "No fingerprint for" << m_currentTrack.filepath << "-" << result.error;
        reportList();
        return;
    }
    sendLookup(result.fingerprint, result.duration);
}

QUrl fingerprinting::lookupUrl(const WebServiceConfig &config, qint64 duration, const QString &fingerprint)
{
    QUrl url = config.endpoint(WebServiceConfig::Service::AcoustId, QStringLiteral("/v2/lookup"));
    if (url.isEmpty())
        return url;
    const auto encoded
        = [](const QString &value) { return QString::fromLatin1(QUrl::toPercentEncoding(value)); };
    // "meta" is a constant list the service splits at "+".
    url.setQuery(QStringLiteral("format=xml&client=") + encoded(config.acoustIdKey)
            + QStringLiteral("&duration=") + encoded(QString::number(duration))
            + QStringLiteral("&meta=recordings+releasegroups+releases+tracks+compress&fingerprint=")
            + encoded(fingerprint),
        QUrl::StrictMode);
    return url;
}

void fingerprinting::sendLookup(const QString &fingerprint, qint64 duration)
{
    const QUrl address = lookupUrl(m_config, duration, fingerprint);
    if (address.isEmpty() || m_config.acoustIdKey.isEmpty()) {
        qDebug() << "No AcoustID service or client key: no look-up";
        reportList();
        return;
    }
    WebRequest::Options options;
    options.intervalMs = m_config.acoustIdIntervalMs;
    options.timeoutMs = m_config.timeoutMs;
    options.maxBytes = kMaxLookupBytes;
    m_lookupReply = new WebRequest(m_network, address, options, this);
    connect(m_lookupReply, &WebRequest::finished, this, &fingerprinting::RequestFinished);
    m_lookupReply->start();
}

void fingerprinting::RequestFinished(const WebResult &result)
{
    qDebug() << "RequestFinished.....";
    if (m_lookupReply)
        m_lookupReply->deleteLater();
    if (!result.ok) {
        qDebug() << "AcoustID look-up failed:" << result.error;
        reportList();
        return;
    }
    const AcoustIdReply reply
        = AcoustIdReply::parse(result.body, m_config.host(WebServiceConfig::Service::CoverArt));
    if (!reply.ok) {
        qDebug() << "AcoustID answered with an error:" << reply.error;
        reportList();
        return;
    }
    // Each candidate under the track's id; the map lists the last inserted first, so they go in
    // the service's order.
    for (const FingerprintMatch &match : reply.matches) {
        track candidate;
        candidate.id = m_currentTrack.id;
        candidate.tracknumber = numberOf(match.position);
        candidate.year = numberOf(match.year);
        candidate.duration = double(match.duration);
        candidate.score = match.score;
        candidate.artistname = match.artist;
        candidate.albumname = match.album;
        candidate.trackname = match.title;
        candidate.coverUrl = match.coverUrl;
        candidate.reservedShort3 = match.trackCount;
        FAxmlTrackDataMultiMap.insert(m_currentTrack.id, candidate);
    }
    qDebug() << "FAxmlTrackDataMultiMap..." << FAxmlTrackDataMultiMap.size();
    reportList();
}

void fingerprinting::CancelRequestTimeout()
{
    if (m_lookupAnswered)
        return;
    m_fpcalc->cancel();
    if (m_lookupReply) {
        m_lookupReply->abort();
        m_lookupReply->deleteLater();
    }
    reportList();
}

void fingerprinting::reportList()
{
    if (m_lookupAnswered)
        return;
    m_lookupAnswered = true;
    emit fingerprintfinishedList(m_currentTrack, FAxmlTrackDataMultiMap);
}

void fingerprinting::requestCover(const QString &coverUrl, const QString &coverPath)
{
    if (m_coverReply) {
        m_coverReply->abort();
        m_coverReply->deleteLater();
    }
    m_coverAnswered = false;
    m_coverPath = coverPath;
    if (coverUrl.isEmpty() && coverPath.isEmpty()) {
        reportCover(false);
        return;
    }
    if (!coverPath.isEmpty() && QFileInfo(coverPath).isFile()) {
        reportCover(true);  // the album's cover is there already
        return;
    }
    const QUrl address(coverUrl);
    const QString scheme = address.scheme().toLower();
    if (coverPath.isEmpty() || !isInsideArtworkFolder(coverPath) || address.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        reportCover(false);
        return;
    }
    m_currentTrack.coverUrl = coverUrl;
    WebRequest::Options options;
    options.intervalMs = m_config.coverIntervalMs;
    options.timeoutMs = m_config.timeoutMs;
    options.maxBytes = kMaxImageBytes;
    m_coverReply = new WebRequest(m_network, address, options, this);
    connect(m_coverReply, &WebRequest::finished, this, &fingerprinting::onFinishedCover);
    m_coverReply->start();
}

// The service answers with the image or sends the client on to it; either way only bytes that
// decode as an image become the cover.
void fingerprinting::onFinishedCover(const WebResult &result)
{
    if (m_coverReply)
        m_coverReply->deleteLater();
    QString error = result.error;
    const bool stored = result.ok && storeDownloadedCover(result.body, m_coverPath, &error);
    if (!stored)
        qDebug() << "Server Error fingerprinting" << error;
    reportCover(stored);
}

void fingerprinting::reportCover(bool stored)
{
    if (m_coverAnswered)
        return;
    m_coverAnswered = true;
    if (stored) {
        m_currentTrack.cover = m_coverPath;
        m_currentTrack.hasCover = true;
    } else {
        m_currentTrack.cover = AppPaths().noArtworkUrl;
        m_currentTrack.hasCover = false;
    }
    emit fingerprintCoverRequestFinished(m_currentTrack, kSourceId);
}

void fingerprinting::cancel()
{
    m_lookupAnswered = true;
    m_coverAnswered = true;
    m_fpcalc->cancel();
    for (WebRequest *request : {m_lookupReply.data(), m_coverReply.data()}) {
        if (request) {
            request->abort();
            request->deleteLater();
        }
    }
}
