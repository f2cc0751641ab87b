// The argument scanner: a TAB-joined command line back into arguments,
// options split into upper-case name and value, dispatched to overridable
// handlers. Also the character-code and path routines of the options.
#pragma once

#include <cstdint>
#include <string>

class TQxCmdParser {
 public:
  TQxCmdParser() = default;
  virtual ~TQxCmdParser() = default;

  // Called for each option with its upper-case Name and its Value.
  virtual void HandleOption(const std::string& Name, const std::string& Value);
  // Called for each plain (non-option) argument.
  virtual void HandleArgument(const std::string& Text);
  // Scans CommandLine and dispatches every argument in order.
  virtual void Parse(const std::string& CommandLine);

  // Takes the next argument off the front of Remaining; empty when nothing
  // is left.
  std::string NextArgument(std::string& Remaining) const;

  // Classifies one argument. For an option, Name (upper case) and Value are
  // set; for a plain argument, Text.
  struct SplitResult {
    bool IsOption = false;
    std::string Name;
    std::string Value;
    std::string Text;
  };
  SplitResult SplitOption(const std::string& Argument) const;
};

// A character given as itself, as $<hex> or as #<decimal>. Errors end in
// FatalError with the option's name in the message.
unsigned char ParseCharCode(const std::string& OptionName, const std::string& Text);

// Appends the platform's path separator unless the path is empty or already
// ends in it.
std::string AddTrailingBackslash(const std::string& Path);
// Removes one trailing path separator.
std::string RemoveTrailingBackslash(const std::string& Path);
// True when Path names an existing directory; false for an empty path.
bool DirectoryExists(const std::string& Path);
