#include "csv/csv_parser.h"

#include <cstring>
#include <string>

thread_local std::string CsvErrorText;
constinit thread_local std::int32_t CsvErrorPos = 0;

std::size_t TCsvParserState::Scan(std::string_view Line, std::size_t At) {
  ProcessChar(Line[At], static_cast<std::int32_t>(At + 1));
  return At + 1;
}

namespace {

// Adds the bytes of Line from At up to the first Stop to the field; returns
// the index of that Stop, or the line's length when there is none.
std::size_t CollectUntil(TCsvParser& Parser, std::string_view Line, std::size_t At, char Stop) {
  const void* hit = std::memchr(Line.data() + At, Stop, Line.size() - At);
  const std::size_t end =
      hit != nullptr ? static_cast<std::size_t>(static_cast<const char*>(hit) - Line.data())
                     : Line.size();
  if (end > At) Parser.AddChars(At, end);
  return end;
}

}  // namespace

// Nothing of the field seen yet: a quotation sign here opens a quoted field.
void TCsvParserFieldStartState::ProcessChar(char Ch, std::int32_t Pos) {
  if (Ch == Parser->GetQuoteChar()) {
    Parser->SetState(TCsvParser::StateKind::ScanQuoted);
  } else if (Ch == Parser->GetSeparator()) {
    Parser->EndField();
  } else {
    Parser->AddChar(Pos);
    Parser->SetState(TCsvParser::StateKind::ScanField);
  }
}

// Unquoted field: only the separator ends it; a quotation sign is data.
void TCsvParserScanFieldState::ProcessChar(char Ch, std::int32_t Pos) {
  if (Ch == Parser->GetSeparator()) {
    Parser->EndField();
    Parser->SetState(TCsvParser::StateKind::FieldStart);
  } else {
    Parser->AddChar(Pos);
  }
}

// Everything up to the next separator is data.
std::size_t TCsvParserScanFieldState::Scan(std::string_view Line, std::size_t At) {
  const std::size_t end = CollectUntil(*Parser, Line, At, Parser->GetSeparator());
  if (end == Line.size()) return end;
  Parser->EndField();
  Parser->SetState(TCsvParser::StateKind::FieldStart);
  return end + 1;
}

// Quoted field: everything up to the next quotation sign is data,
// separators included.
void TCsvParserScanQuotedState::ProcessChar(char Ch, std::int32_t Pos) {
  if (Ch == Parser->GetQuoteChar()) {
    Parser->SetState(TCsvParser::StateKind::EndQuoted);
  } else {
    Parser->AddChar(Pos);
  }
}

// Everything up to the next quotation sign is data.
std::size_t TCsvParserScanQuotedState::Scan(std::string_view Line, std::size_t At) {
  const std::size_t end = CollectUntil(*Parser, Line, At, Parser->GetQuoteChar());
  if (end == Line.size()) return end;
  Parser->SetState(TCsvParser::StateKind::EndQuoted);
  return end + 1;
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
      QuoteChar(QuoteChar) {}

void TCsvParser::SetState(StateKind Kind) {
  switch (Kind) {
    case StateKind::FieldStart:
      State = FieldStartState.get();
      break;
    case StateKind::ScanField:
      State = ScanFieldState.get();
      break;
    case StateKind::ScanQuoted:
      State = ScanQuotedState.get();
      break;
    case StateKind::EndQuoted:
      State = EndQuotedState.get();
      break;
    case StateKind::GotError:
      State = GotErrorState.get();
      break;
  }
}

void TCsvParser::EndField() {
  std::string_view field = Line.substr(FieldBegin, FieldEnd - FieldBegin);
  if (UnquoteAfterBlank && field.size() >= 2 && field[0] == ' ' && field[1] == QuoteChar &&
      field.back() == QuoteChar) {
    // " '" alone: its quotation sign is both the opening and the last one.
    field = field.size() == 2 ? std::string_view() : field.substr(2, field.size() - 3);
  }
  auto Index = static_cast<std::size_t>(FieldCount);
  if (Index < Fields->size())
    (*Fields)[Index] = field;
  else
    Fields->push_back(field);
  ++FieldCount;
  FieldBegin = FieldEnd = 0;
}

void TCsvParser::SplitLine(std::string_view Line, std::vector<std::string_view>& Fields,
                           bool UnquoteAfterBlank, std::int32_t MaxFields) {
  this->UnquoteAfterBlank = UnquoteAfterBlank;
  this->Line = Line;
  FieldCount = 0;
  CsvErrorText.clear();
  CsvErrorPos = 0;
  this->Fields = &Fields;
  State = FieldStartState.get();
  FieldBegin = FieldEnd = 0;

  try {
    const std::size_t length = Line.size();
    std::size_t at = 0;
    while (at < length) {
      // FieldCount changes only when a field ends, which is where a state
      // hands back.
      at = State->Scan(Line, at);
      if (MaxFields >= 0 && FieldCount >= MaxFields) {
        Fields.resize(static_cast<std::size_t>(FieldCount));
        return;
      }
    }
    if (State == ScanQuotedState.get() || State == GotErrorState.get()) {
      CsvErrorText = "Quote error";
      CsvErrorPos = static_cast<std::int32_t>(length);
      throw TCsvError("Missing closing quote");
    }
    if (FieldEnd != FieldBegin) EndField();
  } catch (...) {
    // Fields then holds just the fields completed before the failure.
    Fields.resize(static_cast<std::size_t>(FieldCount));
    throw;
  }
  Fields.resize(static_cast<std::size_t>(FieldCount));
}

void TCsvParser::SplitLine(std::string_view Line, std::vector<std::string>& Fields,
                           bool UnquoteAfterBlank, std::int32_t MaxFields) {
  // The caller's list keeps its strings from the previous line, so that a
  // file of lines with the same number of fields reuses their storage.
  auto copy = [&] {
    Fields.resize(ViewScratch.size());
    for (std::size_t i = 0; i < ViewScratch.size(); ++i) Fields[i].assign(ViewScratch[i]);
  };
  try {
    SplitLine(Line, ViewScratch, UnquoteAfterBlank, MaxFields);
  } catch (...) {
    copy();
    throw;
  }
  copy();
}
