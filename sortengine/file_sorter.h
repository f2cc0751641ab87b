// TQxFileSorter: carries one external sort from the command line to the
// placed output file, and is the single source of its progress lines.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sortengine/callback.h"

class TQxSortParser;
class TQxFileMerge;
class TQxTextFile;

class TQxFileSorter {
 public:
  // Creates the parser, the merge object (run files "$Quarn<n>.tmp") and
  // the lists. Creates no file.
  TQxFileSorter();
  // Touches no temporary file.
  ~TQxFileSorter();
  TQxFileSorter(const TQxFileSorter&) = delete;
  TQxFileSorter& operator=(const TQxFileSorter&) = delete;

  std::int32_t Hnd = 0;
  TCallBackStrEvent OnCallBackStr;

  // Sends Text to OnCallBackStr when it is set.
  void DoCallBackStr(const std::string& Text);
  // Writes Line and a line end to standard output.
  void WriteToConsole(const char* Line);

  // Runs one sort job for the TAB-joined command line. Returns when the
  // output file is complete; user errors end the process through
  // FatalError; record-file errors propagate as exceptions.
  void Sort(const std::string& CommandLine);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
