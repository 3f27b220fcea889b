#include "retrieval/mail_date.h"

#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace larkspur {

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                       "jul", "aug", "sep", "oct", "nov", "dec"};

// Zones RFC 822 named, with their offsets in minutes.
struct NamedZone {
  std::string_view name;
  int minutes;
};
constexpr std::array<NamedZone, 11> kZones = {{{"ut", 0},
                                               {"gmt", 0},
                                               {"z", 0},
                                               {"est", -300},
                                               {"edt", -240},
                                               {"cst", -360},
                                               {"cdt", -300},
                                               {"mst", -420},
                                               {"mdt", -360},
                                               {"pst", -480},
                                               {"pdt", -420}}};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return out;
}

// The words of `value`: comments "( ... )" dropped, split at blanks and
// commas, "HH:MM:SS" kept whole.
std::vector<std::string_view> words_of(std::string_view value) {
  std::vector<std::string_view> words;
  int depth = 0;
  std::size_t start = std::string_view::npos;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    const char ch = i < value.size() ? value[i] : ' ';
    const bool separator = depth > 0 || ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n' ||
                           ch == ',' || ch == '(' || ch == ')';
    if (separator && start != std::string_view::npos) {
      words.push_back(value.substr(start, i - start));
      start = std::string_view::npos;
    }
    if (ch == '(') ++depth;
    if (ch == ')' && depth > 0) --depth;
    if (!separator && start == std::string_view::npos) start = i;
  }
  return words;
}

// 1 to `max_digits` decimal digits, or -1.
int number(std::string_view text, std::size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return -1;
  int value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return -1;
    value = value * 10 + (ch - '0');
  }
  return value;
}

// Days from 1970-01-01 to the date (proleptic Gregorian).
std::int64_t days_from_civil(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = (year >= 0 ? year : year - 399) / 400;
  const int year_of_era = year - era * 400;
  const int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return static_cast<std::int64_t>(era) * 146097 + day_of_era - 719468;
}

bool leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int days_in_month(int year, int month) {
  constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

// "+0900" / "-0430" / a named zone: minutes east of UTC; nullopt otherwise.
std::optional<int> zone_minutes(std::string_view word) {
  if (word.size() == 5 && (word[0] == '+' || word[0] == '-')) {
    const int hours = number(word.substr(1, 2), 2);
    const int minutes = number(word.substr(3, 2), 2);
    if (hours < 0 || minutes < 0 || minutes > 59) return std::nullopt;
    const int offset = hours * 60 + minutes;
    return word[0] == '-' ? -offset : offset;
  }
  const std::string name = lower(word);
  for (const NamedZone& zone : kZones) {
    if (zone.name == name) return zone.minutes;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::int64_t> parse_mail_date(std::string_view value) {
  std::vector<std::string_view> words = words_of(value);
  // The day of the week is optional and says nothing the date does not.
  if (!words.empty() && words[0].size() >= 3 && std::isalpha(static_cast<unsigned char>(words[0][0]))) {
    words.erase(words.begin());
  }
  if (words.size() < 4) return std::nullopt;
  const int day = number(words[0], 2);
  int month = 0;
  const std::string month_name = lower(words[1].substr(0, 3));
  for (std::size_t i = 0; i < kMonths.size(); ++i) {
    if (words[1].size() >= 3 && kMonths[i] == month_name) month = static_cast<int>(i) + 1;
  }
  int year = number(words[2], 4);
  if (day < 1 || month == 0 || year < 0) return std::nullopt;
  // Two digits: 00 to 49 is 2000 to 2049, 50 to 99 is 1950 to 1999; three
  // digits add 1900.
  if (words[2].size() == 2) year += year < 50 ? 2000 : 1900;
  if (words[2].size() == 3) year += 1900;
  if (year < 1900 || day > days_in_month(year, month)) return std::nullopt;

  const std::string_view clock = words[3];
  const int hour = number(clock.substr(0, clock.find(':')), 2);
  const std::size_t first = clock.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  const std::string_view rest = clock.substr(first + 1);
  const std::size_t second_colon = rest.find(':');
  const int minute = number(rest.substr(0, second_colon), 2);
  const int second = second_colon == std::string_view::npos ? 0 : number(rest.substr(second_colon + 1), 2);
  // 60: a leap second, counted as the last second of its minute.
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  int offset = 0;
  if (words.size() > 4) {
    const std::optional<int> zone = zone_minutes(words[4]);
    // An unknown zone name (military letters, "-0000" forms aside) counts as
    // UTC, as RFC 5322 says of such zones.
    offset = zone.value_or(0);
  }
  return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 +
         (second == 60 ? 59 : second) - static_cast<std::int64_t>(offset) * 60;
}

}  // namespace larkspur
