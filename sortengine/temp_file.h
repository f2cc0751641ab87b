// TQxFile: one input or output slot of the merge. Reads a run with a
// one-record look-ahead or writes the run a merge step produces. Failures
// are reported as false results only, with the reason kept in LastError;
// read errors propagate.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "recordfile/text_file.h"

class TQxFile {
 public:
  // The merge reads and writes the program's own files in large blocks:
  // fewer system calls, and every record in them fits (they were written
  // through 32,768-byte buffers).
  static constexpr std::int64_t kBufferSize = 1048576;

  // Binds the object to FileName and opens it: for writing, creates it
  // afresh (a leftover file or link at the name is removed, never written
  // through); for reading, only when it exists as a file. False, with no
  // file held, when anything fails.
  bool Open(const std::string& FileName, bool ForWriting);
  // As Open, for a part of the file: a reader takes the records from byte
  // From (which starts a record) up to byte To (-1: the end); a writer
  // writes into the existing file from byte From on, keeping the rest.
  bool OpenPart(const std::string& FileName, bool ForWriting, std::int64_t From,
                std::int64_t To = -1);
  // Reads the next record into CurrentRecord; returns HasRecord. False and
  // no change for an object holding no file.
  bool ReadNext() {
    std::string_view record;
    return ReadNext(record);
  }
  // The same, with the record also in Record: a caller that goes on with
  // it need not load it back from CurrentRecord.
  bool ReadNext(std::string_view& Record) {
    if (!IsOpen) return false;
    HasRecord =
        !TextFile->EndOfFile() && (EndOffset < 0 || TextFile->GetBytesConsumed() < EndOffset);
    Record = HasRecord ? TextFile->ReadRecordView() : std::string_view();
    CurrentRecord = Record;
    return HasRecord;
  }
  // Appends Line as one record; false on failure or when no file is held.
  bool WriteNext(std::string_view Line);
  // Closes the file (flushing a writer); false on failure or when no file
  // is held. The object holds no file afterwards.
  bool Close();
  // Deletes FileName from the disk (callers close first).
  bool Remove();

  // The file system; set by the owner before the first Open.
  platform::Env* Env = &platform::DefaultEnv();
  std::string FileName;
  std::int64_t RecLen = 0;
  std::unique_ptr<TQxTextFile> TextFile;
  bool IsOpen = false;
  bool HasRecord = false;
  // The record read last, as a view into TextFile's buffer: valid until
  // the next ReadNext or Close of this object.
  std::string_view CurrentRecord;
  // Why the last operation that returned false failed.
  std::string LastError;

 private:
  // A reader stops at this byte (-1: at the end of the file).
  std::int64_t EndOffset = -1;
};
