// TReadAhead: reads the records of a TQxTextFile on a thread of its own, a
// few batches ahead of the thread that takes them, so that reading and
// splitting the file overlap with what is done with the records.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "recordfile/text_file.h"

class TReadAhead {
 public:
  // Starts reading File from where it stands; null when no thread can be
  // had. File must stay open and be left alone until the object is gone.
  static std::unique_ptr<TReadAhead> Start(TQxTextFile& File);

  explicit TReadAhead(TQxTextFile& File);
  // Stops the reading thread (records not taken are dropped).
  ~TReadAhead();
  TReadAhead(const TReadAhead&) = delete;
  TReadAhead& operator=(const TReadAhead&) = delete;

  // The next record, valid until the next call; false after the last one.
  // A read that failed raises its error here, after the records before it,
  // as the file itself would have raised it.
  bool Next(std::string_view& Record);
  // The same for File read through Ahead, or read directly when Ahead is
  // null (no thread was had, or none was wanted).
  static bool Next(TReadAhead* Ahead, TQxTextFile& File, std::string_view& Record);

 private:
  struct Batch {
    std::vector<char> Bytes;
    std::vector<std::uint32_t> Lengths;
    std::exception_ptr Error;
    bool Last = false;
  };
  // A batch is full at either count; four of them bound the memory.
  static constexpr std::size_t kBatchBytes = 1u << 20;
  static constexpr std::size_t kBatchRecords = 1u << 16;
  static constexpr std::size_t kBatches = 4;

  void Read();

  TQxTextFile* File;
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<std::unique_ptr<Batch>> Pool;
  std::deque<Batch*> Free;
  std::deque<Batch*> Full;
  bool Stopping = false;
  std::thread Thread;

  // The batch being taken from, and where.
  Batch* Current = nullptr;
  std::size_t Index = 0;
  std::size_t Offset = 0;
};
