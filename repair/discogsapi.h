#pragma once

#include "discogsrecords.h"
#include "discogsservice.h"
#include "taglibbuilder.h"
#include "track.h"
#include "trackmerger.h"
#include "webrequest.h"
#include "webserviceconfig.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;

// The Discogs source of the repair run: searches the Discogs database for a track, picks the
// release that fits it best, may fetch that release's tracklist to fill the track's missing
// title, album, artist, genre, year and number, and may download the release's cover. One
// lookup at a time; every lookup ends in exactly one answer, by its request type:
//   0 (a track's tags): DiscogsApifinished, with `tagupdated` true when the lookup filled a
//     field or stored a cover;
//   1 (an album's tracks): DiscogsAlbumRequestFinished with the release's tracks as candidates
//     under the track's id, then DiscogsAlbumRequest;
//   2 (an album's cover): DiscogsCoverRequestFinished.
// Everything a lookup uses is reset when the next one starts.
class DiscogsApi : public QObject
{
    Q_OBJECT

public:
    static constexpr qint8 kSourceId = 3;

    explicit DiscogsApi(const WebServiceConfig &config = WebServiceConfig::load());
    ~DiscogsApi() override;

    bool setRequestType(qint16 type);
    void searchTrack(track t);
    void searchCover(track t);
    void searchAlbum(track t);
    // Ends the lookup in flight without an answer.
    void cancel();
    // Searches and releases are asked once per run: the track, album and cover steps of a folder
    // ask for the same addresses, and the service allows only a few requests a minute.
    void forgetReplies() { m_replies->clear(); }
    // The last lookup ended on a failed request (not on an answer that held no match).
    bool lookupFailed() const { return m_failed; }

    // The search terms for the track: "artist:", "album:", "title:", "genre:" and "year:" terms of
    // its real values, joined by " AND "; with `separator` "&" only the album and artist terms, album
    // first (the looser second search).
    static QString searchQuery(const track &t, const QString &separator);
    static QStringList searchTerms(const track &t, bool loose);
    // The accepted results of a search reply: releases (album, CD, LP or compilation, not a
    // promo) with a title, an id and a cover image address. `listed` gets the number of results
    // the reply listed at all; -1 when the body is no JSON object.
    static QList<DiscogsSearchResult> readSearchResults(const QByteArray &body, int *listed = nullptr);
    // The result's fit to the track from 0 to 7; `count` is the number of accepted results.
    static DiscogsCandidate rankResult(const DiscogsSearchResult &result, const track &t, qsizetype count);
    // The tracklist of a release reply; empty when the body is no JSON object.
    static QList<DiscogsReleaseInfo> readRelease(const QByteArray &body);

signals:
    void DiscogsApifinished(track trackobjtemp, qint8 API, bool tagupdated);
    void DiscogsAlbumRequest(track trackobjtemp);
    void DiscogsCoverRequestFinished(track trackobjtemp, qint8 API);
    void DiscogsAlbumRequestFinished(CandidateMap dataTrackListtemp);

private:
    // discogsapi.cpp: requests, the cover download and the answer.
    void startLookup(const track &t);
    QUrl buildSearchUrl(const QString &separator) const;
    void sendSearch();
    void requestRelease();
    void downloadCover(const QString &url, const QString &name);
    void onFinished(const WebResult &result);
    void saveToDatabase();
    void finish(const track &t, bool updated);
    WebRequest *get(const QUrl &url, const WebRequest::Options &options);

    // discogsapi_search.cpp: the search reply and the choice of a release.
    void slot_parse(const WebResult &result);
    bool matchResults();
    void takeLocalCover();

    // discogsapi_release.cpp: the release reply, the track filled from it and the cover step.
    void slot_parse_search_response_SecondApi(const WebResult &result);
    void applyRelease();
    void applyCoverResult();
    QString coverName() const;

    WebServiceConfig m_config;
    DiscogsService m_service;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<WebRequest> m_request;  // the search, release or cover request in flight
    std::shared_ptr<WebReplyCache> m_replies = std::make_shared<WebReplyCache>();

    track currentTrack;
    QString coverPath;
    TagLibBuilder tagBuilder;
    qint16 requestType = 0;
    QString separator;
    CandidateMap albumMap;

    QList<DiscogsSearchResult> searchResults;
    QString matchedAlbum;
    QString matchedArtist;
    QString matchedCoverUrl;
    QString matchedReleaseId;
    QList<DiscogsReleaseInfo> releaseTracks;
    bool m_releaseRead = false;  // releaseTracks come from this lookup's release reply
    bool m_filled = false;  // this lookup filled a field of the track
    bool m_failed = false;
    bool m_answered = true;
};
