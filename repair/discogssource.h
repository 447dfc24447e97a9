#pragma once

#include "discogsapi.h"
#include "repairsource.h"

#include <QHash>

#include <memory>

// DiscogsApi as the repair run asks it. An album's tracks are asked for once per run: the
// fingerprinted tracks of one album all ask for the same release, and the service allows only a
// few requests a minute, so the answer is kept and given again.
class DiscogsSource : public RepairSource
{
public:
    static constexpr int kKeptAlbums = 256;

    explicit DiscogsSource(const WebServiceConfig &config);
    ~DiscogsSource() override;

    void start(Request request, const track &item, Reply reply) override;
    void cancel() override;
    void beginRun() override;

    DiscogsApi &api() { return *m_api; }

private:
    static QString albumKey(const track &item);
    void answer(const Answer &answer);

    std::unique_ptr<DiscogsApi> m_api;
    Reply m_reply;
    QString m_albumAsked;  // the album key of the album request in flight
    QHash<QString, CandidateMap> m_albums;
};
