// The argument scanner: a TAB-joined command line back into arguments,
// options split into upper-case name and value, dispatched to overridable
// handlers. Also the character-code and path routines of the options.
#pragma once

#include <string>

class TQxCmdParser {
 public:
  TQxCmdParser() = default;
  virtual ~TQxCmdParser() = default;

  // Called for each option with its upper-case Name and its Value. Base:
  // does nothing.
  virtual void HandleOption(const std::string& Name, const std::string& Value);
  // Called for each plain (non-option) argument. Base: does nothing.
  virtual void HandleArgument(const std::string& Text);
  // Scans CommandLine and dispatches every argument once, in order. The
  // scanner itself rejects nothing.
  virtual void Parse(const std::string& CommandLine);

  // Takes the next argument off the front of Remaining; empty when nothing
  // is left. Arguments are separated by TAB; bytes 0..32 around them are
  // dropped. An argument holding a double quote before its TAB runs on to
  // the next double quote (TABs included), and the byte after that quote is
  // consumed as the separator.
  std::string NextArgument(std::string& Remaining) const;

  // Classifies one argument. An option has at least two bytes and starts
  // with '/' or '-'; its Name is the text up to the first '=' (one letter
  // when there is none), upper-cased, and Value the rest, whole. A plain
  // argument comes back unchanged in Text.
  struct SplitResult {
    bool IsOption = false;
    std::string Name;
    std::string Value;
    std::string Text;
  };
  SplitResult SplitOption(const std::string& Argument) const;
};

// A character given as itself, as $<hex> (at most two digits) or as
// #<decimal> (0..255, at most three digits). Errors end in FatalError with
// the option's name in the message.
unsigned char ParseCharCode(const std::string& OptionName, const std::string& Text);

// Appends the platform's path separator unless the path is empty or already
// ends in it.
std::string AddTrailingBackslash(const std::string& Path);
// Removes one trailing path separator.
std::string RemoveTrailingBackslash(const std::string& Path);
// True when Path names an existing directory; false for an empty path, a
// file or nothing.
bool DirectoryExists(const std::string& Path);
