// SPDX-License-Identifier: MIT
#pragma once
// Choosing a kind for a new thing made from a web address or from a file's type. Stateless;
// usable from any thread.

#include "model/ThingKind.h"
#include "platform/TypeIdentifiers.h"
#include "platform/Url.h"

namespace tavro::model {

// A post on the microblogging service is a tweet, a page on the code host with at least an
// owner and a repository segment is a repository, everything else a link. Hosts are compared
// lower-cased with every "www." removed; the post segment is compared exactly.
ThingKind classify(const platform::Url& url);
ThingKind classifyUrl(const platform::Url& url);

// Images are images; movies, videos and all audiovisual content (audio included) are videos;
// everything else is a document.
ThingKind classify(const platform::UniformType& type);

}  // namespace tavro::model
