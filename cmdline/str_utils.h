// Small string routines shared by the command-line parsing and the sort
// engine. All strings are byte strings; positions are 1-based.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Removes every byte of value 0..32 from both ends.
std::string TrimControl(std::string_view Text);

// Upper-cases the ASCII letters a..z only.
std::string UpperAscii(std::string_view Text);

// Splits off the last word of Text (trimmed of bytes 0..32) at the last
// Delimiter; Rest is what stands before it, trimmed. A last word in double
// quotes is returned without them and may contain the delimiter. Without a
// delimiter, all of Text is the last word and Rest is empty. LastWord starts
// right after the delimiter's first byte: meant for one-byte delimiters.
void SplitLastWord(std::string_view Text, std::string_view Delimiter, std::string& Rest,
                   std::string& LastWord);

// 1-based position of the last occurrence of Sub in S; 0 when not found or
// when Sub is empty.
std::size_t ReversePos(std::string_view Sub, std::string_view S);

// Hexadecimal digits to a number; an empty text gives 0; nullopt on a
// character that is not a hexadecimal digit (or on overflow).
std::optional<std::int64_t> HexToInt(std::string_view Text);

// A 32-bit signed decimal integer: optional blanks in front, an optional
// sign, then at least one digit and nothing else. nullopt otherwise, and
// for values outside the 32-bit range.
std::optional<std::int32_t> StrToInt32(std::string_view Text);
