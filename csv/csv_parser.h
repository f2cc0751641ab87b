// TCsvParser: splits one CSV record into its field values. A state machine
// with one object per state; the current state takes the next bytes of the
// line, collects them, completes the field or changes state. States that
// only collect take a whole stretch of bytes at once. Every field value is
// a stretch of the line itself, so fields are kept as views into it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The parser's failure kind (neither I/O error nor abort).
class TCsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Description and 1-based position of the last failed split on this
// thread; empty and 0 after a successful one.
extern thread_local std::string CsvErrorText;
extern constinit thread_local std::int32_t CsvErrorPos;

class TCsvParser;

class TCsvParserState {
 public:
  explicit TCsvParserState(TCsvParser* Parser) : Parser(Parser) {}
  virtual ~TCsvParserState() = default;
  virtual void ProcessChar(char Ch, std::int32_t Pos) = 0;
  // Takes the bytes of Line from index At on, as many as this state can
  // handle before the state changes (at least one); returns the index of
  // the first byte not taken. By default one byte, through ProcessChar.
  virtual std::size_t Scan(std::string_view Line, std::size_t At);

 protected:
  TCsvParser* Parser;
};

// At the start of a field: nothing of it seen yet.
class TCsvParserFieldStartState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
};
// Inside an unquoted field.
class TCsvParserScanFieldState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
  std::size_t Scan(std::string_view Line, std::size_t At) override;
};
// Inside a quoted field, after the opening quotation sign.
class TCsvParserScanQuotedState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
  std::size_t Scan(std::string_view Line, std::size_t At) override;
};
// Just after the closing quotation sign of a quoted field.
class TCsvParserEndQuotedState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
};
// A character other than the separator followed a closing quotation sign.
class TCsvParserGotErrorState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
};

class TCsvParser {
 public:
  TCsvParser(char Separator, char QuoteChar);
  virtual ~TCsvParser() = default;
  TCsvParser(const TCsvParser&) = delete;
  TCsvParser& operator=(const TCsvParser&) = delete;

  // Replaces the content of Fields by the fields of Line. MaxFields < 0: no
  // limit; otherwise stops once that many fields are complete. Raises
  // TCsvError after setting CsvErrorText and CsvErrorPos.
  void SplitLine(std::string_view Line, std::vector<std::string>& Fields, bool UnquoteAfterBlank,
                 std::int32_t MaxFields);
  // The same with the fields as views into Line (valid while Line is).
  void SplitLine(std::string_view Line, std::vector<std::string_view>& Fields,
                 bool UnquoteAfterBlank, std::int32_t MaxFields);

  // Called by the states.
  enum class StateKind { FieldStart, ScanField, ScanQuoted, EndQuoted, GotError };
  void SetState(StateKind Kind);
  // The byte at 1-based position Pos of the line belongs to the field.
  void AddChar(std::int32_t Pos) {
    AddChars(static_cast<std::size_t>(Pos - 1), static_cast<std::size_t>(Pos));
  }
  // Bytes [Begin, End) of the line belong to the field; a field's bytes
  // always follow one another.
  void AddChars(std::size_t Begin, std::size_t End) {
    if (FieldEnd == FieldBegin) FieldBegin = Begin;
    FieldEnd = End;
  }
  void EndField();
  char GetSeparator() const { return Separator; }
  char GetQuoteChar() const { return QuoteChar; }

 private:
  TCsvParserState* State = nullptr;
  std::unique_ptr<TCsvParserFieldStartState> FieldStartState;
  std::unique_ptr<TCsvParserScanFieldState> ScanFieldState;
  std::unique_ptr<TCsvParserScanQuotedState> ScanQuotedState;
  std::unique_ptr<TCsvParserEndQuotedState> EndQuotedState;
  std::unique_ptr<TCsvParserGotErrorState> GotErrorState;
  std::string_view Line;
  std::size_t FieldBegin = 0;  // the field collected so far: [FieldBegin, FieldEnd)
  std::size_t FieldEnd = 0;
  std::vector<std::string_view>* Fields = nullptr;
  std::vector<std::string_view> ViewScratch;  // for the string form of SplitLine
  bool UnquoteAfterBlank = false;
  char Separator;
  char QuoteChar;
  std::int32_t FieldCount = 0;
};
