// TCsvParser: splits one CSV record into its field values. A state machine
// with one object per state; each byte of the line goes to the current
// state, which collects it, completes the field or changes state.
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
extern thread_local std::int32_t CsvErrorPos;

class TCsvParser;

class TCsvParserState {
 public:
  explicit TCsvParserState(TCsvParser* Parser) : Parser(Parser) {}
  virtual ~TCsvParserState() = default;
  virtual void ProcessChar(char Ch, std::int32_t Pos) = 0;

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
};
// Inside a quoted field, after the opening quotation sign.
class TCsvParserScanQuotedState : public TCsvParserState {
 public:
  using TCsvParserState::TCsvParserState;
  void ProcessChar(char Ch, std::int32_t Pos) override;
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
  void SplitLine(std::string_view Line, std::vector<std::string>& Fields,
                 bool UnquoteAfterBlank, std::int32_t MaxFields);

  // Called by the states.
  enum class StateKind { FieldStart, ScanField, ScanQuoted, EndQuoted, GotError };
  void SetState(StateKind Kind);
  void AddChar(char Ch) { CurrentField.push_back(Ch); }
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
  std::string CurrentField;
  std::vector<std::string>* Fields = nullptr;
  bool UnquoteAfterBlank = false;
  char Separator;
  char QuoteChar;
  std::string BlankQuote;
  std::int32_t FieldCount = 0;
};
