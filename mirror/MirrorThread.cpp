// SPDX-License-Identifier: MIT
#include "mirror/MirrorThread.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <set>

#include "mirror/ServerError.h"

namespace tavro::mirror {

namespace {

// The process's live sync threads, for stopAllForExit. Never destroyed: it is used at exit.
std::mutex registryMutex;
std::set<MirrorThread*>& liveThreads() {
    static auto* threads = new std::set<MirrorThread*>;
    return *threads;
}

// How long exit waits for each thread: a round in the middle of a statement ends at once when
// its socket is shut, so only a connection still being made can take this long.
constexpr std::chrono::milliseconds kExitWait{3000};

}  // namespace

bool MirrorThread::stopAllForExit() {
    std::lock_guard lock(registryMutex);
    for (MirrorThread* thread : liveThreads()) {
        thread->stopSoon();
    }
    bool allEnded = true;
    for (MirrorThread* thread : liveThreads()) {
        allEnded = thread->awaitEnd(kExitWait) && allEnded;
    }
    return allEnded;
}

void MirrorThread::stopSoon() {
    stopping_ = true;
    wake();
    std::lock_guard lock(socketMutex_);
    if (socket_ >= 0) {
        ::shutdown(socket_, SHUT_RDWR);  // the statement in progress fails; the round ends
    }
}

bool MirrorThread::ended() {
    std::lock_guard lock(endMutex_);
    return ended_;
}

bool MirrorThread::awaitEnd(std::chrono::milliseconds longest) {
    std::unique_lock lock(endMutex_);
    return endChanged_.wait_for(lock, longest, [this] { return ended_; });
}

MirrorThread::MirrorThread(store::Store& store, std::string service, std::string account,
                           Mirror::OwnerSteps onOwner)
    : mirror_(store, std::move(service), std::move(account),
              // A step that reaches the owner once the thread was asked to end is not run: the
              // owner may have stopped it for a sign-out while the round was under way.
              [this, onOwner = std::move(onOwner)](const std::function<void()>& step) {
                  onOwner([&] {
                      if (stopping_) {
                          platform::throwError(platform::kPosixErrorDomain, ECANCELED,
                                               "Syncing was stopped.");
                      }
                      step();
                  });
              }),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wakeFd_ < 0) {
        platform::throwError(platform::kPosixErrorDomain, errno,
                             "The sync thread couldn\u2019t be started.");
    }
    thread_ = std::thread([this] {
        run();
        std::lock_guard lock(endMutex_);
        ended_ = true;
        endChanged_.notify_all();
    });
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit([] { stopAllForExit(); }); });
    std::lock_guard lock(registryMutex);
    liveThreads().insert(this);
}

MirrorThread::~MirrorThread() {
    {
        std::lock_guard lock(registryMutex);
        liveThreads().erase(this);
    }
    stopping_ = true;
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    ::close(wakeFd_);
}

void MirrorThread::wake() {
    uint64_t one = 1;
    // A full counter already means "wake": nothing is lost when this write fails.
    [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void MirrorThread::drainWakes() {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t read = ::read(wakeFd_, &count, sizeof count);
}

void MirrorThread::listen() {
    Connection& connection = mirror_.connection();
    {
        std::lock_guard lock(socketMutex_);
        socket_ = PQsocket(connection.handle());
    }
    if (listening_ == connection.handle()) {
        return;
    }
    std::string channel(connection.query("SELECT tavro.change_channel()", {}).text(0, 0));
    connection.exec("LISTEN " + connection.quoteIdentifier(channel));
    listening_ = connection.handle();
}

void MirrorThread::run() {
    std::chrono::milliseconds backOff = kFirstBackOff;
    bool pulling = true;  // at the start, after a failure, and when another machine changed
    while (!stopping_) {
        bool reported = false;  // syncOnce() posts its own failures
        try {
            drainWakes();
            // Listening before syncing: a change committed meanwhile is announced, not missed.
            listen();
            reported = true;
            pulling ? mirror_.syncOnce() : mirror_.pushChanges();
            reported = false;
            backOff = kFirstBackOff;
            pulling = true;
            Work work = waitForWork();
            if (work == Work::End) {
                return;
            }
            pulling = work == Work::Pull;
        } catch (const std::exception& failure) {
            // The status says what went wrong; the session is made again after the back-off.
            if (!reported) {
                mirror_.reportFailure(failure);
            }
            {
                std::lock_guard lock(socketMutex_);
                socket_ = -1;
            }
            mirror_.disconnect();
            listening_ = nullptr;
            if (!pause(backOff)) {
                return;
            }
            backOff = std::min(backOff * 2, kLongestBackOff);
        }
    }
}

MirrorThread::Work MirrorThread::waitForWork() {
    Connection& connection = mirror_.connection();
    PGconn* session = connection.handle();
    for (;;) {
        // Announcements that arrived with the last replies are already queued.
        bool others = false;
        while (PGnotify* notice = PQnotifies(session)) {
            int64_t sequence = std::strtoll(notice->extra, nullptr, 10);
            others = others || !mirror_.isOwnChange(sequence);
            PQfreemem(notice);
        }
        if (others) {
            return Work::Pull;
        }
        pollfd waits[2] = {{PQsocket(session), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) {
            throw ServerError(ServerFailure::Unreachable,
                              "The connection to the sync server couldn\u2019t be watched.");
        }
        if (stopping_) {
            return Work::End;
        }
        if (waits[1].revents != 0) {
            return Work::Push;
        }
        if (waits[0].revents != 0 && PQconsumeInput(session) == 0) {
            std::string reason = PQerrorMessage(session);
            while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.')) {
                reason.pop_back();
            }
            throw ServerError(ServerFailure::Unreachable,
                              "The connection to the sync server was lost (" + reason + ").",
                              reason);
        }
    }
}

bool MirrorThread::pause(std::chrono::milliseconds length) {
    pollfd wait = {wakeFd_, POLLIN, 0};
    ::poll(&wait, 1, static_cast<int>(length.count()));
    return !stopping_;
}

}  // namespace tavro::mirror
