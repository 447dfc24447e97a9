#pragma once

#include "apiabsract.h"
#include "track.h"
#include "webrequest.h"
#include "webserviceconfig.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;
class QXmlStreamReader;

// The MusicBrainz source of the repair run: asks the MusicBrainz web service (version 2, XML) for
// the recordings of a track with a known artist and a known album or title, and takes the title,
// the artist and the length of a recording whose names agree with the track. One search at a
// time; each ends in exactly one MusicBrainzfinished, whose `tagupdated` is always false: the run
// judges the track by what it now knows.
class MusicBrainzApi : public QObject, public ApiAbsract
{
    Q_OBJECT

public:
    static constexpr qint8 kSourceId = 2;

    // One recording of a reply, its artist credit written out ("A feat. B").
    struct Recording {
        QString title;
        qint64 lengthMs = 0;
        QString artist;
        // The titles of the releases and release groups the recording appears on.
        QStringList albums;
    };
    struct Reply {
        QList<Recording> recordings;
        bool wellFormed = false;
    };

    explicit MusicBrainzApi(const WebServiceConfig &config = WebServiceConfig::load());
    ~MusicBrainzApi() override;

    // Starts a search for the track; answers at once (failure) when its fields give no search.
    void searchTrack(track t);
    void sendRequest(const QString &address) override;

    // The search address for a track, or an empty URL when it gives none: a recording search by
    // album or by title, each with the artist, as one Lucene query, percent-encoded.
    static QUrl searchAddress(const track &t, const QUrl &endpoint);
    // The recordings of a reply body, read from its bytes (the XML says its own encoding).
    static Reply parseReply(const QByteArray &xml);

    // The tracks of one album ask the same search: it is sent once per run.
    void forgetReplies() { m_replies->clear(); }

public slots:
    // Ends the search in flight with a failure report.
    void CancelRequestTimeout();

signals:
    void MusicBrainzfinished(track trackobjtemp, qint8 API, bool tagupdated);

private:
    void onReplyFinishedMusicBrainz(const WebResult &result);
    // The match test over the reply's recordings, and the report.
    void applyMatch(const QList<Recording> &recordings);
    qint16 agreeingNames(const Recording &recording) const;
    bool fits(const Recording &recording) const;
    void report(const track &t);
    static void readRecording(QXmlStreamReader &xml, Recording &recording);
    static void readArtist(QXmlStreamReader &xml, QString &name);
    static void readReleases(QXmlStreamReader &xml, QStringList &albums);

    WebServiceConfig m_config;
    qint16 matchCount = 0;
    track requestTrack;  // the track asked about; reported unchanged on failure
    track resultTrack;  // the track as a match completes it
    QNetworkAccessManager *networkManager = nullptr;
    QPointer<WebRequest> searchReply;
    std::shared_ptr<WebReplyCache> m_replies = std::make_shared<WebReplyCache>();
};
