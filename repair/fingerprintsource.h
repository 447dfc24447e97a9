#pragma once

#include "fingerprinting.h"
#include "repairsource.h"

#include <memory>

// fingerprinting as the repair run asks it: a track's request is answered with the look-up's
// candidates, a cover request by storing `item.coverUrl` at `item.cover`; it has no albums to give.
class FingerprintSource : public RepairSource
{
public:
    explicit FingerprintSource(const WebServiceConfig &config);
    ~FingerprintSource() override;

    void start(Request request, const track &item, Reply reply) override;
    void cancel() override;
    // fpcalc set aside in an earlier run is tried again.
    void beginRun() override { m_api->fpcalc().health().reset(); }

    fingerprinting &api() { return *m_api; }

private:
    void answer(const Answer &answer);

    std::unique_ptr<fingerprinting> m_api;
    Reply m_reply;
};
