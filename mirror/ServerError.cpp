// SPDX-License-Identifier: MIT
#include "mirror/ServerError.h"

#include <utility>

namespace tavro::mirror {

ServerError::ServerError(ServerFailure failure, std::string sentence, std::string detail,
                         std::string sqlState)
    : platform::Error(platform::makeError(kServerErrorDomain, static_cast<int64_t>(failure),
                                          std::move(sentence), std::move(detail))),
      sqlState_(std::move(sqlState)) {}

}  // namespace tavro::mirror
