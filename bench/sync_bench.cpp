// SPDX-License-Identifier: MIT
// Figures of the library's mirroring through a sync server, each beside its target:
//   (a) a fresh machine pulling the whole library from the server;
//   (b) one change saved on machine A, until machine B's store holds it: median and p95 over
//       50 changes, each machine with its own sync thread LISTENing as a host's does;
//   (c) both machines idle: processor time and bytes written (sockets and files) meanwhile;
//   (d) what the outbox adds to a first import: a store attached to its account vs one not.
// It needs a PostgreSQL server it may create a database and roles on, named by libpq's PG*
// variables; run it under a throw-away cluster:
//   pg_virtualenv -t build/bench/sync_bench [THINGS]      (THINGS defaults to 100000)

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "LibraryGenerator.h"
#include "mirror/Connection.h"
#include "mirror/Mirror.h"
#include "mirror/MirrorThread.h"
#include "mirror/ServerAccounts.h"
#include "mirror/ServerSchema.h"
#include "store/Outbox.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace {

using namespace tavro;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const char* verdict(bool met) {
    return met ? "met" : "MISSED";
}

std::string randomHex(size_t digits) {
    std::random_device device;
    std::string text;
    while (text.size() < digits) {
        text += "0123456789abcdef"[device() % 16];
    }
    return text;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Bytes this process handed to write-like calls, sockets included (/proc/self/io "wchar").
long long bytesWritten() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return value;
        }
    }
    return -1;
}

// A database and an account of their own on the server, dropped at the end; the account's
// password is kept in a private pgpass file, as a user's would be.
struct Server {
    std::string database = "tavro_bench_" + randomHex(8);
    std::string role = "bench_" + randomHex(8);
    std::string pgpass;
    std::string service;
    std::string recordName;

    explicit Server(const fs::path& folder) {
        pgpass = (folder / "pgpass").string();
        std::string password = randomHex(24);
        {
            std::ofstream file(pgpass);
            if (const char* admin = std::getenv("PGPASSWORD")) {
                const char* user = std::getenv("PGUSER");
                file << "*:*:*:" << (user ? user : "postgres") << ":" << admin << "\n";
            }
            file << "*:*:*:" << role << ":" << password << "\n";
        }
        fs::permissions(pgpass, fs::perms::owner_read | fs::perms::owner_write);
        ::unsetenv("PGPASSWORD");
        ::setenv("PGPASSFILE", pgpass.c_str(), 1);
        mirror::Connection server = mirror::Connection::open("");
        server.exec("CREATE DATABASE " + server.quoteIdentifier(database));
        mirror::Connection admin = mirror::Connection::open("dbname=" + database);
        mirror::installServerSchema(admin);
        mirror::addAccount(admin, role, password);
        service = "dbname=" + database + " user=" + role;
        mirror::Connection machine = mirror::Connection::open(service);
        recordName = mirror::accountRecordName(machine);
    }
    ~Server() {
        try {
            mirror::Connection server = mirror::Connection::open("");
            server.exec("DROP DATABASE IF EXISTS " + server.quoteIdentifier(database) +
                        " WITH (FORCE)");
            server.exec("DROP ROLE IF EXISTS " + server.quoteIdentifier(role));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "sync_bench: cleaning up: %s\n", error.what());
        }
    }
};

// One machine: its store, and the lock that stands for its main executor, so that the sync
// thread's store steps never interleave with the machine's own saves.
struct Machine {
    std::unique_ptr<store::Store> store;
    std::mutex owner;

    explicit Machine(const std::string& path) : store(store::Store::open(path)) {}
    mirror::Mirror::OwnerSteps steps() {
        return [this](const std::function<void()>& step) {
            std::lock_guard lock(owner);
            step();
        };
    }
};

// Times a first import of the library into a new store, attached to `account` first or not.
double importSeconds(const bench::GeneratedLibrary& library, const fs::path& folder,
                     const std::optional<std::string>& account) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    std::string path = (folder / "Tavro.store").string();
    std::unique_ptr<store::Store> store = store::Store::open(path);
    if (account) {
        store::Outbox(path).attach(*account);
    }
    auto start = Clock::now();
    {
        store::UnitOfWork work(*store);
        bench::insertLibrary(library, work);
        work.save();
    }
    double seconds = secondsSince(start);
    store.reset();
    fs::remove_all(folder);
    return seconds;
}

