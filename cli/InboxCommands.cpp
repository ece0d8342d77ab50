// SPDX-License-Identifier: MIT
#include "cli/InboxCommands.h"

#include "platform/Json.h"
#include "platform/Paths.h"
#include "platform/Uuid.h"
#include "share/SharedInbox.h"

namespace tavro::cli {

namespace {

namespace json = platform::json;
using share::SharedInbox;

constexpr int kUsageError = 2;

void printUsage(std::ostream& err) {
    err << "usage: tavro inbox list\n"
           "       tavro inbox remove ID\n";
}

int listEntries(std::ostream& out, const platform::Env& env) {
    for (const SharedInbox::Pending& pending : SharedInbox::pendingEntries(env)) {
        json::Object record;
        try {
            record = pending.entry.record();
        } catch (const std::exception&) {
            continue;  // a record that was read back can always be written; never seen
        }
        if (pending.payloadURL) {
            record.push_back({"payloadPath", platform::paths::absolute(*pending.payloadURL)});
        }
        out << json::write(record, json::KeyOrder::AsGiven) << '\n';
    }
    out.flush();
    return 0;
}

int removeEntry(const std::string& idText, std::ostream& err, const platform::Env& env) {
    auto id = platform::Uuid::parse(idText);
    if (!id) {
        err << "tavro: \u201c" << idText << "\u201d is not an entry identifier.\n";
        return kUsageError;
    }
    SharedInbox::remove(*id, env);
    return 0;
}

}  // namespace

int runInboxCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const platform::Env& env) {
    if (args.size() == 1 && args[0] == "list")
        return listEntries(out, env);
    if (args.size() == 2 && args[0] == "remove")
        return removeEntry(args[1], err, env);
    printUsage(err);
    return kUsageError;
}

}  // namespace tavro::cli
