// SPDX-License-Identifier: MIT
#include "platform/CloudErrorDescription.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace tavro::platform {

namespace {

// Depths 0 to 11 are examined: a chain deeper than that is a loop in all but name, and the
// twelve levels cover every wrapping the platform's services do.
constexpr int kDeepestLevel = 11;
constexpr size_t kMostParts = 3;

// The text the platform gives for an error it cannot say anything about.
constexpr const char* kNoDescription = "The operation couldn\u2019t be completed.";

class LeafCollector {
  public:
    // The leaves under `error`: per-item errors first, then the underlying error; the error
    // itself when it has neither. Errors are visited once each, by identity, so cycles end.
    void collect(const ErrorRef& error, int depth, std::vector<const ErrorValue*>& leaves) {
        if (!error || depth > kDeepestLevel || !visited_.insert(error.get()).second) {
            return;
        }
        size_t before = leaves.size();
        for (const auto& [item, partial] : error->partialErrors) {
            collect(partial, depth + 1, leaves);
        }
        collect(error->underlying, depth + 1, leaves);
        if (leaves.size() == before) {
            leaves.push_back(error.get());
        }
    }

  private:
    std::unordered_set<const ErrorValue*> visited_;
};

bool isBatchWrapper(const ErrorValue* error) {
    return error->domain == kCloudKitErrorDomain && error->code == kCloudKitBatchRequestFailed;
}

std::string textOf(const ErrorValue* error) {
    std::string text = error->userInfoLocalizedDescription ? *error->userInfoLocalizedDescription
                       : error->cloudKitDescription        ? *error->cloudKitDescription
                                                           : error->localizedDescription;
    if (error->domain == kCloudKitErrorDomain) {
        text += " (CloudKit " + std::to_string(error->code) + ")";
    }
    return text;
}

}  // namespace

std::string cloudErrorDescription(const ErrorRef& error) {
    if (!error) {
        return kNoDescription;
    }
    std::vector<const ErrorValue*> leaves;
    LeafCollector().collect(error, 0, leaves);

    // The batch wrapper says only that something in the batch failed; the per-item errors
    // say what. It is kept only when it is all there is.
    std::vector<const ErrorValue*> useful;
    std::copy_if(leaves.begin(), leaves.end(), std::back_inserter(useful),
                 [](const ErrorValue* leaf) { return !isBatchWrapper(leaf); });
    if (useful.empty()) {
        useful = std::move(leaves);
    }

    std::vector<std::string> texts;
    for (const ErrorValue* leaf : useful) {
        texts.push_back(textOf(leaf));
    }
    // std::string compares bytes as unsigned, which for UTF-8 is code point order.
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    if (texts.size() > kMostParts) {
        texts.resize(kMostParts);
    }

    std::string description;
    for (size_t i = 0; i < texts.size(); ++i) {
        description += (i == 0 ? "" : "; ") + texts[i];
    }
    return description;
}

}  // namespace tavro::platform
