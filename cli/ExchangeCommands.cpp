#include "cli/ExchangeCommands.h"

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

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

bool readRequest(const std::string& source, std::string& text, std::ostream& err) {
    if (source == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
        return true;
    }
    std::ifstream file(source, std::ios::binary);
    if (!file) {
        err << "tavro: cannot read " << source << "\n";
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), {});
    return true;
}

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
bool addKnownFingerprints(std::string& request, const std::string& previousResponse,
                          std::ostream& err) {
    json::Parser parser;
    auto response = json::asObject(parser.parse(previousResponse));
    auto records = response ? json::asArray(json::member(*response, "records")) : std::nullopt;
    if (!records) {
        err << "tavro: the previous response has no records\n";
        return false;
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
        err << "tavro: the request is not a JSON object\n";
        return false;
    }
    bool empty = request.find_first_not_of(" \t\r\n", open + 1) == end;
    request.insert(end,
                   (empty ? "" : ",") + std::string("\"knownFingerprints\":") + json::write(known));
    return true;
}

struct ExchangeOptions {
    std::vector<std::string> requests;
    std::string knownFrom;
    bool pretty = false;
};

bool parseOptions(const std::vector<std::string>& args, ExchangeOptions& options,
                  std::ostream& err) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--pretty") {
            options.pretty = true;
        } else if (args[i] == "--known-from" && i + 1 < args.size()) {
            options.knownFrom = args[++i];
        } else {
            options.requests.push_back(args[i]);
        }
    }
    if (options.requests.empty()) {
        err << "usage: tavro exchange [--pretty] [--known-from RESPONSE.json] REQUEST.json...\n";
        return false;
    }
    return true;
}

}  // namespace

int runExchange(HostLibrary& library, const std::vector<std::string>& args, std::ostream& out,
                std::ostream& err) {
    ExchangeOptions options;
    if (!parseOptions(args, options, err)) {
        return 2;
    }
    std::string previous;
    if (!options.knownFrom.empty() && !readRequest(options.knownFrom, previous, err)) {
        return 1;
    }
    int status = 0;
    // Several requests run one after the other in this one process, as a host runs them.
    for (const std::string& source : options.requests) {
        std::string request;
        if (!readRequest(source, request, err) ||
            (!previous.empty() && !addKnownFingerprints(request, previous, err))) {
            return 1;
        }
        std::promise<std::string> promise;
        std::future<std::string> future = promise.get_future();
        library.exchange(request.c_str(), reinterpret_cast<intptr_t>(&promise), deliver);
        std::string response = awaitResponse(future, err);

        if (auto error = envelopeError(response)) {
            err << "tavro: " << *error << "\n";
            status = 1;
        }
        out << (options.pretty ? prettyJson(response) : response + "\n") << std::flush;
    }
    return status;
}

}  // namespace tavro::cli
