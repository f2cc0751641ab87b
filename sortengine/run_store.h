// The records of one run and their sort keys, held compactly: the bytes in
// a few large blocks, and per record one small index entry that the
// in-memory sort moves about. Entry i pairs record i with its key.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "sortengine/sort_keys.h"

// One record of a run: the first key bytes and where the record lies. The
// record is stored in a block as a small header, its key's bytes (none
// when the record is its own key) and then its bytes, so that a comparison
// that needs more than the prefix finds the key beside the header:
//   u16: bit 15 set when the record is its own key; bits 0..14 the record
//        length, or 0x7FFF when a u32 length follows;
//   u16 key length, or 0xFFFF when a u32 length follows (only with a key
//        of its own).
// 16 bytes an entry keep the index small when records are short.
struct TRunEntry {
  std::uint64_t KeyPrefix;  // KeyPrefixOf the key
  const char* Data;         // the record's header in its block

  std::string_view RecordView() const {
    std::uint32_t recordLength;
    std::uint32_t keyLength;
    const char* bytes = Decode(recordLength, keyLength);
    if (keyLength == kSelfKeyed) return {bytes, recordLength};
    return {bytes + keyLength, recordLength};
  }
  std::string_view KeyView() const {
    std::uint32_t recordLength;
    std::uint32_t keyLength;
    const char* bytes = Decode(recordLength, keyLength);
    if (keyLength == kSelfKeyed) return {bytes, recordLength};
    return {bytes, keyLength};
  }

  // Asks the processor for the record's first bytes ahead of their use:
  // in sorted order the records lie all over the run's blocks, and a
  // typical text line spans several cache lines.
  void Prefetch() const {
    for (int line = 0; line < 4; ++line) __builtin_prefetch(Data + 64 * line);
  }

  static constexpr std::uint32_t kSelfKeyed = 0xFFFFFFFFu;

 private:
  static std::uint16_t Word(const char* p) {
    std::uint16_t w;
    std::memcpy(&w, p, sizeof w);
    return w;
  }
  static std::uint32_t Long(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  // The first byte behind the header; the lengths through the arguments,
  // the key length kSelfKeyed for a record that is its own key.
  const char* Decode(std::uint32_t& RecordLength, std::uint32_t& KeyLength) const {
    const char* p = Data;
    const std::uint16_t first = Word(p);
    p += 2;
    RecordLength = first & 0x7FFFu;
    if (RecordLength == 0x7FFFu) {
      RecordLength = Long(p);
      p += 4;
    }
    if (first & 0x8000u) {
      KeyLength = kSelfKeyed;
      return p;
    }
    KeyLength = Word(p);
    p += 2;
    if (KeyLength == 0xFFFFu) {
      KeyLength = Long(p);
      p += 4;
    }
    return p;
  }
};

inline std::uint64_t KeyPrefixOf(std::string_view Key);
inline bool PrefixSettlesTies(std::uint64_t Prefix);

// memcmp's sign for the N bytes at A and B, eight at a time: the bytes
// after equal prefixes are mostly few, where a call costs more than the
// comparison.
inline int CompareBytes(const char* A, const char* B, std::size_t N) {
  if constexpr (std::endian::native == std::endian::little) {
    for (; N >= 8; N -= 8, A += 8, B += 8) {
      std::uint64_t a;
      std::uint64_t b;
      std::memcpy(&a, A, 8);
      std::memcpy(&b, B, 8);
      if (a != b) return __builtin_bswap64(a) < __builtin_bswap64(b) ? -1 : 1;
    }
  }
  for (; N != 0; --N, ++A, ++B)
    if (*A != *B) return static_cast<unsigned char>(*A) < static_cast<unsigned char>(*B) ? -1 : 1;
  return 0;
}

// CompareKeys for two keys of 8 bytes or more that agree in their first
// seven (equal prefixes that do not settle the tie).
inline int CompareKeyTails(std::string_view A, std::string_view B) {
  const std::size_t common = A.size() < B.size() ? A.size() : B.size();
  const int c = CompareBytes(A.data() + 7, B.data() + 7, common - 7);
  if (c != 0) return c;
  return A.size() < B.size() ? -1 : (A.size() > B.size() ? 1 : 0);
}

// The key order of CompareKeys, answered from the prefixes alone unless two
// keys of 8 bytes or more agree in their first seven.
inline int CompareEntries(const TRunEntry& A, const TRunEntry& B) {
  if (A.KeyPrefix != B.KeyPrefix) return A.KeyPrefix < B.KeyPrefix ? -1 : 1;
  // The partition compares the pivot with its own entry at least once.
  if (PrefixSettlesTies(A.KeyPrefix) || A.Data == B.Data) return 0;
  return CompareKeyTails(A.KeyView(), B.KeyView());
}

class TRecordKeyList {
 public:
  TRecordKeyList() = default;
  TRecordKeyList(const TRecordKeyList&) = delete;
  TRecordKeyList& operator=(const TRecordKeyList&) = delete;

  // Adds a record with its key (both copied into the list's blocks).
  void Add(std::string_view Record, std::string_view Key);
  // Adds a record that is its own key.
  void AddSelfKeyed(std::string_view Record);

  std::size_t Count() const { return Entries.size(); }
  // The next record moves the index to a larger place.
  bool Full() const { return Entries.size() == Entries.capacity(); }
  bool Empty() const { return Entries.empty(); }
  std::vector<TRunEntry>& GetEntries() { return Entries; }
  const std::vector<TRunEntry>& GetEntries() const { return Entries; }

  // Puts the entries back in the order their records were added: records
  // are placed block after block, and within a block one after the other.
  void RestoreReadOrder();

  // Forgets all records; keeps the blocks for the next run.
  void Clear();
  // Forgets all records and gives back the blocks and the index: after the
  // last run the merge needs the memory.
  void Release();
  // Makes room for Count entries at once, so that the index never holds
  // its old and new copy side by side while growing.
  void Reserve(std::size_t Count) { Entries.reserve(Count); }

 private:
  char* Allocate(std::size_t Size);

  struct Block {
    std::unique_ptr<char[]> Data;
    std::size_t Size;
  };
  static constexpr std::size_t kBlockSize = 4u << 20;
  std::vector<Block> Blocks;
  std::size_t CurrentBlock = 0;
  std::size_t BlockUsed = 0;
  std::vector<TRunEntry> Entries;
};

// The first seven key bytes, zero-padded, then the key length up to 8, as
// one big-endian number. Prefixes order keys as CompareKeys does wherever
// they differ (a shorter key that matches the longer one's first bytes is a
// proper prefix of it); equal prefixes with a length below 8 mean equal
// keys, and otherwise two keys of 8 bytes or more that agree in their
// first seven.
inline std::uint64_t KeyPrefixOf(std::string_view Key) {
  if (std::endian::native == std::endian::little && Key.size() >= 8) {
    std::uint64_t first;
    std::memcpy(&first, Key.data(), 8);
    return (__builtin_bswap64(first) & ~std::uint64_t{0xFF}) | 8;
  }
  unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (!Key.empty()) std::memcpy(bytes, Key.data(), Key.size() < 7 ? Key.size() : 7);
  bytes[7] = static_cast<unsigned char>(Key.size() < 8 ? Key.size() : 8);
  std::uint64_t value = 0;
  for (unsigned char b : bytes) value = (value << 8) | b;
  return value;
}

// Whether two keys with equal prefixes need their bytes compared at all.
inline bool PrefixSettlesTies(std::uint64_t Prefix) { return (Prefix & 0xFF) < 8; }
