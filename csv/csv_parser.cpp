#include "csv/csv_parser.h"

#include <string>

thread_local std::string CsvErrorText;
thread_local std::int32_t CsvErrorPos = 0;

// Nothing of the field seen yet: a quotation sign here opens a quoted field.
void TCsvParserFieldStartState::ProcessChar(char Ch, std::int32_t /*Pos*/) {
  if (Ch == Parser->GetQuoteChar()) {
    Parser->SetState(TCsvParser::StateKind::ScanQuoted);
  } else if (Ch == Parser->GetSeparator()) {
    Parser->EndField();
  } else {
    Parser->AddChar(Ch);
    Parser->SetState(TCsvParser::StateKind::ScanField);
  }
}

// Unquoted field: only the separator ends it; a quotation sign is data.
void TCsvParserScanFieldState::ProcessChar(char Ch, std::int32_t /*Pos*/) {
  if (Ch == Parser->GetSeparator()) {
    Parser->EndField();
    Parser->SetState(TCsvParser::StateKind::FieldStart);
  } else {
    Parser->AddChar(Ch);
  }
}

// Quoted field: everything up to the next quotation sign is data,
// separators included.
void TCsvParserScanQuotedState::ProcessChar(char Ch, std::int32_t /*Pos*/) {
  if (Ch == Parser->GetQuoteChar()) {
    Parser->SetState(TCsvParser::StateKind::EndQuoted);
  } else {
    Parser->AddChar(Ch);
  }
}

// After a closing quotation sign only the separator may follow. A doubled
// quotation sign is no escape, so it lands here too.
void TCsvParserEndQuotedState::ProcessChar(char Ch, std::int32_t Pos) {
  if (Ch == Parser->GetSeparator()) {
    Parser->EndField();
    Parser->SetState(TCsvParser::StateKind::FieldStart);
  } else {
    // Not raised yet: when this was the last character, the end of the
    // line reports it as a missing closing quote instead.
    CsvErrorText = "End of quotation sign not followed by separator";
    CsvErrorPos = Pos;
    Parser->SetState(TCsvParser::StateKind::GotError);
  }
}

// The line is already known to be bad; the next character raises.
void TCsvParserGotErrorState::ProcessChar(char /*Ch*/, std::int32_t Pos) {
  throw TCsvError("Error in line at position " + std::to_string(Pos));
}

TCsvParser::TCsvParser(char Separator, char QuoteChar)
    : FieldStartState(std::make_unique<TCsvParserFieldStartState>(this)),
      ScanFieldState(std::make_unique<TCsvParserScanFieldState>(this)),
      ScanQuotedState(std::make_unique<TCsvParserScanQuotedState>(this)),
      EndQuotedState(std::make_unique<TCsvParserEndQuotedState>(this)),
      GotErrorState(std::make_unique<TCsvParserGotErrorState>(this)),
      Separator(Separator),
      QuoteChar(QuoteChar),
      BlankQuote{' ', QuoteChar} {}

void TCsvParser::SetState(StateKind Kind) {
  switch (Kind) {
    case StateKind::FieldStart: State = FieldStartState.get(); break;
    case StateKind::ScanField: State = ScanFieldState.get(); break;
    case StateKind::ScanQuoted: State = ScanQuotedState.get(); break;
    case StateKind::EndQuoted: State = EndQuotedState.get(); break;
    case StateKind::GotError: State = GotErrorState.get(); break;
  }
}

void TCsvParser::EndField() {
  if (UnquoteAfterBlank && CurrentField.size() >= 2 && CurrentField[0] == BlankQuote[0] &&
      CurrentField[1] == BlankQuote[1] && CurrentField.back() == QuoteChar) {
    // " '" alone: its quotation sign is both the opening and the last one.
    if (CurrentField.size() == 2) {
      CurrentField.clear();
    } else {
      CurrentField.pop_back();
      CurrentField.erase(0, 2);
    }
  }
  // The caller's list keeps its strings from the previous line, so that a
  // file of lines with the same number of fields reuses their storage.
  auto Index = static_cast<std::size_t>(FieldCount);
  if (Index < Fields->size()) {
    (*Fields)[Index].assign(CurrentField);
  } else {
    Fields->push_back(CurrentField);
  }
  ++FieldCount;
  CurrentField.clear();
}

void TCsvParser::SplitLine(std::string_view Line, std::vector<std::string>& Fields,
                           bool UnquoteAfterBlank, std::int32_t MaxFields) {
  this->UnquoteAfterBlank = UnquoteAfterBlank;
  FieldCount = 0;
  CsvErrorText.clear();
  CsvErrorPos = 0;
  this->Fields = &Fields;
  State = FieldStartState.get();
  CurrentField.clear();

  try {
    const auto Length = static_cast<std::int32_t>(Line.size());
    for (std::int32_t Pos = 1; Pos <= Length; ++Pos) {
      State->ProcessChar(Line[static_cast<std::size_t>(Pos - 1)], Pos);
      if (MaxFields >= 0 && FieldCount >= MaxFields) {
        Fields.resize(static_cast<std::size_t>(FieldCount));
        return;
      }
    }
    if (State == ScanQuotedState.get() || State == GotErrorState.get()) {
      CsvErrorText = "Quote error";
      CsvErrorPos = Length;
      throw TCsvError("Missing closing quote");
    }
    if (!CurrentField.empty()) EndField();
  } catch (...) {
    // Fields then holds just the fields completed before the failure.
    Fields.resize(static_cast<std::size_t>(FieldCount));
    throw;
  }
  Fields.resize(static_cast<std::size_t>(FieldCount));
}
