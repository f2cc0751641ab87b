#include "sortengine/temp_file.h"

bool TQxFile::Open(const std::string& Name, bool ForWriting) {
  return OpenPart(Name, ForWriting, 0);
}

bool TQxFile::OpenPart(const std::string& Name, bool ForWriting, std::int64_t From,
                       std::int64_t To) {
  FileName = Name;
  EndOffset = ForWriting ? -1 : To;
  HasRecord = false;
  CurrentRecord = {};
  // A file the owner left open is closed here, its errors unheard.
  if (TextFile && TextFile->IsOpen()) TextFile.reset();
  IsOpen = false;
  if (!ForWriting && Env->Inspect(Name).kind != platform::FileKind::kRegular) {
    LastError = "Cannot open file \"" + Name + "\": no such file";
    return false;
  }
  // The record file and its buffers serve one open after another: fresh
  // memory costs a page fault per page on first touch.
  if (!TextFile) TextFile = std::make_unique<TQxTextFile>(*Env);
  try {
    // The program's own files: a final byte 26 is data, not a marker.
    TextFile->Prepare(Name, RecLen, kBufferSize, /*ApplyEofMarker=*/false);
    TextFile->ExpectOwnCrLfRecords();
    if (ForWriting && From == 0)
      TextFile->OpenWrite(0, false, platform::CreateMode::kFresh);
    else if (ForWriting)
      TextFile->OpenWriteAt(0, From);
    else
      TextFile->OpenRead(From);
  } catch (const TQxIOError& e) {
    LastError = e.what();
    TextFile.reset();
    return false;
  } catch (const TQxAbort& e) {
    LastError = e.what();
    TextFile.reset();
    return false;
  }
  IsOpen = true;
  return true;
}

bool TQxFile::WriteNext(std::string_view Line) {
  if (!IsOpen) {
    LastError = "Cannot write file \"" + FileName + "\": File not open for writing";
    return false;
  }
  try {
    TextFile->WriteRecord(Line);
  } catch (const TQxIOError& e) {
    LastError = e.what();
    return false;
  }
  return true;
}

bool TQxFile::Close() {
  if (!IsOpen) return false;
  bool ok = true;
  try {
    TextFile->Close();
  } catch (const TQxIOError& e) {
    LastError = e.what();
    ok = false;
  }
  IsOpen = false;
  HasRecord = false;
  CurrentRecord = {};
  return ok;
}

bool TQxFile::Remove() {
  IsOpen = false;
  HasRecord = false;
  CurrentRecord = {};
  const platform::Status removed = Env->RemoveFile(FileName);
  if (!removed.Ok()) LastError = removed.Message();
  return removed.Ok();
}
