// SPDX-License-Identifier: MIT
#pragma once
// Real `tavro` processes sharing one store in a provisioned sandbox, as several host processes
// (an app and its extensions) share the App Group's store. Each exchange gets an exchange
// directory of its own; the store is checked afterwards from outside: through a fresh exchange
// run alone, and through SQLite opened read-only.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Json.h"
#include "support/ChildProcess.h"
#include "support/ExchangeFixture.h"
#include "support/Sandbox.h"

namespace tavro::test {

// The "error" of an error envelope, or nothing when `response` is a response.
std::optional<std::string> envelopeError(const std::string& response);

// Whether `text` is one sentence written for the user rather than a library's own message
// passed through (SQLite's "database is locked", a C++ exception's type name, …).
bool isUserSentence(const std::string& text);

// Expects `outcome` to be an answer: success, or status 1 with an envelope whose error is a
// sentence for the user. Never a signal, a hang, or no answer at all.
void expectAnswered(const ProcessOutcome& outcome, const std::string& what);

// A write transaction on a store file, held by this process as another program would hold it.
// Opening creates an empty file when there is none.
class StoreWriteLock {
  public:
    explicit StoreWriteLock(const std::string& path, const char* begin = "BEGIN IMMEDIATE");
    ~StoreWriteLock();
    StoreWriteLock(const StoreWriteLock&) = delete;
    StoreWriteLock& operator=(const StoreWriteLock&) = delete;

    // Ends the transaction without writing anything; the lock is gone when this returns.
    void release();

  private:
    sqlite3* db_ = nullptr;
};

class SharedStoreFixture : public ::testing::Test {
  protected:
    explicit SharedStoreFixture(std::string program) : program_(std::move(program)) {}

    // A new, empty exchange directory inside the sandbox.
    std::string newDirectory(const std::string& name) const;
    // A request for the sandbox's store with this directory and these records; answers its path.
    std::string writeRequest(const std::string& name, const std::string& directory,
                             platform::json::Array records) const;
    // Starts `tavro exchange` on a request; its output lands beside the request.
    ChildProcess startExchange(const std::string& requestPath) const;
    // Waits for every child, expecting each to have answered (see expectAnswered).
    std::vector<ProcessOutcome> waitForAll(std::vector<ChildProcess>& children,
                                           const std::vector<std::string>& names) const;

    // The whole store as a fresh exchange without records (run alone) reports it, every file
    // written to `directory`/received. Fails the test when that exchange fails.
    std::unique_ptr<Parsed> readStore(const std::string& directory) const;

    // What PRAGMA integrity_check says of the store file.
    std::string integrityCheck() const;
    // The content digests the store's rows name whose blob file is missing.
    std::vector<std::string> missingBlobs() const;

    Sandbox sandbox_{Sandbox::Reach::ChildProcesses};  // the tavro processes read it
    std::string program_;
};

}  // namespace tavro::test
