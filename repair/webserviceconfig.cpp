#include "webserviceconfig.h"

#include <QDebug>
#include <QSettings>

#ifndef KIVO_VERSION
#define KIVO_VERSION "3.9"
#endif

namespace {

constexpr WebServiceConfig::Service kServices[]
    = {WebServiceConfig::Service::MusicBrainz, WebServiceConfig::Service::Discogs,
        WebServiceConfig::Service::AcoustId, WebServiceConfig::Service::CoverArt};

const char kAcoustIdKeySetting[] = "AcoustIdClientKey";
const char kAcoustIdKeyEnvironment[] = "KIVO_ACOUSTID_KEY";
const char kDiscogsTokenSetting[] = "DiscogsToken";
const char kDiscogsTokenEnvironment[] = "KIVO_DISCOGS_TOKEN";

// The environment's value when it is set (even empty: an empty key switches the key off), else
// the setting's.
QString value(const QSettings &settings, const QString &key, const QString &environment, bool *found)
{
    const QByteArray name = environment.toLatin1();
    if (qEnvironmentVariableIsSet(name.constData())) {
        *found = true;
        return qEnvironmentVariable(name.constData()).trimmed();
    }
    *found = settings.contains(key);
    return settings.value(key).toString().trimmed();
}

}  // namespace

WebServiceConfig WebServiceConfig::load()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Corvane"),
        QStringLiteral("Corvane-Media-Rarazarur"));
    WebServiceConfig config;
    for (const Service service : kServices) {
        bool found = false;
        const QString text = value(settings, settingsKey(service), environmentKey(service), &found);
        config.setHost(service, parseHost(found ? text : defaultHost(service)));
        if (found && !text.isEmpty() && config.host(service).isEmpty()
            && text.compare(QLatin1String("none"), Qt::CaseInsensitive) != 0
            && text.compare(QLatin1String("off"), Qt::CaseInsensitive) != 0)
            qWarning() << "Unusable web service address" << text << "for" << settingsKey(service)
                       << "- the service is not asked";
    }
    bool found = false;
    config.acoustIdKey
        = value(settings, QLatin1String(kAcoustIdKeySetting), QLatin1String(kAcoustIdKeyEnvironment), &found);
    config.discogsToken = value(
        settings, QLatin1String(kDiscogsTokenSetting), QLatin1String(kDiscogsTokenEnvironment), &found);
    config.discogsIntervalMs = discogsIntervalFor(!config.discogsToken.isEmpty());
    return config;
}

QString WebServiceConfig::settingsKey(Service service)
{
    switch (service) {
    case Service::MusicBrainz:
        return QStringLiteral("MusicBrainzHost");
    case Service::Discogs:
        return QStringLiteral("DiscogsHost");
    case Service::AcoustId:
        return QStringLiteral("AcoustIdHost");
    case Service::CoverArt:
        return QStringLiteral("CoverArtHost");
    }
    return QString();
}

QString WebServiceConfig::environmentKey(Service service)
{
    switch (service) {
    case Service::MusicBrainz:
        return QStringLiteral("KIVO_MUSICBRAINZ_HOST");
    case Service::Discogs:
        return QStringLiteral("KIVO_DISCOGS_HOST");
    case Service::AcoustId:
        return QStringLiteral("KIVO_ACOUSTID_HOST");
    case Service::CoverArt:
        return QStringLiteral("KIVO_COVERART_HOST");
    }
    return QString();
}

QString WebServiceConfig::defaultHost(Service service)
{
    switch (service) {
    case Service::MusicBrainz:
        return QStringLiteral("https://musicbrainz.org");
    case Service::Discogs:
        return QStringLiteral("https://api.discogs.com");
    case Service::AcoustId:
        return QStringLiteral("https://api.acoustid.org");
    case Service::CoverArt:
        // The maker's large-cover service; like its update feed, the address is a placeholder.
        return QStringLiteral("http://covers.corvane.com");
    }
    return QString();
}

QUrl WebServiceConfig::parseHost(const QString &text)
{
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0
        || trimmed.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0)
        return QUrl();
    if (!trimmed.contains(QLatin1String("://")))
        trimmed.prepend(QLatin1String("https://"));
    QUrl url(trimmed, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.hasQuery()
        || url.hasFragment())
        return QUrl();
    return url;
}

QByteArray WebServiceConfig::userAgent()
{
    return QByteArrayLiteral("KiVO/" KIVO_VERSION " ( Corvane Media Organiser )");
}

int WebServiceConfig::discogsIntervalFor(bool withToken)
{
    return withToken ? 1020 : 2450;
}

QUrl WebServiceConfig::endpoint(Service service, const QString &path) const
{
    QUrl url = host(service);
    if (url.isEmpty())
        return url;
    QString base = url.path();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    url.setPath(base + path);
    return url;
}
