#pragma once

#include <atomic>
#include <functional>
#include <memory>

// The stop of one job. A request makes a shared one that the window keeps to cancel it with; the
// job runs on its own token that follows the request's, so the job can end itself (a full drive,
// the work ahead no longer wanted) without touching the request, and a stop pressed before the
// job began still reaches it. Jobs never share a stop: each Stop ends only its own job.
class StopToken
{
public:
    StopToken() = default;
    explicit StopToken(std::shared_ptr<const StopToken> request)
        : m_request(std::move(request))
    { }
    StopToken(const StopToken &) = delete;
    StopToken &operator=(const StopToken &) = delete;

    bool stopped() const
    {
        return m_raised.load(std::memory_order_relaxed) || (m_request && m_request->stopped());
    }
    void raise() { m_raised.store(true); }
    // The check handed to code below this layer, which knows nothing of tokens; valid while the
    // token lives.
    std::function<bool()> check() const
    {
        return [this] { return stopped(); };
    }

private:
    std::atomic_bool m_raised{false};
    std::shared_ptr<const StopToken> m_request;
};

using JobStop = std::shared_ptr<StopToken>;
