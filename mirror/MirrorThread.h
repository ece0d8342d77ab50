// SPDX-License-Identifier: MIT
#pragma once
// Keeps a store mirrored for as long as it lives: a thread of its own syncs once at the start,
// then sleeps until the server announces a change another machine committed (LISTEN on the
// account's channel, so nothing polls), until wake() says the store saved something, or until
// the back-off after a failure has passed (1 s, doubling to 5 minutes). While nothing changes
// it sends nothing and uses no processor time.
//
// Network work runs on the thread; every store step goes through `onOwner` (see Mirror).

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "mirror/Mirror.h"

namespace tavro::mirror {

class MirrorThread {
  public:
    MirrorThread(store::Store& store, std::string service, std::string account,
                 Mirror::OwnerSteps onOwner);
    // Stops the thread and waits for it: the owner must not be waiting on this thread then.
    ~MirrorThread();
    MirrorThread(const MirrorThread&) = delete;
    MirrorThread& operator=(const MirrorThread&) = delete;

    // The store saved changes: push them now. Any thread; never blocks.
    void wake();
    // Asks the thread to end and breaks off any network wait of its session, without waiting
    // for it: for the owner's own thread, which a store step of the sync thread may be
    // waiting on. Any thread.
    void stopSoon();
    // Whether the thread has ended (after stopSoon, once its last step is done).
    bool ended();

    // Ends every sync thread of the process, each within a few seconds, and says whether all
    // ended. Registered with atexit by the first thread made (so it also runs when the library
    // is unloaded): a thread still in the network or TLS libraries while their own clean-up
    // runs at exit would crash the host as it quits. The threads' objects stay; only their
    // destructor releases them.
    static bool stopAllForExit();

    static constexpr std::chrono::milliseconds kFirstBackOff{1000};
    static constexpr std::chrono::milliseconds kLongestBackOff{5 * 60 * 1000};

  private:
    void run();
    void listen();
    // Waits for another machine's change (Pull), a wake (Push) or the end.
    enum class Work { Pull, Push, End };
    Work waitForWork();
    // Waits out a back-off unless woken or ended first; false at the end.
    bool pause(std::chrono::milliseconds length);
    void drainWakes();
    bool awaitEnd(std::chrono::milliseconds longest);

    Mirror mirror_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    PGconn* listening_ = nullptr;  // the session that LISTENs; another after a reconnection
    std::mutex socketMutex_;
    int socket_ = -1;  // the session's socket while connected, for stopSoon
    std::mutex endMutex_;
    std::condition_variable endChanged_;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace tavro::mirror
