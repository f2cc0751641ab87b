// TWriteBehind: writes one buffer at a time to a file on a thread of its
// own, so that the thread filling the next buffer does not wait for the
// system to copy the last one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/platform.h"

class TWriteBehind {
 public:
  // Null when no thread can be started: the caller then writes itself.
  static std::unique_ptr<TWriteBehind> Start(platform::File& File);

  explicit TWriteBehind(platform::File& File) : File(&File) {}
  // Waits for the write in flight.
  ~TWriteBehind();
  TWriteBehind(const TWriteBehind&) = delete;
  TWriteBehind& operator=(const TWriteBehind&) = delete;

  // Starts writing Data[0, Size); the bytes must stay as they are until
  // Wait returns. Call only after Wait.
  void Write(const char* Data, std::int64_t Size);
  // Waits for the write in flight; false when it or an earlier one failed
  // (File::Error() then says why).
  bool Wait();

 private:
  void Serve();

  platform::File* File;
  std::mutex Mutex;
  std::condition_variable Changed;
  const char* Pending = nullptr;
  std::int64_t PendingSize = 0;
  bool Busy = false;
  bool Failed = false;
  bool Stopping = false;
  std::thread Thread;
};
