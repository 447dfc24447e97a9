#pragma once

#include "fpcalcrunner.h"
#include "track.h"
#include "trackmerger.h"
#include "webrequest.h"
#include "webserviceconfig.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;

// The fingerprint source of the repair run: fingerprints a track's audio with fpcalc (in the
// background), looks the fingerprint up on AcoustID and answers with a candidate track for every
// (recording, release group) pair of the reply, each under the track's id. It also stores an
// album's large cover from the image service the candidates name. One look-up and one cover at a
// time; each ends in exactly one signal.
class fingerprinting : public QObject
{
    Q_OBJECT

public:
    static constexpr qint8 kSourceId = 4;

    explicit fingerprinting(const WebServiceConfig &config = WebServiceConfig::load());
    ~fingerprinting() override;

    // Fingerprints the track's file and looks it up; answers with fingerprintfinishedList.
    void start(track t);
    // Stores the image at `coverUrl` as the current track's cover at `coverPath` (in the artwork
    // folder); answers with fingerprintCoverRequestFinished.
    void requestCover(const QString &coverUrl, const QString &coverPath);
    // The track requestCover works on.
    void setCurrentTrack(const track &t) { m_currentTrack = t; }
    // Ends the look-up and the cover in flight without an answer.
    void cancel();

    // The fpcalc run, whose time limits can be changed.
    FpcalcRunner &fpcalc() { return *m_fpcalc; }
    // The look-up address for a fingerprint and its duration, every value percent-encoded.
    static QUrl lookupUrl(const WebServiceConfig &config, qint64 duration, const QString &fingerprint);

public slots:
    // Answers the look-up in flight with what it has now; a later reply answers nothing.
    void CancelRequestTimeout();

signals:
    void fingerprintfinishedList(track trackobjtemp, CandidateMap FAxmlTrackDataMultiMap);
    void fingerprintCoverRequestFinished(track trackobjtemp, qint8 API);

private:
    void onFpcalcFinished(const FpcalcResult &result);
    void sendLookup(const QString &fingerprint, qint64 duration);
    void RequestFinished(const WebResult &result);
    void onFinishedCover(const WebResult &result);
    void reportList();
    void reportCover(bool stored);

    WebServiceConfig m_config;
    track m_currentTrack;
    CandidateMap FAxmlTrackDataMultiMap;
    QNetworkAccessManager *m_network = nullptr;
    FpcalcRunner *m_fpcalc = nullptr;
    QPointer<WebRequest> m_lookupReply;
    QPointer<WebRequest> m_coverReply;
    QString m_coverPath;
    bool m_lookupAnswered = true;
    bool m_coverAnswered = true;
};
