// Deterministic data for bench/run, and an order-independent checksum of a
// file's records for checking the sorted outputs. Plain C++20, no
// dependencies: the same arguments give the same bytes on every machine.
//
//   gen text  BYTES SEED OUT   records of 20 to 179 bytes, CR LF (layout below)
//   gen short BYTES SEED OUT   records of 1 to 40 printable bytes, CR LF
//   gen tiny  COUNT SEED OUT   COUNT records of one printable byte, CR LF
//   gen csv   BYTES SEED OUT   ';'-separated records, CR LF (layout below)
//   gen sum   FILE             "records bytes checksum" of the records
//
// BYTES is reached or just passed: generation stops after the record that
// reaches it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

// xoshiro256** seeded through splitmix64: fast, and fixed by its definition
// (unlike std::uniform_int_distribution, whose output differs between
// standard libraries).
struct Rng {
  std::uint64_t s[4];
  explicit Rng(std::uint64_t seed) {
    for (auto& word : s) {
      seed += 0x9E3779B97F4A7C15ull;
      std::uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
      z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
      word = z ^ (z >> 31);
    }
  }
  static std::uint64_t Rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  std::uint64_t Next() {
    const std::uint64_t result = Rotl(s[1] * 5, 7) * 9;
    const std::uint64_t t = s[1] << 17;
    s[2] ^= s[0];
    s[3] ^= s[1];
    s[1] ^= s[2];
    s[0] ^= s[3];
    s[2] ^= t;
    s[3] = Rotl(s[3], 45);
    return result;
  }
  // Uniform in [lo, hi] (hi - lo < 2^32): the multiply-shift map of the
  // upper 32 bits.
  std::int64_t Range(std::int64_t lo, std::int64_t hi) {
    const std::uint64_t span = static_cast<std::uint64_t>(hi - lo) + 1;
    return lo + static_cast<std::int64_t>(((Next() >> 32) * span) >> 32);
  }
  // Appends n characters drawn from alphabet, eight per 64-bit draw.
  void Chars(std::string& out, std::size_t n, std::string_view alphabet) {
    const std::uint64_t size = alphabet.size();
    while (n > 0) {
      std::uint64_t r = Next();
      for (int i = 0; i < 8 && n > 0; ++i, --n) {
        out.push_back(alphabet[((r & 0xFF) * size) >> 8]);
        r >>= 8;
      }
    }
  }
};

const std::string kPrintable = [] {
  std::string s;
  for (int c = 32; c <= 126; ++c) s.push_back(static_cast<char>(c));
  return s;
}();
constexpr std::string_view kAlnum =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
// Text for the quoted CSV field: commas, blanks and dots but no separator,
// so that sort -t';' splits the fields as a CSV reader does, and no quote:
// quarn's CSV reader takes no doubled quote as an escape.
constexpr std::string_view kWords[] = {
    "alpha",  "bravo",  "charlie", "delta", "echo",    "foxtrot",  "golf",    "hotel",
    "india",  "juliet", "kilo",    "lima",  "mike",    "november", "oscar",   "papa",
    "quebec", "romeo",  "sierra",  "tango", "uniform", "victor",   "whiskey", "x-ray",
    "yankee", "zulu",   "Lorem",   "ipsum", "dolor,",  "sit",      "amet.",   "(test)"};

class Output {
 public:
  explicit Output(const char* name) : File(std::fopen(name, "wb")) {
    if (!File) {
      std::perror(name);
      std::exit(1);
    }
    Buffer.reserve(kFlushAt + 4096);
  }
  ~Output() {
    Flush();
    if (std::fclose(File) != 0) {
      std::perror("close");
      std::exit(1);
    }
  }
  std::string& Line() { return Buffer; }
  // Ends the line with CR LF and reports the bytes written so far.
  std::uint64_t EndLine() {
    Buffer += "\r\n";
    if (Buffer.size() >= kFlushAt) Flush();
    return Written + Buffer.size();
  }

 private:
  void Flush() {
    if (!Buffer.empty() && std::fwrite(Buffer.data(), 1, Buffer.size(), File) != Buffer.size()) {
      std::perror("write");
      std::exit(1);
    }
    Written += Buffer.size();
    Buffer.clear();
  }
  static constexpr std::size_t kFlushAt = 1u << 20;
  std::FILE* File;
  std::string Buffer;
  std::uint64_t Written = 0;
};

void AppendRightAligned(std::string& out, std::int64_t value, int width) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%*lld", width, static_cast<long long>(value));
  out += digits;
}

// A text record of 20 to 179 bytes:
//   columns 1-4    random letters and digits
//   columns 5-14   random letters of both cases    (/S=5,10 and /C=5,10)
//   columns 15-20  a number from -99999 to 99999,
//                  right-aligned in six columns      (/N=15,6)
//   columns 21-    random printable ASCII, space included
// Every byte is above CR, so a shorter record that is a prefix of a longer
// one sorts first both for quarn and for sort, which sees the CR.
void Text(std::uint64_t bytes, std::uint64_t seed, const char* name) {
  Rng rng(seed);
  Output out(name);
  for (;;) {
    std::string& line = out.Line();
    const auto length = static_cast<std::size_t>(rng.Range(20, 179));
    rng.Chars(line, 4, kAlnum);
    rng.Chars(line, 10, kLetters);
    AppendRightAligned(line, rng.Range(-99999, 99999), 6);
    rng.Chars(line, length - 20, kPrintable);
    if (out.EndLine() >= bytes) break;
  }
}

