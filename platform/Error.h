// SPDX-License-Identifier: MIT
#pragma once
// Errors as the platform models them: a domain, an integer code, a localized description and
// a user-info map. Error values are shared and compared by identity (the same object), which
// is what the cloud error description relies on to stop at cycles.
//
// Operations that fail throw `tavro::platform::Error`; it holds one `ErrorRef`. Nothing of
// this header may cross the C boundary: the bridge turns every Error into an envelope.

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tavro::platform {

// Domains we produce or read.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPosixErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kCloudKitErrorDomain = "CKErrorDomain";
inline constexpr const char* kBridgeErrorDomain = "TavroApple.BridgeError";
// Failures that are not the platform's own (an exception from a library we use).
inline constexpr const char* kInternalErrorDomain = "TavroApple.InternalError";

// CloudKit's "partial failure" code for a batch request.
inline constexpr int64_t kCloudKitBatchRequestFailed = 22;

struct ErrorValue;
using ErrorRef = std::shared_ptr<ErrorValue>;

// One platform error. The optional members stand for the user-info entries the description
// reads: NSLocalizedDescriptionKey, "CKErrorDescription", NSUnderlyingErrorKey and
// CKPartialErrorsByItemIDKey. `debugDescription` carries detail for logs and tests only
// (for a parse error: what the parser found and where); users never see it.
struct ErrorValue {
    std::string domain;
    int64_t code = 0;
    std::string localizedDescription;  // what the error says when no user-info text is set

    std::optional<std::string> userInfoLocalizedDescription;
    std::optional<std::string> cloudKitDescription;
    ErrorRef underlying;
    std::vector<std::pair<std::string, ErrorRef>> partialErrors;  // item id -> error
    std::string debugDescription;

    // The text a user sees for this one error: the user-info description if present, else
    // the localized description.
    const std::string& description() const {
        return userInfoLocalizedDescription ? *userInfoLocalizedDescription : localizedDescription;
    }
};

ErrorRef makeError(std::string domain, int64_t code, std::string localizedDescription,
                   std::string debugDescription = {});

// The exception every failing operation throws.
class Error : public std::exception {
  public:
    explicit Error(ErrorRef value) : value_(std::move(value)) {}
    const ErrorRef& value() const noexcept { return value_; }
    const char* what() const noexcept override { return value_->description().c_str(); }

  private:
    ErrorRef value_;
};

[[noreturn]] void throwError(std::string domain, int64_t code, std::string description,
                             std::string debugDescription = {});

// A failed file-system call, as the platform reports it: domain NSCocoaErrorDomain with the
// file-error code that matches `errnoValue` and a sentence naming the file. `operation` is the
// past participle the sentence uses: "opened" or "read" choose the reading codes (260 no such
// file, 257 no permission, 256 other); any other word ("saved", "created", "copied", "moved",
// "removed") chooses the writing codes (4 no such file, 513 no permission, 640 out of space,
// 512 other). The error stands alone, without an underlying POSIX error, because users are
// shown the leaves of an error tree and the sentence about the file is the useful one; the
// errno and its text are kept in the debug description.
[[noreturn]] void throwFileError(int errnoValue, const std::string& path,
                                 const std::string& operation);
ErrorRef makeFileError(int errnoValue, const std::string& path, const std::string& operation);

// The error for any other unexpected condition (an exception from a library we use): keeps its
// text so that it can still be described to the user.
ErrorRef errorFromException(const std::exception& exception);

}  // namespace tavro::platform
