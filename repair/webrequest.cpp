#include "webrequest.h"

#include "requestpacer.h"
#include "webserviceconfig.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <limits>

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
    const qint64 wait = RequestPacer::reserve(m_paceKey, m_options.intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &WebRequest::onTurn);
    m_timer.start(int(qMin<qint64>(wait, std::numeric_limits<int>::max())));
}

void WebRequest::onTurn()
{
    const qint64 wait = RequestPacer::claim(m_paceKey, m_options.intervalMs);
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
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &WebRequest::onReplyFinished);
    // A declared or delivered size above the limit ends the request at once.
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (received > m_options.maxBytes || total > m_options.maxBytes)
            fail(QStringLiteral("reply larger than %1 bytes").arg(m_options.maxBytes));
    });
    connect(&m_timer, &QTimer::timeout, this, [this] { fail(QStringLiteral("timed out")); });
    m_timer.start(m_options.timeoutMs);
}

void WebRequest::onReplyFinished()
{
    WebResult result;
    result.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_reply->error() == QNetworkReply::OperationCanceledError) {
        result.error = QStringLiteral("timed out");  // the transfer time-out; nothing else aborts it
    } else if (m_reply->error() != QNetworkReply::NoError) {
        result.error = m_reply->errorString();
    } else if (result.status < 200 || result.status > 299) {
        result.error = QStringLiteral("HTTP status %1").arg(result.status);
    } else {
        result.body = m_reply->read(m_options.maxBytes + 1);
        if (result.body.size() > m_options.maxBytes) {
            result.body.clear();
            result.error = QStringLiteral("reply larger than %1 bytes").arg(m_options.maxBytes);
        } else {
            result.ok = true;
        }
    }
    end(result);
}

void WebRequest::fail(const QString &reason)
{
    WebResult result;
    if (m_reply)
        result.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reason;
    end(result);
}

void WebRequest::end(const WebResult &result)
{
    if (m_ended)
        return;
    m_ended = true;
    m_timer.stop();
    dropReply();
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
