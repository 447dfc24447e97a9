#include "fingerprintsource.h"

FingerprintSource::FingerprintSource(const WebServiceConfig &config)
    : m_api(std::make_unique<fingerprinting>(config))
{
    fingerprinting *api = m_api.get();
    QObject::connect(api, &fingerprinting::fingerprintfinishedList, api,
        [this](const track &answered, const CandidateMap &candidates) {
            Answer a;
            a.item = answered;
            a.candidates = candidates;
            answer(a);
        });
    QObject::connect(
        api, &fingerprinting::fingerprintCoverRequestFinished, api, [this](const track &answered, qint8) {
            Answer a;
            a.item = answered;
            answer(a);
        });
}

FingerprintSource::~FingerprintSource()
{
    cancel();
}

void FingerprintSource::start(Request request, const track &item, Reply reply)
{
    m_reply = std::move(reply);
    switch (request) {
    case Request::Track:
        m_api->start(item);
        break;
    case Request::Cover:
        m_api->setCurrentTrack(item);
        m_api->requestCover(item.coverUrl, item.cover);
        break;
    case Request::Album: {
        Answer nothing;
        nothing.item = item;
        answer(nothing);
        break;
    }
    }
}

void FingerprintSource::answer(const Answer &answer)
{
    deliver(m_reply, answer);
}

void FingerprintSource::cancel()
{
    m_reply = nullptr;
    m_api->cancel();
}
