#include "webrequest.h"

#include "hosthealth.h"
#include "requestpacer.h"
#include "webserviceconfig.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <limits>
#include <utility>

namespace {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

}  // namespace

WebRequest::WebRequest(
    QNetworkAccessManager *network, const QUrl &url, const Options &options, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_url(url)
    , m_options(options)
{
    m_timer.setSingleShot(true);
    // Turns are kept to the millisecond: a coarse timer may fire early.
    m_timer.setTimerType(Qt::PreciseTimer);
}

WebRequest::~WebRequest()
{
    dropReply();
}

void WebRequest::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!isWebAddress(m_url) || !m_network) {
        QTimer::singleShot(
            0, this, [this] { fail(QStringLiteral("not a web address: ") + m_url.toString()); });
        return;
    }
    m_paceKey = RequestPacer::keyFor(m_url.scheme(), m_url.host(),
        m_url.port(m_url.scheme().toLower() == QLatin1String("https") ? 443 : 80));
    const QString address = m_url.toString(QUrl::FullyEncoded);
    if (m_options.cache && m_options.cache->contains(address)) {
        m_fromCache = true;
        const WebResult kept = m_options.cache->value(address);
        QTimer::singleShot(0, this, [this, kept] { end(kept); });
        return;
    }
    if (HostHealth::isGivenUp(m_paceKey)) {
        m_fromCache = true;  // nothing was asked, so nothing counts for the host
        QTimer::singleShot(0, this, [this] { fail(QStringLiteral("host not asked again in this run")); });
        return;
    }
    waitTurn(RequestPacer::reserve(m_paceKey, m_options.intervalMs));
}

void WebRequest::waitTurn(qint64 ms)
{
    disconnect(&m_timer, nullptr, this, nullptr);
    connect(&m_timer, &QTimer::timeout, this, &WebRequest::onTurn);
    m_timer.start(int(qMin<qint64>(ms, std::numeric_limits<int>::max())));
}

void WebRequest::onTurn()
{
    const qint64 wait = RequestPacer::claim(m_paceKey, m_options.intervalMs);
    // A host that asked for a longer pause than a retry waits for is not waited on either.
    if (wait > kMaxRetryWaitMs) {
        disconnect(&m_timer, nullptr, this, nullptr);
        fail(QStringLiteral("the host asked for a pause"));
        return;
    }
    if (wait > 0) {
        m_timer.start(int(qMin<qint64>(wait, std::numeric_limits<int>::max())));
        return;
    }
    disconnect(&m_timer, nullptr, this, nullptr);
    send();
}

void WebRequest::send()
{
    QNetworkRequest request(m_url);
    request.setHeader(QNetworkRequest::UserAgentHeader, WebServiceConfig::userAgent());
    request.setTransferTimeout(m_options.timeoutMs);
    bool credentials = false;
    for (const auto &header : std::as_const(m_options.headers)) {
        request.setRawHeader(header.first, header.second);
        credentials = credentials || header.first.compare("Authorization", Qt::CaseInsensitive) == 0;
    }
    // A redirect keeps the request's headers, so a request with credentials follows none to
    // another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
        credentials ? QNetworkRequest::SameOriginRedirectPolicy : QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(5);
    m_body.clear();
    m_sentMarked = false;
    m_reply = m_network->get(request);
    // The network reads no further ahead than this, so the limit is checked before more arrives.
    m_reply->setReadBufferSize(qBound(qint64(16 * 1024), m_options.maxBytes + 1, qint64(256 * 1024)));
    connect(m_reply, &QNetworkReply::requestSent, this, &WebRequest::markSent);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &WebRequest::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &WebRequest::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &WebRequest::onReplyFinished);
    connect(&m_timer, &QTimer::timeout, this, [this] { fail(QStringLiteral("timed out"), true); });
    m_timer.start(m_options.timeoutMs);
}

void WebRequest::markSent()
{
    if (m_sentMarked)
        return;
    m_sentMarked = true;
    RequestPacer::markSent(m_paceKey);
}

void WebRequest::onMetaData()
{
    markSent();
    if (!m_reply)
        return;
    const QVariant declared = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (declared.isValid() && declared.toLongLong() > m_options.maxBytes)
        fail(QStringLiteral("reply larger than %1 bytes").arg(m_options.maxBytes));
}

void WebRequest::onReadyRead()
{
    markSent();
    if (!m_reply)
        return;
    m_body += m_reply->read(m_options.maxBytes + 1 - m_body.size());
    if (m_body.size() > m_options.maxBytes)
        fail(QStringLiteral("reply larger than %1 bytes").arg(m_options.maxBytes));
}

qint64 WebRequest::retryAfterMs(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok)
        return seconds < 0 ? -1 : qMin<qint64>(seconds, 24 * 3600) * 1000;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);
    if (!when.isValid())
        return -1;
    return qMax<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when));
}

void WebRequest::onReplyFinished()
{
    markSent();
    WebResult result;
    result.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = m_reply->error();
    if ((result.status == 503 || result.status == 429) && !m_retried) {
        // The host asked for a pause: it is given one, then asked once more.
        const qint64 asked = retryAfterMs(m_reply->rawHeader("Retry-After"));
        const qint64 wait = asked >= 0 ? asked : backOffMs(m_options.intervalMs);
        RequestPacer::holdOff(m_paceKey, wait);
        if (wait <= kMaxRetryWaitMs) {
            m_retried = true;
            m_timer.stop();
            dropReply();
            waitTurn(wait);
            return;
        }
    }
    if (result.status == 0 && error == QNetworkReply::OperationCanceledError) {
        result.error = QStringLiteral("timed out");  // the transfer time-out; nothing else aborts it
    } else if (result.status == 0 && error != QNetworkReply::NoError) {
        result.error = m_reply->errorString();
    } else if (result.status < 200 || result.status > 299) {
        result.error = QStringLiteral("HTTP status %1").arg(result.status);
    } else if (error != QNetworkReply::NoError) {
        // A connection lost after a good status leaves a cut-off body: never an answer to keep.
        result.error = m_reply->errorString();
    } else {
        onReadyRead();
        if (m_ended)
            return;  // over the limit: already ended
        result.body = std::exchange(m_body, QByteArray());
        result.ok = true;
    }
    end(result);
}

void WebRequest::fail(const QString &reason, bool hostFailed)
{
    WebResult result;
    if (m_reply)
        result.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reason;
    if (hostFailed)
        result.status = 0;
    end(result);
}

void WebRequest::end(const WebResult &result)
{
    if (m_ended)
        return;
    m_ended = true;
    m_timer.stop();
    dropReply();
    if (!m_fromCache && !m_paceKey.isEmpty()) {
        // No answer, or a server error, counts against the host; any other answer for it.
        HostHealth::record(m_paceKey, m_url.host(), result.status > 0 && result.status < 500);
        // An address the host answered for good is not asked again in this run.
        if (m_options.cache && (result.ok || result.status == 404))
            m_options.cache->insert(m_url.toString(QUrl::FullyEncoded), result);
    }
    emit finished(result);
}

void WebRequest::abort()
{
    m_ended = true;
    m_timer.stop();
    dropReply();
}

void WebRequest::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply *reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}
