#include "discogssource.h"

#include "repairfields.h"

DiscogsSource::DiscogsSource(const WebServiceConfig &config)
    : m_api(std::make_unique<DiscogsApi>(config))
{
    DiscogsApi *api = m_api.get();
    QObject::connect(
        api, &DiscogsApi::DiscogsApifinished, api, [this](const track &answered, qint8, bool updated) {
            Answer a;
            a.item = answered;
            a.tagUpdated = updated;
            answer(a);
        });
    QObject::connect(
        api, &DiscogsApi::DiscogsCoverRequestFinished, api, [this](const track &answered, qint8) {
            Answer a;
            a.item = answered;
            answer(a);
        });
    // The candidates come first, then the track they were asked for.
    auto candidates = std::make_shared<CandidateMap>();
    QObject::connect(api, &DiscogsApi::DiscogsAlbumRequestFinished, api,
        [candidates](const CandidateMap &tracks) { *candidates = tracks; });
    QObject::connect(api, &DiscogsApi::DiscogsAlbumRequest, api, [this, candidates](const track &answered) {
        Answer a;
        a.item = answered;
        a.candidates = std::exchange(*candidates, CandidateMap());
        if (!m_albumAsked.isEmpty() && !m_api->lookupFailed()) {
            if (m_albums.size() >= kKeptAlbums)
                m_albums.clear();
            m_albums.insert(m_albumAsked, a.candidates);
        }
        answer(a);
    });
}

DiscogsSource::~DiscogsSource()
{
    cancel();
}

QString DiscogsSource::albumKey(const track &item)
{
    if (!isRealText(item.albumname))
        return QString();
    return item.artistname.trimmed().toCaseFolded() + QLatin1Char('\n')
        + item.albumname.trimmed().toCaseFolded();
}

void DiscogsSource::start(Request request, const track &item, Reply reply)
{
    m_reply = std::move(reply);
    m_albumAsked.clear();
    switch (request) {
    case Request::Track:
        m_api->setRequestType(0);
        m_api->searchTrack(item);
        break;
    case Request::Album: {
        const QString key = albumKey(item);
        const auto kept = m_albums.constFind(key);
        if (!key.isEmpty() && kept != m_albums.cend()) {
            Answer a;
            a.item = item;
            a.candidates = *kept;
            answer(a);
            return;
        }
        m_albumAsked = key;
        m_api->searchAlbum(item);
        break;
    }
    case Request::Cover:
        m_api->searchCover(item);
        break;
    }
}

void DiscogsSource::answer(const Answer &answer)
{
    deliver(m_reply, answer);
}

void DiscogsSource::cancel()
{
    m_reply = nullptr;
    m_api->cancel();
}

void DiscogsSource::beginRun()
{
    m_albums.clear();
    m_api->forgetReplies();
}
