// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "platform/Url.h"

namespace tavro::platform {
namespace {

using Components = std::vector<std::string>;

TEST(UrlParts, HostKeepsCaseAndLeavesOutUserAndPort) {
    auto url = Url::parse("https://user:pw@Host.Example:8080/x");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->host(), "Host.Example");
    EXPECT_EQ(url->scheme(), "https");
    EXPECT_EQ(Url::parse("HTTPS://WWW.GitHub.COM")->host(), "WWW.GitHub.COM");
}

TEST(UrlParts, AddressesWithoutHost) {
    for (const char* text : {"mailto:a@b.c", "file:///srv/x", "/just/a/path", "relative"}) {
        auto url = Url::parse(text);
        ASSERT_TRUE(url) << text;
        EXPECT_FALSE(url->host()) << text;
    }
}

TEST(UrlParts, PathComponentsAsThePlatformListsThem) {
    EXPECT_EQ(Url::parse("https://h/owner/repo")->pathComponents(),
              (Components{"/", "owner", "repo"}));
    EXPECT_EQ(Url::parse("https://h/owner/repo/")->pathComponents(),
              (Components{"/", "owner", "repo"}));
    EXPECT_EQ(Url::parse("https://h//a///b")->pathComponents(), (Components{"/", "a", "b"}));
    EXPECT_EQ(Url::parse("https://h")->pathComponents(), Components{});
    EXPECT_EQ(Url::parse("https://h/")->pathComponents(), Components{"/"});
    EXPECT_EQ(Url::parse("https://h/a%20b/%2F?q=1#f")->pathComponents(),
              (Components{"/", "a b", "/"}));
    EXPECT_EQ(Url::parse("https://h/./../x")->pathComponents(), (Components{"/", ".", "..", "x"}));
    EXPECT_EQ(Url::parse("file:///srv/x")->pathComponents(), (Components{"/", "srv", "x"}));
    EXPECT_EQ(Url::parse("mailto:a@b.c")->pathComponents(), Components{"a@b.c"});
    EXPECT_EQ(Url::parse("/")->pathComponents(), Components{"/"});
}

TEST(UrlParts, DisallowedCharactersAreEncodedNotRefused) {
    auto url = Url::parse("https://h/a b/\xC3\xA9?q=\"x\"");
    ASSERT_TRUE(url);
    EXPECT_EQ(url->absoluteString(), "https://h/a%20b/%C3%A9?q=%22x%22");
    EXPECT_EQ(url->pathComponents(), (Components{"/", "a b", "\xC3\xA9"}));
    EXPECT_EQ(Url::parse("https://h/100%")->absoluteString(), "https://h/100%25");
}

TEST(UrlParts, EmptyTextAndMalformedAuthoritiesDoNotParse) {
    EXPECT_FALSE(Url::parse(""));
    EXPECT_FALSE(Url::parse("http://[::1/x"));
    EXPECT_FALSE(Url::parse("http://host:80a/x"));
}

}  // namespace
}  // namespace tavro::platform