void Short(std::uint64_t bytes, std::uint64_t seed, const char* name) {
  Rng rng(seed);
  Output out(name);
  for (;;) {
    rng.Chars(out.Line(), static_cast<std::size_t>(rng.Range(1, 40)), kPrintable);
    if (out.EndLine() >= bytes) break;
  }
}

void Tiny(std::uint64_t count, std::uint64_t seed, const char* name) {
  Rng rng(seed);
  Output out(name);
  for (std::uint64_t i = 0; i < count; ++i) {
    rng.Chars(out.Line(), 1, kPrintable);
    out.EndLine();
  }
}

// A CSV record: id;"quoted text";signed amount;code;free text
//   field 1  a running number
//   field 2  1 to 6 words in quotes
//   field 3  an amount with two decimals from -99999.99 to 99999.99,
//            minus sign only, no padding (/NV=3,1,0 auto-aligns it)
//   field 4  eight letters and digits
//   field 5  0 to 60 random letters and digits
void Csv(std::uint64_t bytes, std::uint64_t seed, const char* name) {
  Rng rng(seed);
  Output out(name);
  char amount[32];
  for (std::uint64_t id = 1;; ++id) {
    std::string& line = out.Line();
    line += std::to_string(id);
    line += ";\"";
    const auto words = rng.Range(1, 6);
    for (std::int64_t w = 0; w < words; ++w) {
      if (w != 0) line += ' ';
      line += kWords[rng.Range(0, static_cast<std::int64_t>(std::size(kWords)) - 1)];
    }
    line += "\";";
    const std::int64_t cents = rng.Range(-9999999, 9999999);
    const std::int64_t magnitude = cents < 0 ? -cents : cents;
    std::snprintf(amount, sizeof amount, "%s%lld.%02lld", cents < 0 ? "-" : "",
                  static_cast<long long>(magnitude / 100), static_cast<long long>(magnitude % 100));
    line += amount;
    line += ';';
    rng.Chars(line, 8, kAlnum);
    line += ';';
    rng.Chars(line, static_cast<std::size_t>(rng.Range(0, 60)), kAlnum);
    if (out.EndLine() >= bytes) break;
  }
}

// Records are the bytes between line ends, a CR before the LF not counted,
// so files with CR LF and LF line ends compare. The checksum is the sum of
// a 64-bit hash per record: the same multiset of records gives the same
// sum in any order.
int Sum(const char* name) {
  std::FILE* file = std::fopen(name, "rb");
  if (!file) {
    std::perror(name);
    return 1;
  }
  std::uint64_t records = 0;
  std::uint64_t recordBytes = 0;
  std::uint64_t sum = 0;
  std::uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a of the record so far
  std::uint64_t length = 0;
  bool pendingCr = false;
  auto endRecord = [&] {
    std::uint64_t z = hash ^ (length * 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    sum += z ^ (z >> 31);
    ++records;
    recordBytes += length;
    hash = 0xCBF29CE484222325ull;
    length = 0;
    pendingCr = false;
  };
  auto addByte = [&](unsigned char c) {
    hash = (hash ^ c) * 0x100000001B3ull;
    ++length;
  };
  static char buffer[1 << 20];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (std::size_t i = 0; i < got; ++i) {
      const auto c = static_cast<unsigned char>(buffer[i]);
      if (c == '\n') {
        endRecord();
        continue;
      }
      if (pendingCr) addByte('\r');
      pendingCr = c == '\r';
      if (!pendingCr) addByte(c);
    }
  }
  if (pendingCr) addByte('\r');
  if (length != 0) endRecord();
  std::fclose(file);
  std::printf("%llu %llu %016llx\n", static_cast<unsigned long long>(records),
              static_cast<unsigned long long>(recordBytes), static_cast<unsigned long long>(sum));
  return 0;
}

[[noreturn]] void Usage() {
  std::fputs(
      "usage: gen text|short|csv BYTES SEED OUT\n"
      "       gen tiny COUNT SEED OUT\n"
      "       gen sum FILE\n",
      stderr);
  std::exit(2);
}

std::uint64_t Number(const char* text) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') Usage();
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "sum") == 0) return Sum(argv[2]);
  if (argc != 5) Usage();
  const std::string_view mode = argv[1];
  const std::uint64_t size = Number(argv[2]);
  const std::uint64_t seed = Number(argv[3]);
  if (mode == "text") {
    Text(size, seed, argv[4]);
  } else if (mode == "short") {
    Short(size, seed, argv[4]);
  } else if (mode == "tiny") {
    Tiny(size, seed, argv[4]);
  } else if (mode == "csv") {
    Csv(size, seed, argv[4]);
  } else {
    Usage();
  }
  return 0;
}
