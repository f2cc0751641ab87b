#include "cmdline/cmd_parser.h"

#include "cmdline/fatal_error.h"
#include "cmdline/str_utils.h"
#include "platform/platform.h"

void TQxCmdParser::HandleOption(const std::string& /*Name*/, const std::string& /*Value*/) {}

void TQxCmdParser::HandleArgument(const std::string& /*Text*/) {}

void TQxCmdParser::Parse(const std::string& CommandLine) {
  std::string remaining = CommandLine;
  for (;;) {
    std::string argument = NextArgument(remaining);
    if (argument.empty()) return;
    SplitResult split = SplitOption(argument);
    if (split.IsOption) {
      HandleOption(split.Name, split.Value);
    } else {
      HandleArgument(split.Text);
    }
  }
}

std::string TQxCmdParser::NextArgument(std::string& Remaining) const {
  Remaining = TrimControl(Remaining);
  std::size_t end = Remaining.find('\t');  // 0-based index of the separator
  if (end == std::string::npos) {
    std::string argument;
    argument.swap(Remaining);
    return argument;
  }
  // An opening quote before the TAB protects the TABs up to its closing
  // quote; without a closing quote the first TAB still separates.
  if (Remaining.find('"') < end) {
    std::size_t close = Remaining.find('"', end);
    if (close != std::string::npos) end = close + 1;
  }
  std::string argument = Remaining.substr(0, end);
  Remaining.erase(0, end < Remaining.size() ? end + 1 : Remaining.size());
  return argument;
}

TQxCmdParser::SplitResult TQxCmdParser::SplitOption(const std::string& Argument) const {
  SplitResult result;
  result.IsOption = Argument.size() >= 2 && (Argument[0] == '/' || Argument[0] == '-');
  if (!result.IsOption) {
    result.Text = Argument;
    return result;
  }
  // Values are kept whole: a cut file name would silently name another file.
  std::size_t equals = Argument.find('=');
  if (equals != std::string::npos) {
    result.Name = UpperAscii(std::string_view(Argument).substr(1, equals - 1));
    result.Value = Argument.substr(equals + 1);
  } else {
    result.Name = UpperAscii(std::string_view(Argument).substr(1, 1));
    result.Value = Argument.substr(2);
  }
  return result;
}

unsigned char ParseCharCode(const std::string& OptionName, const std::string& Text) {
  if (!Text.empty() && Text[0] == '#') {
    if (Text.size() <= 4) {
      std::optional<std::int32_t> code = StrToInt32(std::string_view(Text).substr(1));
      if (code && *code >= 0 && *code <= 255) return static_cast<unsigned char>(*code);
    }
    FatalError("Invalid parameter /" + OptionName + " (not a valid decimal character code)");
  }
  if (!Text.empty() && Text[0] == '$') {
    if (Text.size() <= 3) {
      std::optional<std::int64_t> code = HexToInt(std::string_view(Text).substr(1));
      if (code) return static_cast<unsigned char>(*code);
    }
    FatalError("Invalid parameter /" + OptionName + " (not a valid hexadecimal character code)");
  }
  if (Text.size() != 1) {
    FatalError("Invalid parameter /" + OptionName + " (not a valid character)");
  }
  return static_cast<unsigned char>(Text[0]);
}

std::string AddTrailingBackslash(const std::string& Path) {
  if (Path.empty() || Path.back() == platform::PathSeparator()) return Path;
  return Path + platform::PathSeparator();
}

std::string RemoveTrailingBackslash(const std::string& Path) {
  if (Path.empty() || Path.back() != platform::PathSeparator()) return Path;
  return Path.substr(0, Path.size() - 1);
}

bool DirectoryExists(const std::string& Path) {
  // The platform layer does the search itself, trailing separator or not.
  return !Path.empty() && platform::DirectoryExists(Path);
}
