#include "recordfile/write_behind.h"

#include <system_error>

std::unique_ptr<TWriteBehind> TWriteBehind::Start(platform::File& File) {
  auto writer = std::make_unique<TWriteBehind>(File);
  try {
    writer->Thread = std::thread(&TWriteBehind::Serve, writer.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return writer;
}

TWriteBehind::~TWriteBehind() {
  {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [this] { return !Busy; });
    Stopping = true;
  }
  Changed.notify_all();
  if (Thread.joinable()) Thread.join();
}

void TWriteBehind::Write(const char* Data, std::int64_t Size) {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Pending = Data;
    PendingSize = Size;
    Busy = true;
  }
  Changed.notify_all();
}

bool TWriteBehind::Wait() {
  std::unique_lock<std::mutex> lock(Mutex);
  Changed.wait(lock, [this] { return !Busy; });
  return !Failed;
}

void TWriteBehind::Serve() {
  std::unique_lock<std::mutex> lock(Mutex);
  for (;;) {
    Changed.wait(lock, [this] { return Busy || Stopping; });
    if (!Busy) return;
    const char* data = Pending;
    const std::int64_t size = PendingSize;
    // Once a write has failed the file is broken: later bytes are dropped,
    // as a writer on its own would never have issued them.
    const bool skip = Failed;
    lock.unlock();
    const bool written = skip || File->Write(data, size);
    lock.lock();
    if (!written) Failed = true;
    Busy = false;
    Changed.notify_all();
  }
}
