// The one lock between the playback thread and the user-interface thread.
//
// The sample call holds it for the whole block; the panel holds it for a
// parameter write plus the short update that follows; start-up and shut-down
// hold it while they change what the sample call reads. Nothing long runs
// under it (the FFT equaliser designs outside it, see UnitEntries), so the
// playback thread waits at most for one short update.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

class ChainGuard {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    bool try_lock() { return mutex_.try_lock(); }

    // The playback thread's way in: the same lock, but a wait for it (only
    // when another thread holds it) is timed, so the longest one can be
    // reported. The uncontended path costs one try_lock.
    void lockForPlayback() {
        if (mutex_.try_lock()) return;
        auto start = std::chrono::steady_clock::now();
        mutex_.lock();
        int64_t waited = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::steady_clock::now() - start).count();
        int64_t longest = longestPlaybackWait_.load(std::memory_order_relaxed);
        while (waited > longest &&
               !longestPlaybackWait_.compare_exchange_weak(longest, waited, std::memory_order_relaxed)) {
        }
    }

    // The longest the playback thread has waited, in nanoseconds, since the
    // last reset.
    int64_t longestPlaybackWait() const { return longestPlaybackWait_.load(std::memory_order_relaxed); }
    void resetPlaybackWait() { longestPlaybackWait_.store(0, std::memory_order_relaxed); }

private:
    std::mutex mutex_;
    std::atomic<int64_t> longestPlaybackWait_{0};
};

using ChainLock = std::lock_guard<ChainGuard>;

// Holds the guard for the playback thread (see lockForPlayback).
class PlaybackLock {
public:
    explicit PlaybackLock(ChainGuard& guard) : guard_(guard) { guard_.lockForPlayback(); }
    ~PlaybackLock() { guard_.unlock(); }
    PlaybackLock(const PlaybackLock&) = delete;
    PlaybackLock& operator=(const PlaybackLock&) = delete;

private:
    ChainGuard& guard_;
};
