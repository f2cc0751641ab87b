// Helpers shared by the libFuzzer targets. A failed check prints what it
// saw and aborts, which libFuzzer reports as a crash and keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz_support {

[[noreturn]] inline void Fail(const char* Condition, const char* File, int Line,
                              const std::string& Detail) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n%s\n", File, Line, Condition, Detail.c_str());
  std::abort();
}

// Bytes made readable: printable ASCII as is, everything else as \xNN.
inline std::string Show(std::string_view Bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : Bytes) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

inline std::string Show(const std::vector<std::string>& List) {
  std::string out = std::to_string(List.size()) + ":";
  for (const auto& s : List) out += "[" + Show(s) + "]";
  return out;
}

// Takes parameters off the front of the input; past its end every byte
// reads as 0, so short inputs still make a whole test case.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* Data, std::size_t Size) : data_(Data), size_(Size) {}
  std::uint8_t Take() {
    if (pos_ >= size_) return 0;
    return data_[pos_++];
  }
  std::string_view Rest() const {
    return pos_ >= size_
               ? std::string_view()
               : std::string_view(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace fuzz_support

// Detail is only built when the check fails.
#define FUZZ_CHECK(condition, detail)                                                 \
  do {                                                                                \
    if (!(condition)) ::fuzz_support::Fail(#condition, __FILE__, __LINE__, (detail)); \
  } while (0)
