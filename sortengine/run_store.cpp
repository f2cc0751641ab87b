#include "sortengine/run_store.h"

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

void TRecordKeyList::Add(std::string_view Record, std::string_view Key) {
  char* p = Allocate(Record.size() + Key.size() + 1);  // +1: never a zero-size piece
  if (!Record.empty()) std::memcpy(p, Record.data(), Record.size());
  char* key = p + Record.size();
  if (!Key.empty()) std::memcpy(key, Key.data(), Key.size());
  Entries.push_back(TRunEntry{KeyPrefixOf(Key), p, key, static_cast<std::uint32_t>(Record.size()),
                              static_cast<std::uint32_t>(Key.size())});
}

void TRecordKeyList::AddSelfKeyed(std::string_view Record) {
  char* p = Allocate(Record.size() + 1);
  if (!Record.empty()) std::memcpy(p, Record.data(), Record.size());
  Entries.push_back(TRunEntry{KeyPrefixOf(Record), p, p, static_cast<std::uint32_t>(Record.size()),
                              static_cast<std::uint32_t>(Record.size())});
}

void TRecordKeyList::Clear() {
  Entries.clear();
  CurrentBlock = 0;
  BlockUsed = 0;
}
