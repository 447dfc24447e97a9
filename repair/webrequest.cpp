#include "webrequest.h"

#include "hosthealth.h"
#include "requestpacer.h"
#include "webserviceconfig.h"

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <algorithm>
#include <utility>

namespace {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

// A Retry-After is honoured for a day at most, as RequestPacer holds a host.
constexpr qint64 kLongestPauseMs = 24 * 3600 * 1000;

// Why a host was given up on, for the log.
QString pauseReason(qint64 ms)
{
    return QStringLiteral("asked for a pause of %1 s").arg((ms + 999) / 1000);
}

// `text` is all digits, between `fewest` and `most` of them.
bool readNumber(const QByteArray &text, int fewest, int most, int *value)
{
    if (text.size() < fewest || text.size() > most)
        return false;
    int n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        n = n * 10 + (c - '0');
    }
    *value = n;
    return true;
}

int monthOf(const QByteArray &name)
{
    static const char *const kMonths[]
        = {"jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    for (int i = 0; i < 12; ++i) {
        if (name.compare(kMonths[i], Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

bool isWeekday(const QByteArray &name)
{
    static const char *const kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
    static const char *const kRests[] = {"day", "sday", "nesday", "rsday", "day", "urday", "day"};
    for (int i = 0; i < 7; ++i) {
        if (name.compare(kDays[i], Qt::CaseInsensitive) == 0
            || name.compare(QByteArray(kDays[i]) + kRests[i], Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

// "08:49:37"
QTime timeOf(const QByteArray &text)
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (text.size() != 8 || text[2] != ':' || text[5] != ':' || !readNumber(text.left(2), 2, 2, &hour)
        || !readNumber(text.mid(3, 2), 2, 2, &minute) || !readNumber(text.mid(6, 2), 2, 2, &second))
        return QTime();
    return QTime(hour, minute, qMin(second, 59));  // a leap second reads as the one before
}

// An HTTP date in UTC, in any of the forms servers send: "Sun, 06 Nov 1994 08:49:37 GMT",
// "Sunday, 06-Nov-94 08:49:37 GMT" or "Sun Nov  6 08:49:37 1994". Qt's RFC 2822 reader refuses
// the zone "GMT", and knows neither of the older forms.
QDateTime httpDate(const QByteArray &text)
{
    const QList<QByteArray> parts
        = QByteArray(text).replace(',', ' ').replace('-', ' ').simplified().split(' ');
    int day = 0;
    int month = 0;
    int year = 0;
    QTime time;
    if (parts.size() == 6) {
        const QByteArray zone = parts[5].toUpper();
        if (zone != "GMT" && zone != "UTC")
            return QDateTime();
        if (!readNumber(parts[1], 1, 2, &day) || !readNumber(parts[3], 2, 4, &year) || parts[3].size() == 3)
            return QDateTime();
        if (parts[3].size() == 2) {
            // A two-digit year more than 50 years ahead is one of the past century.
            year += 2000;
            if (year > QDate::currentDate().year() + 50)
                year -= 100;
        }
        month = monthOf(parts[2]);
        time = timeOf(parts[4]);
    } else if (parts.size() == 5) {
        if (!readNumber(parts[2], 1, 2, &day) || !readNumber(parts[4], 4, 4, &year))
            return QDateTime();
        month = monthOf(parts[1]);
        time = timeOf(parts[3]);
    } else {
        return QDateTime();
    }
    const QDate date(year, month, day);
    if (!isWeekday(parts[0]) || !date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
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
    if (RequestPacer::heldOffMs(m_paceKey) <= kMaxRetryWaitMs) {
        const qint64 turn = RequestPacer::reserve(m_paceKey, m_options.intervalMs);
        if (turn <= kMaxRetryWaitMs) {
            waitTurn(turn);
            return;
        }
    }
    m_fromCache = true;  // nothing was asked, so nothing counts for the host
    QTimer::singleShot(0, this, [this] { failForPause(); });
}

void WebRequest::waitTurn(qint64 ms)
{
    disconnect(&m_timer, nullptr, this, nullptr);
    connect(&m_timer, &QTimer::timeout, this, &WebRequest::onTurn);
    m_timer.start(int(qMin<qint64>(ms, kMaxRetryWaitMs)));
}

// A host that asked for a longer pause than a retry waits for is not waited on, nor asked again in
// this run: one resting host must not hold up every later track. A turn that is only queued past
// the longest wait fails alone.
void WebRequest::failForPause()
{
    const qint64 held = RequestPacer::heldOffMs(m_paceKey);
    if (held > kMaxRetryWaitMs)
        HostHealth::giveUp(m_paceKey, m_url.host(), pauseReason(held));
    fail(QStringLiteral("the host asked for a pause"));
}

void WebRequest::onTurn()
{
    const qint64 wait = RequestPacer::claim(m_paceKey, m_options.intervalMs);
    if (wait > kMaxRetryWaitMs) {
        disconnect(&m_timer, nullptr, this, nullptr);
        failForPause();
        return;
    }
    if (wait > 0) {
        m_timer.start(int(wait));
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
    if (text.size() > 64)
        return -1;  // no form is this long: junk, not a pause
    const bool digits = std::all_of(text.cbegin(), text.cend(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        // Too many digits to read is longer than any pause honoured.
        bool ok = false;
        const qint64 seconds = text.toLongLong(&ok);
        return ok ? qMin(seconds, kLongestPauseMs / 1000) * 1000 : kLongestPauseMs;
    }
    QDateTime when = httpDate(text);
    if (!when.isValid())
        when = QDateTime::fromString(QString::fromLatin1(text), Qt::RFC2822Date);  // "+0100" zones
    if (!when.isValid())
        return -1;
    return qBound<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(when), kLongestPauseMs);
}

void WebRequest::onReplyFinished()
{
    markSent();
    WebResult result;
    result.status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = m_reply->error();
    if (result.status == 503 || result.status == 429) {
        const qint64 asked = retryAfterMs(m_reply->rawHeader("Retry-After"));
        if (asked > kMaxRetryWaitMs) {
            // Spared as long as it asked, and not asked again in this run: ends below.
            RequestPacer::holdOff(m_paceKey, asked);
            HostHealth::giveUp(m_paceKey, m_url.host(), pauseReason(asked));
        } else if (!m_retried) {
            // The host asked for a short pause: it is given one, then asked once more.
            const qint64 wait = asked >= 0 ? asked : backOffMs(m_options.intervalMs);
            RequestPacer::holdOff(m_paceKey, wait);
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
