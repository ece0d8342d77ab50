// SPDX-License-Identifier: MIT
#include "model/LinkClassification.h"

#include <algorithm>
#include <string>
#include <vector>

#include "model/ServiceHosts.h"

namespace tavro::model {

namespace {

std::string asciiLowercased(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// Every occurrence goes, not only a leading one, in one left-to-right pass as text
// replacement does it.
std::string removingWww(const std::string& host) {
    static constexpr std::string_view kWww = "www.";
    std::string result;
    result.reserve(host.size());
    size_t from = 0;
    for (size_t at; (at = host.find(kWww, from)) != std::string::npos; from = at + kWww.size()) {
        result.append(host, from, at - from);
    }
    result.append(host, from, std::string::npos);
    return result;
}

std::string normalisedHost(const platform::Url& url) {
    return removingWww(asciiLowercased(url.host().value_or(std::string())));
}

std::vector<std::string> segments(const platform::Url& url) {
    std::vector<std::string> result;
    for (const std::string& component : url.pathComponents()) {
        if (component != "/") {
            result.push_back(component);
        }
    }
    return result;
}

bool isMicroblogHost(std::string_view host) {
    const auto& hosts = service_hosts::kMicroblogHosts;
    return std::find(hosts.begin(), hosts.end(), host) != hosts.end();
}

}  // namespace

ThingKind classify(const platform::Url& url) {
    const std::string host = normalisedHost(url);
    const std::vector<std::string> parts = segments(url);
    if (isMicroblogHost(host) && std::find(parts.begin(), parts.end(),
                                           service_hosts::kMicroblogPostSegment) != parts.end()) {
        return ThingKind::tweet;
    }
    if (host == service_hosts::kCodeHost) {
        return parts.size() >= 2 ? ThingKind::github : ThingKind::link;
    }
    return ThingKind::link;
}

ThingKind classifyUrl(const platform::Url& url) {
    return classify(url);
}

ThingKind classify(const platform::UniformType& type) {
    using platform::UniformType;
    if (type.conforms(UniformType::image())) {
        return ThingKind::image;
    }
    if (type.conforms(UniformType::movie()) || type.conforms(UniformType::video()) ||
        type.conforms(UniformType::audiovisualContent())) {
        return ThingKind::video;
    }
    return ThingKind::document;
}

}  // namespace tavro::model
