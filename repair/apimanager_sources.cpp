#include "apimanager.h"

#include "applog.h"
#include "apppaths.h"
#include "repairfields.h"

#include <QDebug>
#include <QTime>
#include <QTimer>

RepairSource *ApiManager::source(qint8 id) const
{
    switch (id) {
    case RepairSource::kMusicBrainz:
        return m_musicBrainz.get();
    case RepairSource::kDiscogs:
        return m_discogs.get();
    case RepairSource::kFingerprint:
        return m_fingerprint.get();
    default:
        return nullptr;
    }
}

// The fixed chain: a track that lacks only its cover goes to Discogs, one without artist and album
// to the fingerprint, any other to MusicBrainz; then MusicBrainz, Discogs, fingerprint in turn. A
// source that is not there passes the track on.
qint8 ApiManager::nextSource(qint8 from, const track &t) const
{
    qint8 next = 0;
    if (from == LocalTagSearch::kSourceId) {
        if (t.hasAlbum && t.hasArtist && t.hasTitle)
            next = RepairSource::kDiscogs;
        else if (!t.hasAlbum && !t.hasArtist)
            next = RepairSource::kFingerprint;
        else
            next = RepairSource::kMusicBrainz;
    } else if (from == RepairSource::kMusicBrainz) {
        next = RepairSource::kDiscogs;
    } else if (from == RepairSource::kDiscogs) {
        next = RepairSource::kFingerprint;
    }
    while (next != 0 && !source(next))
        next = next == RepairSource::kFingerprint ? qint8(0) : qint8(next + 1);
    return next;
}

bool ApiManager::mayAskWeb() const
{
    return !cancelling() && (m_musicBrainz || m_discogs || m_fingerprint) && isOnline();
}

void ApiManager::startApi(qint8 sourceId, RepairSource::Request request, const track &item)
{
    RepairSource *web = source(sourceId);
    m_pending = Pending{++m_serial, sourceId, request, item};
    qDebug() << "api manager start called.." << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))
             << AppPaths().apiSourceName(sourceId);
    // Every request ends: an answer that does not come in time counts as an answer with nothing.
    m_requestTimer->start(m_requestTimeoutMs);
    const quint64 serial = m_pending->serial;
    web->start(request, item, [this, serial](const RepairSource::Answer &answer) {
        // Handled as a call of its own, also when the source answers inside start().
        post([this, serial, answer] { onAnswer(serial, answer); });
    });
}

void ApiManager::onAnswer(quint64 serial, const RepairSource::Answer &answer)
{
    if (!m_pending || m_pending->serial != serial)
        return;  // late: the request was timed out or cancelled
    const Pending pending = *m_pending;
    m_pending.reset();
    m_requestTimer->stop();
    handleAnswer(pending, answer);
    scheduleStep();
}

void ApiManager::onRequestTimeout()
{
    if (!m_pending)
        return;
    writeLog(appLogFile(),
        QStringLiteral("Repair source timed out: ") + AppPaths().apiSourceName(m_pending->source)
            + QStringLiteral(" "),
        m_pending->item.originalPath);
    abandonRequest();
    scheduleStep();
}

void ApiManager::abandonRequest()
{
    if (!m_pending)
        return;
    const Pending pending = *m_pending;
    m_pending.reset();
    m_requestTimer->stop();
    if (RepairSource *web = source(pending.source))
        web->cancel();
    RepairSource::Answer nothing;
    nothing.item = pending.item;
    handleAnswer(pending, nothing);
}

void ApiManager::handleAnswer(const Pending &pending, const RepairSource::Answer &answer)
{
    switch (pending.request) {
    case RepairSource::Request::Track:
        if (pending.source == RepairSource::kFingerprint)
            handleFingerprintAnswer(pending.item, answer);
        else
            route(pending.source, adopt(pending.item, answer.item), answer.tagUpdated);
        break;
    case RepairSource::Request::Album:
        // The album's tracks join the candidates of the fingerprinted track; it is done.
        for (auto it = answer.candidates.cend(); it != answer.candidates.cbegin();) {
            --it;
            track candidate = it.value();
            candidate.id = pending.item.id;
            m_candidates.insert(candidate.id, candidate);
            m_foreignCandidates = true;
        }
        ++m_done;
        break;
    case RepairSource::Request::Cover:
        coverdownloaded(answer.item);
        break;
    }
}

void ApiManager::handleFingerprintAnswer(const track &asked, const RepairSource::Answer &answer)
{
    // Candidates are filed under the asked track, in the order the source gave them.
    CandidateMap own;
    for (auto it = answer.candidates.cend(); it != answer.candidates.cbegin();) {
        --it;
        track candidate = it.value();
        candidate.id = asked.id;
        own.insert(asked.id, candidate);
        m_candidates.insert(asked.id, candidate);
        m_foreignCandidates = true;
    }
    track reported = adopt(asked, answer.item);
    reported.fingerprintRequested = true;
    m_results.insert(asked.id, reported);

    // The best candidate now, to ask Discogs for its album; the folder's end merges them all.
    const track merged = TrackMerger().mergeBestCandidate(reported, own);
    if (m_discogs && mayAskWeb()) {
        startApi(RepairSource::kDiscogs, RepairSource::Request::Album, merged);
        return;
    }
    ++m_done;
}

// What a source says about a track is taken only where the track lacks it: the track's identity,
// its file and its measured length stay, and nothing unknown comes in as known.
track ApiManager::adopt(const track &asked, const track &answered) const
{
    track t = asked;
    TrackMerger().mergeTrack(t, answered);
    if (!t.hasCover && answered.hasCover && isRealCover(answered.cover)) {
        t.cover = answered.cover;
        t.hasCover = true;
    }
    return t;
}
