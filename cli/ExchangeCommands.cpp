// SPDX-License-Identifier: MIT
#include "cli/ExchangeCommands.h"

#include <unistd.h>

#include <chrono>
#include <future>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

#include "cli/CommandLine.h"
#include "cli/HostLibrary.h"
#include "cli/PrettyJson.h"
#include "platform/Json.h"

namespace tavro::cli {

namespace json = platform::json;

int runGroupPath(HostLibrary& library, std::ostream& out) {
    char* path = library.groupPath();
    if (!path) {
        out << "(none)\n";
        return 1;
    }
    out << path << "\n";
    library.free(path);
    return 0;
}

int runCloudAvailable(HostLibrary& library, std::ostream& out) {
    int32_t available = library.cloudAvailable();
    out << available << "\n";
    return available == 1 ? 0 : 1;
}

namespace {

// The callback arrives on the library's executor thread; it hands the text to the waiting
// main thread. The pointer is valid only during the call, so the text is copied.
void deliver(intptr_t context, const char* response) {
    reinterpret_cast<std::promise<std::string>*>(context)->set_value(response);
}

std::string awaitResponse(std::future<std::string>& future, std::ostream& err) {
    const bool showProgress = isatty(STDERR_FILENO);
    const char* frames = "|/-\\";
    int frame = 0;
    while (future.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
        if (showProgress) {
            err << "\rExchanging\u2026 " << frames[frame++ % 4] << std::flush;
        }
    }
    if (showProgress && frame > 0) {
        err << "\r\033[K" << std::flush;
    }
    return future.get();
}

// The error envelope's text, or nothing for a normal response.
std::optional<std::string> envelopeError(const std::string& response) {
    try {
        json::Parser parser;
        auto object = json::asObject(parser.parse(response));
        if (object) {
            if (auto error = json::asString(json::member(*object, "error"))) {
                return std::string(*error);
            }
        }
    } catch (const std::exception&) {
        return std::string("The library answered with text that is not JSON.");
    }
    return std::nullopt;
}

// Appends "knownFingerprints" from a previous response to a request object. Of duplicate keys
// the last wins, so this overrides any the request already names.
// Throws CommandError naming the file that is not what it should be.
void addKnownFingerprints(std::string& request, const std::string& requestSource,
                          const std::string& previousResponse, const std::string& previousSource) {
    json::Parser parser;
    std::optional<json::ObjectView> response;
    try {
        response = json::asObject(parser.parse(previousResponse));
    } catch (const std::exception& error) {
        throw CommandError(previousSource + ": " + error.what());
    }
    auto records = response ? json::asArray(json::member(*response, "records")) : std::nullopt;
    if (!records) {
        throw CommandError(previousSource +
                           ": not an exchange response (it has no \"records\" array)");
    }
    json::Object known;
    for (json::Element element : *records) {
        auto record = json::asObject(element);
        auto uuid = record ? json::asString(json::member(*record, "uuid")) : std::nullopt;
        auto fingerprint =
            record ? json::asString(json::member(*record, "fingerprint")) : std::nullopt;
        if (uuid && fingerprint) {
            known.push_back({"Thing:" + std::string(*uuid), std::string(*fingerprint)});
        }
    }
    size_t end = request.find_last_of('}');
    size_t open = request.find('{');
    if (end == std::string::npos || open == std::string::npos || open > end) {
        throw CommandError(requestSource + ": the request is not a JSON object");
    }
    bool empty = request.find_first_not_of(" \t\r\n", open + 1) == end;
    request.insert(end,
                   (empty ? "" : ",") + std::string("\"knownFingerprints\":") + json::write(known));
}

struct ExchangeOptions {
    std::vector<std::string> requests;
    std::string knownFrom;
    bool pretty = false;
};

// Throws UsageError for an option it does not know or a missing value.
ExchangeOptions parseOptions(const std::vector<std::string>& args) {
    ExchangeOptions options;
    bool onlyFiles = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyFiles || arg == "-" || !arg.starts_with('-')) {
            options.requests.push_back(arg);
        } else if (arg == "--") {
            onlyFiles = true;
        } else if (arg == "--pretty") {
            options.pretty = true;
        } else if (arg == "--known-from") {
            if (i + 1 == args.size()) {
                throw UsageError("option '--known-from' needs a file (RESPONSE.json)");
            }
            options.knownFrom = args[++i];
        } else {
            throw UsageError("unknown option '" + arg + "' for exchange");
        }
    }
    if (options.requests.empty()) {
        throw UsageError("exchange needs a request file (REQUEST.json, or - for standard input)");
    }
    return options;
}

}  // namespace

int runExchange(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err) {
    ExchangeOptions options = parseOptions(args);
    std::string previous;
    if (!options.knownFrom.empty()) {
        previous = readInput(options.knownFrom);
    }
    int status = 0;
    // Several requests run one after the other in this one process, as a host runs them.
    for (const std::string& source : options.requests) {
        std::string request = readInput(source);
        if (!options.knownFrom.empty()) {
            addKnownFingerprints(request, source, previous, options.knownFrom);
        }
        std::promise<std::string> promise;
        std::future<std::string> future = promise.get_future();
        library.exchange(request.c_str(), reinterpret_cast<intptr_t>(&promise), deliver);
        std::string response = awaitResponse(future, err);

        if (auto error = envelopeError(response)) {
            err << "tavro: " << *error << "\n";
            // The answer stays the library's own; what to change on this system is added here.
            printProvisioningHint(*error, err);
            status = 1;
        }
        out << (options.pretty ? prettyJson(response) : response + "\n") << std::flush;
    }
    return status;
}

}  // namespace tavro::cli
