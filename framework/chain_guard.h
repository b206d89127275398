// The one lock between the playback thread and the user-interface thread.
//
// The sample call holds it for the whole block; the panel holds it for a
// parameter write plus the short update that follows; start-up and shut-down
// hold it while they change what the sample call reads. Nothing long runs
// under it (the FFT equaliser designs outside it, see UnitEntries), so the
// playback thread waits at most for one short update.
#pragma once
#include <mutex>

class ChainGuard {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

private:
    std::mutex mutex_;
};

using ChainLock = std::lock_guard<ChainGuard>;
