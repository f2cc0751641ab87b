#include "cmdline/str_utils.h"

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) <= 32; }

}  // namespace

std::string TrimControl(std::string_view Text) {
  std::size_t first = 0;
  std::size_t last = Text.size();
  while (first < last && IsControl(Text[first])) ++first;
  while (last > first && IsControl(Text[last - 1])) --last;
  return std::string(Text.substr(first, last - first));
}

std::string UpperAscii(std::string_view Text) {
  std::string result(Text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

void SplitLastWord(std::string_view Text, std::string_view Delimiter, std::string& Rest,
                   std::string& LastWord) {
  std::string text = TrimControl(Text);
  std::size_t pos;  // 1-based position that separates the two; 0 = none
  if (!text.empty() && text.back() == '"') {
    text.pop_back();
    pos = ReversePos("\"", text);
  } else {
    pos = ReversePos(Delimiter, text);
  }
  LastWord = text.substr(pos);
  Rest = pos == 0 ? std::string() : TrimControl(std::string_view(text).substr(0, pos - 1));
}

std::size_t ReversePos(std::string_view Sub, std::string_view S) {
  if (Sub.empty() || S.size() < Sub.size()) return 0;
  std::size_t found = S.rfind(Sub);
  return found == std::string_view::npos ? 0 : found + 1;
}

std::optional<std::int64_t> HexToInt(std::string_view Text) {
  std::int64_t value = 0;
  for (char c : Text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    if (value > (INT64_MAX >> 4)) return std::nullopt;
    value = value * 16 + digit;
  }
  return value;
}

std::optional<std::int32_t> StrToInt32(std::string_view Text) {
  std::size_t i = 0;
  while (i < Text.size() && Text[i] == ' ') ++i;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '+' || Text[i] == '-')) {
    negative = Text[i] == '-';
    ++i;
  }
  if (i == Text.size()) return std::nullopt;
  // Accumulated as a magnitude in 64 bits; stops as soon as it leaves the
  // 32-bit range, so any number of digits is safe.
  const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
  std::int64_t magnitude = 0;
  for (; i < Text.size(); ++i) {
    char c = Text[i];
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
