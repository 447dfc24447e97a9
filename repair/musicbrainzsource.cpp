#include "musicbrainzsource.h"

MusicBrainzSource::MusicBrainzSource(const WebServiceConfig &config)
    : m_api(std::make_unique<MusicBrainzApi>(config))
{
    QObject::connect(m_api.get(), &MusicBrainzApi::MusicBrainzfinished, m_api.get(),
        [this](const track &answered, qint8, bool tagUpdated) {
            Answer answer;
            answer.item = answered;
            answer.tagUpdated = tagUpdated;
            deliver(m_reply, answer);
        });
}

MusicBrainzSource::~MusicBrainzSource()
{
    cancel();
}

void MusicBrainzSource::start(Request request, const track &item, Reply reply)
{
    if (request != Request::Track) {
        Answer nothing;
        nothing.item = item;
        reply(nothing);
        return;
    }
    m_reply = std::move(reply);
    m_api->searchTrack(item);
}

void MusicBrainzSource::cancel()
{
    m_reply = nullptr;
    m_api->CancelRequestTimeout();
}