void run(size_t things) {
    fs::path root = fs::temp_directory_path() / ("tavro-sync-bench-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    struct Cleanup {
        fs::path root;
        ~Cleanup() { fs::remove_all(root); }
    } cleanup{root};
    Server server(root);

    bench::LibraryShape shape;
    shape.things = things;
    shape.tags = std::max<size_t>(things / 20, 10);
    shape.projects = std::max<size_t>(things / 50, 5);
    shape.contentFraction = 0.05;
    bench::GeneratedLibrary library = bench::generateLibrary(shape);
    std::printf("sync_bench: %zu things (%.0f%% with files), %zu tags, %zu projects\n", things,
                shape.contentFraction * 100, shape.tags, shape.projects);

    // (d) The outbox's cost, before the server holds anything: the better of two of each.
    double plain = 1e9, attached = 1e9;
    for (int round = 0; round < 2; ++round) {
        plain = std::min(plain, importSeconds(library, root / "import", std::nullopt));
        attached = std::min(attached, importSeconds(library, root / "import", server.recordName));
    }
    double extra = attached / plain - 1;
    std::printf("first import, no server                %8.3f s\n", plain);
    std::printf(
        "first import, server signed in         %8.3f s  outbox adds %+.1f%%; target <= "
        "+15%%: %s\n",
        attached, extra * 100, verdict(extra <= 0.15));

    // Machine A holds the library and pushes it whole.
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    Machine a((root / "a/Tavro.store").string());
    {
        store::UnitOfWork work(*a.store);
        bench::insertLibrary(library, work);
        work.save();
    }
    auto start = Clock::now();
    mirror::Mirror(*a.store, server.service, server.recordName).syncOnce();
    std::printf("machine A pushes the library           %8.3f s  (no target)\n",
                secondsSince(start));

    // (a) A fresh machine pulls it.
    Machine b((root / "b/Tavro.store").string());
    start = Clock::now();
    mirror::Mirror(*b.store, server.service, server.recordName).syncOnce();
    double pull = secondsSince(start);
    size_t pulled = 0;
    {
        store::UnitOfWork work(*b.store);
        pulled = work.fetchThings().size();
    }
    std::printf(
        "fresh machine pulls the library        %8.3f s  %zu of %zu things; target <= "
        "10 s: %s\n",
        pull, pulled, things, verdict(pull <= 10 && pulled == things));

    // (b) One change on A until B's store holds it. B's pull commits what it brings before
    // the end of its import event is posted, so that end is when B's store holds the change.
    std::mutex arrivals;
    std::condition_variable arrived;
    std::optional<Clock::time_point> lastImport;
    auto token = b.store->syncEvents().subscribe([&](const store::SyncEvent& event) {
        if (event.type == store::SyncEvent::Type::Import && event.endDate && event.succeeded) {
            std::lock_guard lock(arrivals);
            lastImport = Clock::now();
            arrived.notify_all();
        }
    });
    std::vector<double> latencies;
    {
        mirror::MirrorThread threadA(*a.store, server.service, server.recordName, a.steps());
        mirror::MirrorThread threadB(*b.store, server.service, server.recordName, b.steps());
        // Both threads' first rounds (nothing to do) are over before the first change.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        for (int change = 0; change < 50; ++change) {
            {
                std::lock_guard lock(arrivals);
                lastImport.reset();
            }
            auto saved = Clock::now();
            {
                // Saved as an exchange saves: holding the store from its first read, so that it
                // starts from the records the last such unit kept.
                std::lock_guard lock(a.owner);
                store::UnitOfWork work(*a.store, store::UnitOfWork::Writing::FromFirstRead);
                work.insert(std::make_unique<model::Thing>(model::ThingKind::note,
                                                           "change " + std::to_string(change)));
                work.save();
            }
            threadA.wake();  // as an exchange does after saving
            std::unique_lock lock(arrivals);
            if (!arrived.wait_for(lock, std::chrono::seconds(30),
                                  [&] { return lastImport.has_value(); })) {
                throw std::runtime_error("a change did not reach machine B within 30 s");
            }
            latencies.push_back(std::chrono::duration<double>(*lastImport - saved).count());
        }
        std::sort(latencies.begin(), latencies.end());
        double median = latencies[latencies.size() / 2];
        double p95 = latencies[(latencies.size() * 95) / 100 - 1];
        std::printf(
            "a change on A in B's store (50)       median %6.3f s, p95 %6.3f s, max "
            "%6.3f s; target median <= 1 s: %s\n",
            median, p95, latencies.back(), verdict(median <= 1));

        // (c) Idle: both threads LISTEN, nothing changes; the last change has long settled.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        double cpu = cpuSeconds();
        long long written = bytesWritten();
        auto idleStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double idle = secondsSince(idleStart);
        cpu = cpuSeconds() - cpu;
        written = bytesWritten() - written;
        std::printf(
            "idle, two machines, %.1f s             processor %.4f s, bytes written %lld; "
            "target ~0: %s\n",
            idle, cpu, written, verdict(cpu < 0.01 && written == 0));
    }
    b.store->syncEvents().unsubscribe(token);
    size_t onA = 0, onB = 0;
    {
        std::lock_guard lock(a.owner);
        store::UnitOfWork work(*a.store);
        onA = work.fetchThings().size();
    }
    {
        std::lock_guard lock(b.owner);
        store::UnitOfWork work(*b.store);
        onB = work.fetchThings().size();
    }
    std::printf("afterwards                             A holds %zu things, B %zu: %s\n", onA, onB,
                onA == onB ? "the same" : "DIFFERENT");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 || (argc == 2 && std::string(argv[1]).starts_with('-'))) {
        std::fprintf(stderr,
                     "usage: sync_bench [THINGS]   (default 100000)\n"
                     "Needs a PostgreSQL server it may create a database and roles on, named by\n"
                     "libpq's PG* variables; run it under a throw-away cluster:\n"
                     "  pg_virtualenv -t sync_bench [THINGS]\n");
        return 2;
    }
    if (!std::getenv("PGHOST") && !std::getenv("PGSERVICE") && !std::getenv("PGHOSTADDR")) {
        std::fprintf(stderr,
                     "sync_bench: no PostgreSQL server named (PGHOST unset); run it as "
                     "pg_virtualenv -t sync_bench [THINGS]\n");
        return 2;
    }
    // Each figure shows as soon as it is measured, also when the output is a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    try {
        run(argc == 2 ? std::stoul(argv[1]) : 100000);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sync_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
