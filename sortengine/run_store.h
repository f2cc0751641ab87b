// The records of one run and their sort keys, held compactly: the bytes in
// a few large blocks, and per record one small index entry that the
// in-memory sort moves about. Entry i pairs record i with its key.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "sortengine/sort_keys.h"

struct TRunEntry {
  std::uint64_t KeyPrefix;  // first 8 key bytes, big-endian, zero-padded
  const char* Record;
  const char* Key;
  std::uint32_t RecordLength;
  std::uint32_t KeyLength;

  std::string_view RecordView() const { return {Record, RecordLength}; }
  std::string_view KeyView() const { return {Key, KeyLength}; }
};

// The key order of CompareKeys, answered from the prefixes when they differ.
inline int CompareEntries(const TRunEntry& A, const TRunEntry& B) {
  if (A.KeyPrefix != B.KeyPrefix) return A.KeyPrefix < B.KeyPrefix ? -1 : 1;
  // The partition compares the pivot with its own entry at least once.
  if (A.Key == B.Key && A.KeyLength == B.KeyLength) return 0;
  return CompareKeys(A.KeyView(), B.KeyView());
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
  bool Empty() const { return Entries.empty(); }
  std::vector<TRunEntry>& GetEntries() { return Entries; }
  const std::vector<TRunEntry>& GetEntries() const { return Entries; }

  // Forgets all records; keeps the blocks for the next run.
  void Clear();

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

inline std::uint64_t KeyPrefixOf(std::string_view Key) {
  unsigned char bytes[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (!Key.empty()) std::memcpy(bytes, Key.data(), Key.size() < 8 ? Key.size() : 8);
  std::uint64_t value = 0;
  for (unsigned char b : bytes) value = (value << 8) | b;
  return value;
}
