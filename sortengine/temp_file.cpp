#include "sortengine/temp_file.h"

#include "platform/platform.h"

bool TQxFile::Open(const std::string& Name, bool ForWriting) {
  FileName = Name;
  HasRecord = false;
  CurrentRecord = {};
  TextFile.reset();
  IsOpen = false;
  if (!ForWriting && !platform::FileExists(Name)) return false;
  auto file = std::make_unique<TQxTextFile>();
  try {
    // The program's own files: a final byte 26 is data, not a marker.
    file->Prepare(Name, RecLen, kBufferSize, /*ApplyEofMarker=*/false);
    if (ForWriting)
      file->OpenWrite(0, false);
    else
      file->OpenRead();
  } catch (const TQxIOError&) {
    return false;
  } catch (const TQxAbort&) {
    return false;
  }
  TextFile = std::move(file);
  IsOpen = true;
  return true;
}

bool TQxFile::ReadNext() {
  if (!IsOpen) return false;
  CurrentRecord = {};
  HasRecord = !TextFile->EndOfFile();
  if (HasRecord) CurrentRecord = TextFile->ReadRecordView();
  return HasRecord;
}

bool TQxFile::WriteNext(std::string_view Line) {
  if (!IsOpen) return false;
  try {
    TextFile->WriteRecord(Line);
  } catch (const TQxIOError&) {
    return false;
  }
  return true;
}

bool TQxFile::Close() {
  if (!IsOpen) return false;
  bool ok = true;
  try {
    TextFile->Close();
  } catch (const TQxIOError&) {
    ok = false;
  }
  TextFile.reset();
  IsOpen = false;
  HasRecord = false;
  CurrentRecord = {};
  return ok;
}

bool TQxFile::Remove() {
  IsOpen = false;
  HasRecord = false;
  CurrentRecord = {};
  return platform::DeleteFile(FileName);
}
