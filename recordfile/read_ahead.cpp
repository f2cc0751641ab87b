#include "recordfile/read_ahead.h"

#include <system_error>

TReadAhead::TReadAhead(TQxTextFile& File) : File(&File) {
  for (std::size_t i = 0; i < kBatches; ++i) {
    Pool.push_back(std::make_unique<Batch>());
    // Room for the bytes that fill a batch and the record that ends it.
    Pool.back()->Bytes.reserve(kBatchBytes + static_cast<std::size_t>(File.GetBufferSize()));
    Pool.back()->Lengths.reserve(kBatchRecords);
    Free.push_back(Pool.back().get());
  }
}

std::unique_ptr<TReadAhead> TReadAhead::Start(TQxTextFile& File) {
  auto ahead = std::make_unique<TReadAhead>(File);
  try {
    ahead->Thread = std::thread(&TReadAhead::Read, ahead.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return ahead;
}

TReadAhead::~TReadAhead() {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Stopping = true;
  }
  Changed.notify_all();
  if (Thread.joinable()) Thread.join();
}

void TReadAhead::Read() {
  for (;;) {
    Batch* batch;
    {
      std::unique_lock<std::mutex> lock(Mutex);
      Changed.wait(lock, [this] { return Stopping || !Free.empty(); });
      if (Stopping) return;
      batch = Free.front();
      Free.pop_front();
    }
    batch->Bytes.clear();
    batch->Lengths.clear();
    batch->Error = nullptr;
    batch->Last = false;
    try {
      while (!File->EndOfFile() && batch->Bytes.size() < kBatchBytes &&
             batch->Lengths.size() < kBatchRecords) {
        const std::string_view record = File->ReadRecordView();
        batch->Bytes.insert(batch->Bytes.end(), record.begin(), record.end());
        batch->Lengths.push_back(static_cast<std::uint32_t>(record.size()));
      }
      batch->Last = File->EndOfFile();
    } catch (...) {
      batch->Error = std::current_exception();
      batch->Last = true;
    }
    const bool last = batch->Last;
    {
      std::lock_guard<std::mutex> lock(Mutex);
      Full.push_back(batch);
    }
    Changed.notify_all();
    if (last) break;
  }
  // The thread ends with its owner, like every helper of the program, also
  // when the process ends early through FatalError.
  std::unique_lock<std::mutex> lock(Mutex);
  Changed.wait(lock, [this] { return Stopping; });
}

bool TReadAhead::Next(std::string_view& Record) {
  for (;;) {
    if (Current != nullptr) {
      if (Index < Current->Lengths.size()) {
        const std::uint32_t length = Current->Lengths[Index++];
        Record = std::string_view(Current->Bytes.data() + Offset, length);
        Offset += length;
        return true;
      }
      if (Current->Error) std::rethrow_exception(Current->Error);
      if (Current->Last) return false;
      {
        std::lock_guard<std::mutex> lock(Mutex);
        Free.push_back(Current);
      }
      Changed.notify_all();
      Current = nullptr;
    }
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [this] { return !Full.empty(); });
    Current = Full.front();
    Full.pop_front();
    Index = 0;
    Offset = 0;
  }
}

bool TReadAhead::Next(TReadAhead* Ahead, TQxTextFile& File, std::string_view& Record) {
  if (Ahead != nullptr) return Ahead->Next(Record);
  if (File.EndOfFile()) return false;
  Record = File.ReadRecordView();
  return true;
}
