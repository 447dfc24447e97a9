#pragma once

#include "musicbrainzapi.h"
#include "repairsource.h"

#include <memory>

// MusicBrainzApi as the repair run asks it: it completes tracks and has no albums or covers to
// give, so those requests are answered at once with nothing.
class MusicBrainzSource : public RepairSource
{
public:
    explicit MusicBrainzSource(const WebServiceConfig &config);
    ~MusicBrainzSource() override;

    void start(Request request, const track &item, Reply reply) override;
    void cancel() override;
    void beginRun() override { m_api->forgetReplies(); }

    MusicBrainzApi &api() { return *m_api; }

private:
    std::unique_ptr<MusicBrainzApi> m_api;
    Reply m_reply;
};
