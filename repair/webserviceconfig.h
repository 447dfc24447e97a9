#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// Where the repair's web services are, what they are asked with and how often. Each value comes
// from the environment when set there, else from the program's settings (organisation "Corvane",
// application "Corvane-Media-Rarazarur"), else from the default; the gaps between requests follow
// the services' published limits and are plain members so tests can shorten them.
class WebServiceConfig
{
public:
    enum class Service { MusicBrainz, Discogs, AcoustId, CoverArt };

    // The values as the environment and the settings give them now.
    static WebServiceConfig load();

    // "MusicBrainzHost", "DiscogsHost", "AcoustIdHost", "CoverArtHost".
    static QString settingsKey(Service service);
    // "KIVO_MUSICBRAINZ_HOST", "KIVO_DISCOGS_HOST", "KIVO_ACOUSTID_HOST", "KIVO_COVERART_HOST".
    static QString environmentKey(Service service);
    static QString defaultHost(Service service);
    // A host text as the settings hold it: "none" or "off" switch the service off (an empty URL),
    // a text without scheme means https, and anything but an http or https address is refused
    // (empty too), so a mistyped override never reaches some other server.
    static QUrl parseHost(const QString &text);
    // "KiVO/<version> (...)": the services ask every client to name itself and its version.
    static QByteArray userAgent();
    // 25 requests a minute without a token, 60 with one.
    static int discogsIntervalFor(bool withToken);

    // The service's address; empty when it is switched off or its address is unusable.
    QUrl host(Service service) const { return m_hosts[int(service)]; }
    void setHost(Service service, const QUrl &host) { m_hosts[int(service)] = host; }
    // The service's address followed by `path` (which begins with "/"); empty when it is off.
    QUrl endpoint(Service service, const QString &path) const;

    QString acoustIdKey;  // "AcoustIdClientKey", KIVO_ACOUSTID_KEY: no look-up without one
    QString discogsToken;  // "DiscogsToken", KIVO_DISCOGS_TOKEN: optional
    int timeoutMs = 15000;  // one request, from sending it to its last byte
    // Gaps between two requests to one host, 2 % above the published limits so that network
    // jitter never brings two requests closer than the limit where they arrive.
    int musicBrainzIntervalMs = 1020;  // 1 a second
    int acoustIdIntervalMs = 340;  // 3 a second
    int discogsIntervalMs = 2450;  // 25 a minute without a token
    int coverIntervalMs = 1020;  // cover images: no published limit, so MusicBrainz's

private:
    QUrl m_hosts[4];
};
