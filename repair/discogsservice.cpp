#include "discogsservice.h"

namespace {

constexpr qint64 kMaxApiBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxImageBytes = 10 * 1024 * 1024;

}  // namespace

DiscogsService::DiscogsService(const WebServiceConfig &config)
    : m_config(config)
{ }

QUrl DiscogsService::searchUrl(const QString &query) const
{
    QUrl url = m_config.endpoint(WebServiceConfig::Service::Discogs, QStringLiteral("/database/search"));
    if (url.isEmpty())
        return url;
    url.setQuery(
        QStringLiteral("page=1&type=release&q=") + QString::fromLatin1(QUrl::toPercentEncoding(query)),
        QUrl::StrictMode);
    return url;
}

QUrl DiscogsService::releaseUrl(const QString &releaseId) const
{
    const QString id = releaseId.trimmed();
    bool number = !id.isEmpty() && id.size() <= 20;
    for (const QChar c : id)
        number = number && c.isDigit() && c.unicode() < 128;
    if (!number)
        return QUrl();
    return m_config.endpoint(WebServiceConfig::Service::Discogs, QStringLiteral("/releases/") + id);
}

WebRequest::Options DiscogsService::apiOptions() const
{
    WebRequest::Options options;
    options.intervalMs = m_config.discogsIntervalMs;
    options.timeoutMs = m_config.timeoutMs;
    options.maxBytes = kMaxApiBytes;
    options.headers.append({QByteArrayLiteral("Accept"), QByteArrayLiteral("application/json")});
    if (!m_config.discogsToken.isEmpty())
        options.headers.append({QByteArrayLiteral("Authorization"),
            QByteArrayLiteral("Discogs token=") + m_config.discogsToken.toUtf8()});
    return options;
}

WebRequest::Options DiscogsService::imageOptions(const QUrl &image) const
{
    const QUrl api = m_config.host(WebServiceConfig::Service::Discogs);
    const bool apiHost = image.host().compare(api.host(), Qt::CaseInsensitive) == 0
        && image.port(image.scheme() == QLatin1String("https") ? 443 : 80)
            == api.port(api.scheme() == QLatin1String("https") ? 443 : 80);
    WebRequest::Options options;
    options.intervalMs
        = apiHost ? qMax(m_config.discogsIntervalMs, m_config.coverIntervalMs) : m_config.coverIntervalMs;
    options.timeoutMs = m_config.timeoutMs;
    options.maxBytes = kMaxImageBytes;
    return options;
}

bool DiscogsService::isImageAddress(const QUrl &image)
{
    const QString scheme = image.scheme().toLower();
    return image.isValid() && !image.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}
