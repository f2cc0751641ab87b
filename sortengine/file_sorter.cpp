// (being written) minimal bodies so that the program links.
#include "sortengine/file_sorter.h"

#include <string>

#include "platform/platform.h"

struct TQxFileSorter::Impl {};

TQxFileSorter::TQxFileSorter() : impl_(std::make_unique<Impl>()) {}
TQxFileSorter::~TQxFileSorter() = default;

void TQxFileSorter::DoCallBackStr(const std::string& Text) {
  if (OnCallBackStr) OnCallBackStr(Text.c_str());
}

void TQxFileSorter::WriteToConsole(const char* Line) {
  std::string text = std::string(Line) + platform::ConsoleLineEnd();
  platform::WriteStdout(text.data(), text.size());
}

void TQxFileSorter::Sort(const std::string&) {}
