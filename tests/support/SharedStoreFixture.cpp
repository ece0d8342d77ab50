// SPDX-License-Identifier: MIT
#include "support/SharedStoreFixture.h"

#include <cctype>
#include <filesystem>

#include "platform/FileSystem.h"
#include "support/WireCapture.h"

namespace tavro::test {

namespace json = platform::json;
namespace fs = std::filesystem;

namespace {

// Messages SQLite and the C++ runtime write for themselves. None of them may reach the user
// as the whole story, nor inside a sentence that merely wraps them.
constexpr const char* kRawMessages[] = {
    "constraint failed",
    "database is locked",
    "database table is locked",
    "no such table",
    "already exists",
    "SQL logic error",
    "disk I/O error",
    "unable to open",
    "out of memory",
    "std::",
    "bad_alloc",
    "Input/output error",
};

// The first line of a child's standard output: its one response.
std::string firstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace

std::optional<std::string> envelopeError(const std::string& response) {
    json::Parser parser;
    auto object = json::asObject(parser.parse(response));
    auto error = object ? json::asString(json::member(*object, "error")) : std::nullopt;
    return error ? std::optional<std::string>(*error) : std::nullopt;
}

bool isUserSentence(const std::string& text) {
    if (text.size() < 2 || !std::isupper(static_cast<unsigned char>(text.front())) ||
        text.back() != '.' || text.find('\n') != std::string::npos) {
        return false;
    }
    for (const char* raw : kRawMessages) {
        if (text.find(raw) != std::string::npos) {
            return false;
        }
    }
    return true;
}

void expectAnswered(const ProcessOutcome& outcome, const std::string& what) {
    if (!outcome.exited || (outcome.status != 0 && outcome.status != 1)) {
        ADD_FAILURE() << what << " " << outcome.summary();
        return;
    }
    const std::string response = firstLine(outcome.out);
    captureWireText(outcome.status == 0 ? WireText::Response : WireText::Envelope, response);
    std::optional<std::string> error;
    try {
        error = envelopeError(response);
    } catch (const std::exception&) {
        ADD_FAILURE() << what << " answered with something that is not JSON: \"" << response
                      << "\"; it " << outcome.summary();
        return;
    }
    if (outcome.status == 0) {
        EXPECT_FALSE(error) << what << " succeeded with an envelope: " << response;
        return;
    }
    ASSERT_TRUE(error) << what << " failed without an envelope: " << outcome.summary();
    EXPECT_TRUE(isUserSentence(*error))
        << what << " failed with \"" << *error << "\", which is not a sentence for the user";
}

StoreWriteLock::StoreWriteLock(const std::string& path, const char* begin) {
    fs::create_directories(fs::path(path).parent_path());
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        ADD_FAILURE() << "the store could not be opened to lock it: " << sqlite3_errmsg(db_);
        return;
    }
    // The lock is wanted even while a child holds it for a moment.
    sqlite3_busy_timeout(db_, 30000);
    if (sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "the store could not be locked: " << sqlite3_errmsg(db_);
    }
}

StoreWriteLock::~StoreWriteLock() {
    release();
}

void StoreWriteLock::release() {
    if (db_ != nullptr) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

std::string SharedStoreFixture::newDirectory(const std::string& name) const {
    std::string directory = sandbox_.root() + "/exchanges/" + name;
    fs::remove_all(directory);
    fs::create_directories(directory);
    return directory;
}

std::string SharedStoreFixture::writeRequest(const std::string& name, const std::string& directory,
                                             json::Array records) const {
    std::string path = sandbox_.root() + "/" + name + ".json";
    platform::FileSystem::real().writeFileAtomically(
        path, json::write(json::Object{{"version", 1},
                                       {"storePath", sandbox_.storePath()},
                                       {"directory", directory},
                                       {"records", std::move(records)}}));
    return path;
}

ChildProcess SharedStoreFixture::startExchange(const std::string& requestPath) const {
    return ChildProcess(program_, {"exchange", requestPath}, requestPath);
}

std::vector<ProcessOutcome> SharedStoreFixture::waitForAll(
    std::vector<ChildProcess>& children, const std::vector<std::string>& names) const {
    std::vector<ProcessOutcome> outcomes;
    for (size_t i = 0; i < children.size(); ++i) {
        outcomes.push_back(children[i].wait());
        expectAnswered(outcomes.back(), "The exchange " + names[i]);
    }
    return outcomes;
}

std::unique_ptr<Parsed> SharedStoreFixture::readStore(const std::string& directory) const {
    fs::remove_all(directory + "/received");
    fs::create_directories(directory);
    std::string request =
        writeRequest(fs::path(directory).filename().string() + "-reader", directory, json::Array{});
    ProcessOutcome outcome = startExchange(request).wait();
    if (!outcome.succeeded()) {
        ADD_FAILURE() << "Reading the store back failed: " << outcome.summary();
        return nullptr;
    }
    captureWireText(WireText::Response, firstLine(outcome.out));
    return std::make_unique<Parsed>(firstLine(outcome.out));
}

std::string SharedStoreFixture::integrityCheck() const {
    sqlite3* db = nullptr;
    std::string answer;
    if (sqlite3_open_v2(sandbox_.storePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            answer += reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
    }
    if (answer.empty()) {
        answer = sqlite3_errmsg(db);
    }
    sqlite3_close_v2(db);
    return answer;
}

std::vector<std::string> SharedStoreFixture::missingBlobs() const {
    sqlite3* db = nullptr;
    std::vector<std::string> missing;
    if (sqlite3_open_v2(sandbox_.storePath().c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        ADD_FAILURE() << "the store could not be opened: " << sqlite3_errmsg(db);
        sqlite3_close_v2(db);
        return missing;
    }
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT dataSha256 FROM Thing WHERE dataSha256 IS NOT NULL "
                       "UNION SELECT thumbnailDataSha256 FROM Thing "
                       "WHERE thumbnailDataSha256 IS NOT NULL "
                       "UNION SELECT iconDataSha256 FROM Thing WHERE iconDataSha256 IS NOT NULL",
                       -1, &statement, nullptr);
    const std::string blobs = sandbox_.storePath() + "-blobs/";
    while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
        std::string digest = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        if (!fs::exists(blobs + digest)) {
            missing.push_back(digest);
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close_v2(db);
    return missing;
}

}  // namespace tavro::test
