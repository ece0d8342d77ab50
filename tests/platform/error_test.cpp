// SPDX-License-Identifier: MIT
#include "platform/Error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <system_error>

#include "platform/BridgeError.h"

namespace tavro::platform {
namespace {

struct FileErrorRow {
    int errnoValue;
    const char* operation;
    int64_t code;
    const char* text;
};

TEST(FileErrors, CodesAndSentencesFollowTheOperation) {
    const std::string path = "/data/Pictures/photo.png";
    const FileErrorRow rows[] = {
        {ENOENT, "opened", 260,
         "The file \u201cphoto.png\u201d couldn\u2019t be opened because there is no such file."},
        {EACCES, "opened", 257,
         "The file \u201cphoto.png\u201d couldn\u2019t be opened because you don\u2019t have "
         "permission to view it."},
        {EPERM, "read", 257,
         "The file \u201cphoto.png\u201d couldn\u2019t be read because you don\u2019t have "
         "permission to view it."},
        {EISDIR, "opened", 256, "The file \u201cphoto.png\u201d couldn\u2019t be opened."},
        {ENOENT, "saved", 4, "The file \u201cphoto.png\u201d doesn\u2019t exist."},
        {EACCES, "saved", 513,
         "You don\u2019t have permission to save the file \u201cphoto.png\u201d in the folder "
         "\u201cPictures\u201d."},
        {EROFS, "created", 513,
         "You don\u2019t have permission to save the file \u201cphoto.png\u201d in the folder "
         "\u201cPictures\u201d."},
        {ENOSPC, "saved", 640,
         "The file \u201cphoto.png\u201d couldn\u2019t be saved because there isn\u2019t enough "
         "space."},
        {EIO, "copied", 512,
         "The file \u201cphoto.png\u201d couldn\u2019t be copied in the folder "
         "\u201cPictures\u201d."},
    };
    for (const FileErrorRow& row : rows) {
        const ErrorRef error = makeFileError(row.errnoValue, path, row.operation);
        EXPECT_EQ(error->domain, kCocoaErrorDomain);
        EXPECT_EQ(error->code, row.code) << row.errnoValue << " " << row.operation;
        EXPECT_EQ(error->description(), row.text);
        // One error, no tree: the description must show the sentence about the file.
        EXPECT_EQ(error->underlying, nullptr);
        EXPECT_NE(error->debugDescription.find(path), std::string::npos);
        EXPECT_NE(error->debugDescription.find(std::to_string(row.errnoValue)), std::string::npos);
    }
    EXPECT_THROW(throwFileError(ENOENT, path, "opened"), Error);
}

TEST(Errors, ValuesAndExceptions) {
    const ErrorRef value = makeError("Domain", 7, "Text.", "detail");
    EXPECT_EQ(value->description(), "Text.");
    value->userInfoLocalizedDescription = "User text.";
    EXPECT_EQ(value->description(), "User text.");
    try {
        throwError("D", 3, "Thrown.", "why");
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Thrown.");
        EXPECT_EQ(error.value()->debugDescription, "why");
    }
}

TEST(Errors, FromExceptionKeepsTheTextAndTheIdentity) {
    const Error original(makeError("D", 9, "Original."));
    EXPECT_EQ(errorFromException(original), original.value());  // the same object

    const ErrorRef fromStd = errorFromException(std::runtime_error("disk on fire"));
    EXPECT_EQ(fromStd->description(), "disk on fire");

    const ErrorRef fromSystem =
        errorFromException(std::system_error(std::make_error_code(std::errc::io_error)));
    EXPECT_EQ(fromSystem->domain, kPosixErrorDomain);
    EXPECT_EQ(fromSystem->code, EIO);
    EXPECT_FALSE(fromSystem->description().empty());

    struct Silent : std::exception {
        const char* what() const noexcept override { return ""; }
    };
    EXPECT_FALSE(errorFromException(Silent()).get()->description().empty());
}

TEST(BridgeErrors, MessageIsBothDescriptions) {
    const BridgeError error(message::kStoreNotInAppGroup);
    EXPECT_EQ(error.message(), "The iCloud store must be in Tavro\u2019s App Group.");
    EXPECT_EQ(error.value()->domain, kBridgeErrorDomain);
    EXPECT_EQ(error.value()->code, 1);
    EXPECT_EQ(error.value()->localizedDescription, error.message());
    EXPECT_EQ(error.value()->userInfoLocalizedDescription, error.message());
    EXPECT_STREQ(error.what(), message::kStoreNotInAppGroup);

    try {
        throw BridgeError(message::kInvalidBridgeRequest);
    } catch (const Error& caught) {  // caught as the general error type
        EXPECT_EQ(caught.value()->description(), "Invalid bridge request.");
    }
}

}  // namespace
}  // namespace tavro::platform
