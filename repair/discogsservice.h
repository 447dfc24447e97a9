#pragma once

#include "webrequest.h"
#include "webserviceconfig.h"

#include <QUrl>

// The Discogs database API as the client asks it: the search and release addresses, and how
// requests to the API and to the cover images it names are sent. The token, when there is one,
// goes only to the API's own host, never to an image address a reply named.
class DiscogsService
{
public:
    explicit DiscogsService(const WebServiceConfig &config);

    // "/database/search?page=1&type=release&q=" and the query, percent-encoded.
    QUrl searchUrl(const QString &query) const;
    // "/releases/" and the id; empty unless the id is a decimal number.
    QUrl releaseUrl(const QString &releaseId) const;
    WebRequest::Options apiOptions() const;
    // Image downloads: an http or https address only, paced as the API when it is on the API's host.
    WebRequest::Options imageOptions(const QUrl &image) const;
    static bool isImageAddress(const QUrl &image);

private:
    WebServiceConfig m_config;
};
