// SPDX-License-Identifier: MIT
#include "share/InboxDate.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/Error.h"

namespace tavro::share {

namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's civil-days algorithm).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    unsigned month;
    unsigned day;
};

Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const unsigned d = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    const unsigned m = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

unsigned daysInMonth(int64_t year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The number written in `text` at [from, from + count), or -1 when a character is no digit.
int64_t digitsAt(std::string_view text, size_t from, size_t count) {
    int64_t value = 0;
    for (size_t i = from; i < from + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

[[noreturn]] void throwUnencodable() {
    platform::throwError(platform::kCocoaErrorDomain, 4866,
                         "The data couldn\u2019t be written because it isn\u2019t in the correct "
                         "format.",
                         "The date has no four-digit year.");
}

}  // namespace

std::string formatInboxDate(platform::Timestamp time) {
    // Whole seconds, rounded down so that a time just before midnight stays on its day.
    double whole = std::floor(time);
    if (!std::isfinite(whole) || std::fabs(whole) > 1e15)
        throwUnencodable();
    auto seconds = static_cast<int64_t>(whole);
    int64_t days = seconds >= 0 ? seconds / kSecondsPerDay
                                : -((-seconds + kSecondsPerDay - 1) / kSecondsPerDay);
    int64_t secondOfDay = seconds - days * kSecondsPerDay;
    Civil date = civilFromDays(days);
    if (date.year < 0 || date.year > 9999)
        throwUnencodable();
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(date.year), date.month, date.day,
                  static_cast<long long>(secondOfDay / 3600),
                  static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    return buffer;
}

std::optional<platform::Timestamp> parseInboxDate(std::string_view text) {
    if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
        return std::nullopt;
    }
    int64_t year = digitsAt(text, 0, 4);
    int64_t month = digitsAt(text, 5, 2);
    int64_t day = digitsAt(text, 8, 2);
    int64_t hour = digitsAt(text, 11, 2);
    int64_t minute = digitsAt(text, 14, 2);
    int64_t second = digitsAt(text, 17, 2);
    if (year < 0 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return std::nullopt;
    }
    auto m = static_cast<unsigned>(month);
    if (static_cast<unsigned>(day) > daysInMonth(year, m))
        return std::nullopt;
    int64_t days = daysFromCivil(year, m, static_cast<unsigned>(day));
    return static_cast<platform::Timestamp>(days * kSecondsPerDay + hour * 3600 + minute * 60 +
                                            second);
}

}  // namespace tavro::share
