// SPDX-License-Identifier: MIT
#include "cli/SyncCommand.h"

#include <chrono>
#include <future>
#include <thread>

#include "cli/CommandLine.h"
#include "cli/HostLibrary.h"
#include "cli/PrettyJson.h"
#include "platform/CloudAccount.h"
#include "platform/Json.h"

namespace tavro::cli {

namespace json = platform::json;

namespace {

// How long the host waits for its sync thread's first round, and how often it asks.
constexpr std::chrono::seconds kSettleTimeout{60};
constexpr std::chrono::milliseconds kSettlePoll{50};

void deliver(intptr_t context, const char* response) {
    reinterpret_cast<std::promise<std::string>*>(context)->set_value(response);
}

std::string exchangeOnce(HostLibrary& library, const std::string& request) {
    std::promise<std::string> promise;
    std::future<std::string> future = promise.get_future();
    library.exchange(request.c_str(), reinterpret_cast<intptr_t>(&promise), deliver);
    return future.get();
}

}  // namespace

ReadBack readBackRequest(const std::string& request, const std::string& source) {
    json::Parser parser;
    std::optional<json::ObjectView> object;
    try {
        object = json::asObject(parser.parse(request));
    } catch (const std::exception& error) {
        throw CommandError(source + ": " + error.what());
    }
    auto storePath = object ? json::asString(json::member(*object, "storePath")) : std::nullopt;
    if (!storePath) {
        throw CommandError(source + ": not an exchange request (it has no \"storePath\")");
    }
    json::Object readBack{
        {"version", json::asInteger(json::member(*object, "version")).value_or(1)},
        {"storePath", std::string(*storePath)}};
    if (auto directory = json::asString(json::member(*object, "directory"))) {
        readBack.push_back({"directory", std::string(*directory)});
    }
    readBack.push_back({"records", json::Array{}});
    return {std::string(*storePath), json::write(readBack)};
}

namespace {

// The error envelope's text, or nothing for a response.
std::optional<std::string> envelopeError(const std::string& response) {
    try {
        json::Parser parser;
        auto object = json::asObject(parser.parse(response));
        auto error = object ? json::asString(json::member(*object, "error")) : std::nullopt;
        return error ? std::optional<std::string>(*error) : std::nullopt;
    } catch (const std::exception&) {
        return std::string("The library answered with text that is not JSON.");
    }
}

}  // namespace

SyncProgress syncProgress(const std::string& response) {
    json::Parser parser;
    std::optional<json::ObjectView> object;
    try {
        object = json::asObject(parser.parse(response));
    } catch (const std::exception&) {
        return SyncProgress::Failed;
    }
    if (!object || json::member(*object, "error")) {
        return SyncProgress::Failed;
    }
    std::string_view status = json::asString(json::member(*object, "status")).value_or("");
    if (status.starts_with("iCloud: ")) {
        return SyncProgress::Failed;
    }
    // "iCloud enabled" alone follows a round's pull or push; the initial status only starts so.
    bool synced = status == "iCloud enabled" && json::member(*object, "lastSync");
    return synced ? SyncProgress::Synced : SyncProgress::Running;
}

int runSync(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, const platform::Env& env) {
    bool pretty = false;
    std::vector<std::string> sources;
    for (const std::string& arg : args) {
        if (arg == "--pretty") {
            pretty = true;
        } else if (arg.starts_with('-') && arg != "-") {
            throw UsageError("unknown option '" + arg + "' for sync");
        } else {
            sources.push_back(arg);
        }
    }
    if (sources.size() != 1) {
        throw UsageError(sources.empty() ? "sync needs a request file (REQUEST.json)"
                                         : "unexpected argument '" + sources[1] + "' for sync");
    }
    ReadBack readBack = readBackRequest(readInput(sources[0]), sources[0]);
    std::optional<std::string> service = platform::cloudAccountService(env);
    if (!service) {
        throw CommandError(
            "no sync server is signed in to (see \u201ctavro account sign-in\u201d)");
    }
    // The host's sync thread starts with its first exchange: its first round pushes what the
    // store holds to push, then pulls. This process saves nothing, so once a push or a pull
    // has ended everything saved before is on the server, and with nothing to push the round
    // ends with its pull.
    auto deadline = std::chrono::steady_clock::now() + kSettleTimeout;
    std::string response = exchangeOnce(library, readBack.request);
    SyncProgress progress = syncProgress(response);
    while (progress == SyncProgress::Running && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(kSettlePoll);
        response = exchangeOnce(library, readBack.request);
        progress = syncProgress(response);
    }
    out << (pretty ? prettyJson(response) : response + "\n") << std::flush;
    if (auto error = envelopeError(response)) {
        err << "tavro: " << *error << "\n";
    } else if (progress == SyncProgress::Running) {
        err << "tavro: the library\u2019s sync did not finish a round within "
            << kSettleTimeout.count() << " s\n";
    }
    return progress == SyncProgress::Synced ? 0 : 1;
}

}  // namespace tavro::cli
