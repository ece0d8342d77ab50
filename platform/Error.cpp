// SPDX-License-Identifier: MIT
#include "platform/Error.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/Paths.h"

namespace tavro::platform {

namespace {

// Cocoa's file-error codes.
constexpr int64_t kFileNoSuchFile = 4;
constexpr int64_t kFileReadUnknown = 256;
constexpr int64_t kFileReadNoPermission = 257;
constexpr int64_t kFileReadNoSuchFile = 260;
constexpr int64_t kFileWriteUnknown = 512;
constexpr int64_t kFileWriteNoPermission = 513;
constexpr int64_t kFileWriteOutOfSpace = 640;

std::string quoted(const std::string& name) {
    return "\u201c" + name + "\u201d";
}

bool isReading(const std::string& operation) {
    return operation == "opened" || operation == "read";
}

bool isMissing(int e) {
    return e == ENOENT || e == ENOTDIR;
}
bool isForbidden(int e) {
    return e == EACCES || e == EPERM || e == EROFS;
}
bool isFull(int e) {
    return e == ENOSPC || e == EDQUOT;
}

struct CodeAndText {
    int64_t code;
    std::string text;
};

CodeAndText readingError(int e, const std::string& file, const std::string& operation) {
    const std::string subject = "The file " + quoted(file) + " couldn\u2019t be " + operation;
    if (isMissing(e)) {
        return {kFileReadNoSuchFile, subject + " because there is no such file."};
    }
    if (isForbidden(e)) {
        return {kFileReadNoPermission,
                subject + " because you don\u2019t have permission to view it."};
    }
    return {kFileReadUnknown, subject + "."};
}

CodeAndText writingError(int e, const std::string& file, const std::string& folder,
                         const std::string& operation) {
    if (isMissing(e)) {
        return {kFileNoSuchFile, "The file " + quoted(file) + " doesn\u2019t exist."};
    }
    if (isForbidden(e)) {
        return {kFileWriteNoPermission, "You don\u2019t have permission to save the file " +
                                            quoted(file) + " in the folder " + quoted(folder) +
                                            "."};
    }
    const std::string subject = "The file " + quoted(file) + " couldn\u2019t be " + operation;
    if (isFull(e)) {
        return {kFileWriteOutOfSpace, subject + " because there isn\u2019t enough space."};
    }
    return {kFileWriteUnknown, subject + " in the folder " + quoted(folder) + "."};
}

std::string nameOf(const std::string& path) {
    std::string name = paths::lastComponent(path);
    return name.empty() ? path : name;
}

}  // namespace

ErrorRef makeError(std::string domain, int64_t code, std::string localizedDescription,
                   std::string debugDescription) {
    auto value = std::make_shared<ErrorValue>();
    value->domain = std::move(domain);
    value->code = code;
    value->localizedDescription = std::move(localizedDescription);
    value->debugDescription = std::move(debugDescription);
    return value;
}

void throwError(std::string domain, int64_t code, std::string description,
                std::string debugDescription) {
    throw Error(
        makeError(std::move(domain), code, std::move(description), std::move(debugDescription)));
}

ErrorRef makeFileError(int errnoValue, const std::string& path, const std::string& operation) {
    const std::string file = nameOf(path);
    const CodeAndText chosen =
        isReading(operation)
            ? readingError(errnoValue, file, operation)
            : writingError(errnoValue, file, nameOf(paths::parent(path)), operation);
    std::string debug =
        path + ": errno " + std::to_string(errnoValue) + " (" + std::strerror(errnoValue) + ")";
    return makeError(kCocoaErrorDomain, chosen.code, chosen.text, std::move(debug));
}

void throwFileError(int errnoValue, const std::string& path, const std::string& operation) {
    throw Error(makeFileError(errnoValue, path, operation));
}

ErrorRef errorFromException(const std::exception& exception) {
    if (const auto* error = dynamic_cast<const Error*>(&exception)) {
        return error->value();
    }
    std::string text = exception.what();
    if (text.empty()) {
        text = "An unexpected error occurred.";
    }
    if (const auto* system = dynamic_cast<const std::system_error*>(&exception)) {
        return makeError(kPosixErrorDomain, system->code().value(), text, text);
    }
    return makeError(kInternalErrorDomain, 1, text, text);
}

}  // namespace tavro::platform
