#include "store/RecordRows.h"

#include <cstring>

#include "store/Schema.h"

namespace tavro::store::rows {

namespace {

using model::ProjectField;
using model::TagField;
using model::ThingField;

void bindUuid(sqlite::Statement& statement, int index, const platform::Uuid& uuid) {
    statement.bindBlob(index, uuid.bytes.data(), uuid.bytes.size());
}

int bindContent(sqlite::Statement& statement, int index,
                const std::optional<model::Content>& content) {
    if (content) {
        statement.bind(index, std::string_view(content->sha256));
        statement.bind(index + 1, static_cast<int64_t>(content->size));
    } else {
        statement.bindNull(index);
        statement.bindNull(index + 1);
    }
    return index + 2;
}

void bindRow(sqlite::Statement& statement, int index, const model::Record* record) {
    if (record != nullptr) {
        statement.bind(index, record->id().row);
    } else {
        statement.bindNull(index);
    }
}

// Readers for one column; NULL (a value never written) reads the schema default.
platform::Uuid uuidAt(const sqlite::Statement& row, int column) {
    std::string_view bytes = row.blob(column);
    if (row.isNull(column) || bytes.size() != 16) {
        return platform::Uuid::random();
    }
    platform::Uuid uuid;
    std::memcpy(uuid.bytes.data(), bytes.data(), 16);
    return uuid;
}

std::string textAt(const sqlite::Statement& row, int column, std::string_view fallback = {}) {
    return std::string(row.isNull(column) ? fallback : row.text(column));
}

int64_t integerAt(const sqlite::Statement& row, int column, int64_t fallback = 0) {
    return row.isNull(column) ? fallback : row.integer(column);
}

double realAt(const sqlite::Statement& row, int column, double fallback) {
    return row.isNull(column) ? fallback : row.real(column);
}

platform::Timestamp timeAt(const sqlite::Statement& row, int column) {
    return row.isNull(column) ? platform::now() : row.real(column);
}

std::optional<model::Content> contentAt(const sqlite::Statement& row, int column) {
    if (row.isNull(column)) {
        return std::nullopt;
    }
    return model::Content::stored(std::string(row.text(column)),
                                  static_cast<uint64_t>(integerAt(row, column + 1)));
}

std::string columnList(const std::vector<schema::FieldColumns>& fields) {
    std::string list = "id";
    for (const auto& field : fields) {
        for (const char* name : field.names) {
            list += ", ";
            list += name;
        }
    }
    return list;
}

}  // namespace

int bindThingField(sqlite::Statement& s, int i, const model::ThingState& t, ThingField field) {
    switch (field) {
        case ThingField::uuid:
            bindUuid(s, i, t.uuid);
            break;
        case ThingField::kindRaw:
            s.bind(i, std::string_view(t.kindRaw));
            break;
        case ThingField::title:
            s.bind(i, std::string_view(t.title));
            break;
        case ThingField::subtitle:
            s.bind(i, std::string_view(t.subtitle));
            break;
        case ThingField::content:
            s.bind(i, std::string_view(t.content));
            break;
        case ThingField::note:
            s.bind(i, std::string_view(t.note));
            break;
        case ThingField::urlString:
            s.bind(i, std::string_view(t.urlString));
            break;
        case ThingField::fileName:
            s.bind(i, std::string_view(t.fileName));
            break;
        case ThingField::typeIdentifier:
            s.bind(i, std::string_view(t.typeIdentifier));
            break;
        case ThingField::fileSize:
            s.bind(i, t.fileSize);
            break;
        case ThingField::data:
            return bindContent(s, i, t.data);
        case ThingField::thumbnailData:
            return bindContent(s, i, t.thumbnailData);
        case ThingField::iconData:
            return bindContent(s, i, t.iconData);
        case ThingField::aspectRatio:
            s.bind(i, t.aspectRatio);
            break;
        case ThingField::isStarred:
            s.bind(i, int64_t{t.isStarred});
            break;
        case ThingField::trashedAt:
            if (t.trashedAt) {
                s.bind(i, *t.trashedAt);
            } else {
                s.bindNull(i);
            }
            break;
        case ThingField::createdAt:
            s.bind(i, t.createdAt);
            break;
        case ThingField::updatedAt:
            s.bind(i, t.updatedAt);
            break;
        case ThingField::metadataJSON:
            s.bind(i, std::string_view(t.metadataJSON));
            break;
        case ThingField::tags:
            return i;  // the join table
        case ThingField::project:
            bindRow(s, i, t.project);
            break;
    }
    return i + 1;
}

int bindTagField(sqlite::Statement& s, int i, const model::TagState& t, TagField field) {
    switch (field) {
        case TagField::uuid:
            bindUuid(s, i, t.uuid);
            break;
        case TagField::name:
            s.bind(i, std::string_view(t.name));
            break;
        case TagField::createdAt:
            s.bind(i, t.createdAt);
            break;
        case TagField::things:
            return i;
    }
    return i + 1;
}

int bindProjectField(sqlite::Statement& s, int i, const model::ProjectState& p,
                     ProjectField field) {
    switch (field) {
        case ProjectField::uuid:
            bindUuid(s, i, p.uuid);
            break;
        case ProjectField::name:
            s.bind(i, std::string_view(p.name));
            break;
        case ProjectField::sortOrder:
            s.bind(i, p.sortOrder);
            break;
        case ProjectField::linkedFolderOwner:
            s.bind(i, std::string_view(p.linkedFolderOwner));
            break;
        case ProjectField::createdAt:
            s.bind(i, p.createdAt);
            break;
        case ProjectField::parent:
            bindRow(s, i, p.parent);
            break;
        case ProjectField::children:
        case ProjectField::things:
            return i;
    }
    return i + 1;
}

model::ThingState readThing(const sqlite::Statement& row, int64_t& projectRow) {
    model::ThingState t;
    t.uuid = uuidAt(row, 1);
    t.kindRaw = textAt(row, 2, "note");
    t.title = textAt(row, 3);
    t.subtitle = textAt(row, 4);
    t.content = textAt(row, 5);
    t.note = textAt(row, 6);
    t.urlString = textAt(row, 7);
    t.fileName = textAt(row, 8);
    t.typeIdentifier = textAt(row, 9);
    t.fileSize = integerAt(row, 10);
    t.data = contentAt(row, 11);
    t.thumbnailData = contentAt(row, 13);
    t.iconData = contentAt(row, 15);
    t.aspectRatio = realAt(row, 17, 1.0);
    t.isStarred = integerAt(row, 18) != 0;
    if (!row.isNull(19)) {
        t.trashedAt = row.real(19);
    }
    t.createdAt = timeAt(row, 20);
    t.updatedAt = timeAt(row, 21);
    t.metadataJSON = textAt(row, 22);
    projectRow = integerAt(row, 23);
    return t;
}

model::TagState readTag(const sqlite::Statement& row) {
    model::TagState t;
    t.uuid = uuidAt(row, 1);
    t.name = textAt(row, 2);
    t.createdAt = timeAt(row, 3);
    return t;
}

model::ProjectState readProject(const sqlite::Statement& row, int64_t& parentRow) {
    model::ProjectState p;
    p.uuid = uuidAt(row, 1);
    p.name = textAt(row, 2);
    p.sortOrder = integerAt(row, 3);
    p.linkedFolderOwner = textAt(row, 4);
    p.createdAt = timeAt(row, 5);
    parentRow = integerAt(row, 6);
    return p;
}

std::string thingColumnList() {
    return columnList(schema::thingColumns());
}
std::string tagColumnList() {
    return columnList(schema::tagColumns());
}
std::string projectColumnList() {
    return columnList(schema::projectColumns());
}

}  // namespace tavro::store::rows
