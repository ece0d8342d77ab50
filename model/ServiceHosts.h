// SPDX-License-Identifier: MIT
#pragma once
// The services whose addresses become their own kinds of thing. Hosts are lower-case and
// without "www.", the form addresses are normalised to before they are compared.

#include <array>
#include <string_view>

namespace tavro::model::service_hosts {

// The microblogging service: its two primary domains and the mobile subdomain of one of them.
inline constexpr std::array<std::string_view, 3> kMicroblogHosts = {"twitter.com", "x.com",
                                                                    "mobile.twitter.com"};

// The path segment that marks a single post on the microblogging service (case-sensitive).
inline constexpr std::string_view kMicroblogPostSegment = "status";

// The code-hosting service whose repository pages become repository things.
inline constexpr std::string_view kCodeHost = "github.com";

}  // namespace tavro::model::service_hosts
