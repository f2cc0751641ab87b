#include "sortengine/run_presort.h"

#include <system_error>

std::unique_ptr<TRunPresort> TRunPresort::Start() {
  auto presort = std::make_unique<TRunPresort>();
  try {
    presort->Thread = std::thread(&TRunPresort::Serve, presort.get());
  } catch (const std::system_error&) {
    return nullptr;
  }
  return presort;
}

TRunPresort::~TRunPresort() {
  {
    std::unique_lock<std::mutex> lock(Mutex);
    Changed.wait(lock, [this] { return Parts.empty() && !Busy; });
    Stopping = true;
  }
  Changed.notify_all();
  if (Thread.joinable()) Thread.join();
}

void TRunPresort::Hand(TRunEntry* Entries, std::size_t Begin, std::size_t End) {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Parts.emplace_back(Entries + Begin, Entries + End);
  }
  Changed.notify_all();
}

void TRunPresort::Wait() {
  std::unique_lock<std::mutex> lock(Mutex);
  Changed.wait(lock, [this] { return Parts.empty() && !Busy; });
}

void TRunPresort::Serve() {
  std::unique_lock<std::mutex> lock(Mutex);
  for (;;) {
    Changed.wait(lock, [this] { return !Parts.empty() || Stopping; });
    if (Parts.empty()) return;
    const auto [first, last] = Parts.front();
    Parts.pop_front();
    Busy = true;
    lock.unlock();
    SortEntries(first, 0, last - first - 1, 1, 0);
    lock.lock();
    Busy = false;
    Changed.notify_all();
  }
}
