#include "sortengine/run_store.h"

#include <algorithm>

char* TRecordKeyList::Allocate(std::size_t Size) {
  while (CurrentBlock < Blocks.size()) {
    Block& block = Blocks[CurrentBlock];
    if (block.Size - BlockUsed >= Size) {
      char* p = block.Data.get() + BlockUsed;
      BlockUsed += Size;
      return p;
    }
    ++CurrentBlock;
    BlockUsed = 0;
  }
  std::size_t size = Size > kBlockSize ? Size : kBlockSize;
  Blocks.push_back(Block{std::unique_ptr<char[]>(new char[size]), size});
  CurrentBlock = Blocks.size() - 1;
  BlockUsed = Size;
  return Blocks.back().Data.get();
}

namespace {

// Bytes of the header for the lengths; see TRunEntry.
std::size_t HeaderSize(std::size_t RecordLength, std::size_t KeyLength, bool SelfKeyed) {
  std::size_t size = RecordLength < 0x7FFF ? 2 : 6;
  if (!SelfKeyed) size += KeyLength < 0xFFFF ? 2 : 6;
  return size;
}

char* PutWord(char* p, std::uint16_t w) {
  std::memcpy(p, &w, sizeof w);
  return p + sizeof w;
}

char* PutLong(char* p, std::uint32_t v) {
  std::memcpy(p, &v, sizeof v);
  return p + sizeof v;
}

char* PutHeader(char* p, std::size_t RecordLength, std::size_t KeyLength, bool SelfKeyed) {
  const std::uint16_t selfKeyed = SelfKeyed ? 0x8000u : 0;
  if (RecordLength < 0x7FFF) {
    p = PutWord(p, static_cast<std::uint16_t>(selfKeyed | RecordLength));
  } else {
    p = PutWord(p, static_cast<std::uint16_t>(selfKeyed | 0x7FFFu));
    p = PutLong(p, static_cast<std::uint32_t>(RecordLength));
  }
  if (SelfKeyed) return p;
  if (KeyLength < 0xFFFF) return PutWord(p, static_cast<std::uint16_t>(KeyLength));
  p = PutWord(p, 0xFFFFu);
  return PutLong(p, static_cast<std::uint32_t>(KeyLength));
}

}  // namespace

void TRecordKeyList::Add(std::string_view Record, std::string_view Key) {
  char* data = Allocate(HeaderSize(Record.size(), Key.size(), false) + Record.size() + Key.size());
  char* p = PutHeader(data, Record.size(), Key.size(), false);
  if (!Key.empty()) std::memcpy(p, Key.data(), Key.size());
  if (!Record.empty()) std::memcpy(p + Key.size(), Record.data(), Record.size());
  Entries.push_back(TRunEntry{KeyPrefixOf(Key), data});
}

void TRecordKeyList::AddSelfKeyed(std::string_view Record) {
  char* data = Allocate(HeaderSize(Record.size(), 0, true) + Record.size());
  char* p = PutHeader(data, Record.size(), 0, true);
  if (!Record.empty()) std::memcpy(p, Record.data(), Record.size());
  Entries.push_back(TRunEntry{KeyPrefixOf(Record), data});
}

void TRecordKeyList::RestoreReadOrder() {
  // The prefixes make room for the places for a moment.
  for (TRunEntry& entry : Entries) {
    std::uint64_t block = 0;
    while (entry.Data < Blocks[block].Data.get() ||
           entry.Data >= Blocks[block].Data.get() + Blocks[block].Size)
      ++block;
    entry.KeyPrefix =
        (block << 40) | static_cast<std::uint64_t>(entry.Data - Blocks[block].Data.get());
  }
  std::sort(Entries.begin(), Entries.end(),
            [](const TRunEntry& a, const TRunEntry& b) { return a.KeyPrefix < b.KeyPrefix; });
  for (TRunEntry& entry : Entries) entry.KeyPrefix = KeyPrefixOf(entry.KeyView());
}

void TRecordKeyList::Release() {
  Clear();
  std::vector<Block>().swap(Blocks);
  std::vector<TRunEntry>().swap(Entries);
}

void TRecordKeyList::Clear() {
  Entries.clear();
  CurrentBlock = 0;
  BlockUsed = 0;
}
