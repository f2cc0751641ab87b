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

// How the records of a job are read as CSV: whether they are at all, the
// separator and quotation sign (0: none), and the last field any key needs
// (-1: all), after which splitting stops.
struct TCsvDialect {
  bool Mode = false;
  char Separator = ';';
  char Quote = '"';
  std::int32_t MaxField = -1;
};

// Builds the sort keys of one job. It reads the job's key list, which
// must stay in place and unchanged while keys are built (the CSV width
// pass fills it in before), and keeps its own CSV parser and scratch: each
// thread that builds keys uses a builder of its own, made as a copy.
class TKeyBuilder {
 public:
  TKeyBuilder(const TSortSpecs& Specs, const TCsvDialect& Csv);
  // A fresh builder for the same keys and dialect (no scratch is shared).
  TKeyBuilder(const TKeyBuilder& Other) : TKeyBuilder(*Other.SpecsList, Other.Csv) {}
  TKeyBuilder& operator=(const TKeyBuilder&) = delete;

  // Appends the sort key of Record to Key (which is not cleared), so that
  // callers can keep keys in one growing byte area. A record that does not
  // fit the keys ends the process through FatalError.
  void Append(std::string_view Record, std::string& Key);
  std::string Extract(std::string_view Record);

  // The CSV fields of Record, up to the last one a key needs; raises
  // TCsvError (with CsvErrorText and CsvErrorPos set) when it cannot be
  // split. Valid until the next call.
  const std::vector<std::string_view>& SplitFields(std::string_view Record);

  // True for a record that /B drops: nothing but bytes 0..32, or in CSV
  // mode nothing but blanks, separators and quotation signs inside them.
  bool IsBlank(std::string_view Record) const;

  const TCsvDialect& Dialect() const { return Csv; }
  const TSortSpecs& Specs() const { return *SpecsList; }

 private:
  void AppendCsvPart(std::string_view Record, const TSortFieldSpec& S, std::string& Key);

  const TSortSpecs* SpecsList;
  TCsvDialect Csv;
  TCsvParser Parser;
  std::vector<std::string_view> Fields;  // views into the record being keyed
  // An auto-width value padded to its measured width; kept so that its
  // storage is reused from record to record.
  std::string PaddedValue;
};

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
