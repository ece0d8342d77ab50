// SPDX-License-Identifier: MIT
#include "mirror/ServerRecords.h"

namespace tavro::mirror {

namespace {

// A text[] value as the server writes it: {a,b}. Digests need no quoting.
std::vector<std::string> parseTextArray(std::string_view text) {
    std::vector<std::string> items;
    if (text.size() < 2) {
        return items;
    }
    text = text.substr(1, text.size() - 2);
    while (!text.empty()) {
        auto comma = text.find(',');
        items.emplace_back(text.substr(0, comma));
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return items;
}

std::string textArray(const std::vector<std::string>& items) {
    std::string text = "{";
    for (const std::string& item : items) {
        if (text.size() > 1) {
            text += ',';
        }
        text += '"';
        for (char c : item) {
            if (c == '"' || c == '\\') {
                text += '\\';
            }
            text += c;
        }
        text += '"';
    }
    return text + "}";
}

WriteOutcome readOutcome(const Result& result) {
    WriteOutcome outcome;
    outcome.applied = result.boolean(0, 0);
    outcome.version = result.integer(0, 1);
    outcome.sequence = result.integer(0, 2);
    outcome.deleted = result.boolean(0, 3);
    outcome.body = result.optionalText(0, 4);
    return outcome;
}

}  // namespace

std::vector<ServerChange> changesSince(Connection& connection, int64_t after, int pageSize) {
    Result result = connection.query(
        "SELECT sequence, record_type, identifier, version, deleted, body, contents "
        "FROM tavro.changes_since($1, $2)",
        {Param::integer(after), Param::integer(pageSize)});
    std::vector<ServerChange> changes;
    changes.reserve(static_cast<size_t>(result.rows()));
    for (int row = 0; row < result.rows(); ++row) {
        ServerChange change;
        change.sequence = result.integer(row, 0);
        change.recordType = result.text(row, 1);
        change.identifier = result.text(row, 2);
        change.version = result.integer(row, 3);
        change.deleted = result.boolean(row, 4);
        change.body = result.optionalText(row, 5).value_or(std::string());
        change.contents = parseTextArray(result.text(row, 6));
        changes.push_back(std::move(change));
    }
    return changes;
}

WriteOutcome pushRecord(Connection& connection, const std::string& recordType,
                        const std::string& identifier, int64_t expectedVersion,
                        const std::string& body, const std::vector<std::string>& contents) {
    return readOutcome(connection.query(
        "SELECT applied, version, sequence, deleted, body "
        "FROM tavro.push_record($1, $2::uuid, $3, $4, $5::text[])",
        {Param::text(recordType), Param::text(identifier), Param::integer(expectedVersion),
         Param::text(body), Param::text(textArray(contents))}));
}

WriteOutcome deleteRecord(Connection& connection, const std::string& recordType,
                          const std::string& identifier, int64_t expectedVersion) {
    return readOutcome(connection.query(
        "SELECT applied, version, sequence, deleted, body "
        "FROM tavro.delete_record($1, $2::uuid, $3)",
        {Param::text(recordType), Param::text(identifier), Param::integer(expectedVersion)}));
}

bool hasContent(Connection& connection, const std::string& digest) {
    return connection.query("SELECT tavro.has_content($1)", {Param::text(digest)}).boolean(0, 0);
}

bool putChunk(Connection& connection, const std::string& digest, int index,
              const std::string& bytes) {
    return connection
        .query("SELECT tavro.put_chunk($1, $2, $3)",
               {Param::text(digest), Param::integer(index), Param::bytes(bytes)})
        .boolean(0, 0);
}

bool finishContent(Connection& connection, const std::string& digest, int chunkCount) {
    return connection
        .query("SELECT tavro.finish_content($1, $2)",
               {Param::text(digest), Param::integer(chunkCount)})
        .boolean(0, 0);
}

std::optional<std::string> getChunk(Connection& connection, const std::string& digest, int index) {
    // Asked for in binary, so the bytes arrive as they are rather than hex-encoded.
    Result result = connection.query("SELECT tavro.get_chunk($1, $2)",
                                     {Param::text(digest), Param::integer(index)}, true);
    if (result.isNull(0, 0)) {
        return std::nullopt;
    }
    return std::string(result.text(0, 0));
}

}  // namespace tavro::mirror
