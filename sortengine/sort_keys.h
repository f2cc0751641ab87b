// Sort keys: one byte string per record, built so that a plain unsigned
// byte comparison of two keys gives the order the key options ask for.
// Case-insensitive parts are folded to upper case, numeric parts rewritten
// with a sign byte, descending parts inverted byte by byte.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cmdline/sort_spec.h"
#include "csv/csv_parser.h"

// Built once at program start by BuildKeyTables, read-only afterwards.
extern unsigned char InvertTable[256];  // b -> 255 - b
extern unsigned char FoldTable[256];    // b -> upper-case form of b
void BuildKeyTables();

// CSV state of the sort engine, set up by the sort job before the first key
// is built and shared with the CSV width pre-pass.
extern bool CsvMode;
extern std::unique_ptr<TCsvParser> CsvParser;
extern std::vector<std::string> CsvFields;

// The sort key of Record. A record that does not fit the key specifications
// ends the process through FatalError. Not reentrant (uses CsvFields).
std::string ExtractSortKey(std::string_view Record, TSortSpecs& Specs);
// The same, appended to Key (which is not cleared): lets the callers keep
// keys in one growing byte area.
void AppendSortKey(std::string_view Record, TSortSpecs& Specs, std::string& Key);

std::string FoldCase(std::string_view Text);
std::string InvertBytes(std::string_view Text);
std::string NumericKey(std::string_view Text);
std::string Blanks(std::int64_t Count);

// Key order: unsigned bytes from the first; a proper prefix sorts first.
// Negative, zero or positive like memcmp.
inline int CompareKeys(std::string_view A, std::string_view B) {
  std::size_t common = A.size() < B.size() ? A.size() : B.size();
  if (common != 0) {
    int c = std::memcmp(A.data(), B.data(), common);
    if (c != 0) return c;
  }
  return A.size() < B.size() ? -1 : (A.size() > B.size() ? 1 : 0);
}
