#pragma once
// The temporary output of a writing run: the new archive is built in a temporary file in
// TempDir or in memory and put under the archive's name only when the run succeeded, so a
// failed or cancelled run leaves the old archive as it was. TTempFileStream also opens existing
// archives for reading and counts their bytes for progress.
//
// Publishing: MoveToFinal puts the archive in place and raises when that fails; a full disk it
// reports itself and raises as an error already reported (E_RAISE). An output that is destroyed
// neither published nor cancelled (Mode 0, which a failed run sets) holds a complete archive and
// is published by its destructor, which reports a failure through the owner's OnError instead
// of raising; an output dropped while an exception unwinds is discarded.
#include <cstdint>
#include <exception>
#include <string>

#include "archive/qrnStreams.h"

class TZipCommon;

class TTempFileStream : public TFileStream32 {
 public:
  // Mode 0xFFFF: a fresh temporary file in TempDir that will become FileName. Any other mode:
  // FileName itself opened with that mode. A failed open leaves Handle() negative.
  TTempFileStream(TZipCommon* Owner, uint16_t Mode, const std::string& FileName, const std::string& TempDir);
  // Publishes an archive nobody published nor cancelled, then closes the file; a temporary file
  // never survives its stream.
  ~TTempFileStream() override;

  // Reads as the base does, then counts the bytes asked for off the owner's bytes left and
  // reports the owner's temporary-move progress.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Copies in chunks of at most 100000 bytes with this stream's own cancel flag and progress
  // handler (both unset unless assigned).
  int64_t CopyFrom(TStream32* Source, int64_t Count) override;
  // Puts the finished archive under FinalName (nothing when Mode is 0, the stream is not
  // temporary or the move was tried already), firing the move events. Raises when the move
  // fails; the old file then stays.
  void MoveToFinal();

  TZipCommon* Owner;
  std::string FinalName;
  std::string TempName;
  bool IsTemporary;
  uint16_t Mode;  // 0 cancels the move
  TNotifyEvent OwnProgressHandler;
  bool* OwnCancel = nullptr;

 private:
  TTempFileStream(TZipCommon* Owner, uint16_t Mode, const std::string& FileName, const std::string& Opened, int);
  bool FMoveTried = false;
  int FUncaught = std::uncaught_exceptions();
};

class TTempMemStream : public TMemoryStream32 {
 public:
  TTempMemStream(TZipCommon* Owner, uint16_t Mode, const std::string& FileName);
  // Publishes an image nobody published nor cancelled.
  ~TTempMemStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t CopyFrom(TStream32* Source, int64_t Count) override;
  // Writes the image under FinalName through a flushed new file beside it and a rename. That
  // file is made before OnTmpFileMoveBegin fires (with this stream as Sender): when it cannot
  // be, "Error opening file" is raised and no move is announced.
  void MoveToFinal();

  TZipCommon* Owner;
  std::string FinalName;
  std::string GivenName;
  bool IsTemporary;
  uint16_t Mode;
  TNotifyEvent OwnProgressHandler;
  bool* OwnCancel = nullptr;

 private:
  bool FMoveTried = false;
  int FUncaught = std::uncaught_exceptions();
};

// Both names are on one file system, so a rename can move one onto the other.
bool SameDrive(const std::string& A, const std::string& B);
