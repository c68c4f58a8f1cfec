#pragma once
// The temporary output of a writing run: the new archive is built in a temporary file in
// TempDir or in memory and put under the archive's name only when the run succeeded, so a
// failed or cancelled run leaves the old archive as it was. TTempFileStream also opens existing
// archives for reading and counts their bytes for progress.
#include <cstdint>
#include <string>

#include "archive/qrnStreams.h"

class TZipCommon;

class TTempFileStream : public TFileStream32 {
 public:
  // Mode 0xFFFF: a fresh temporary file in TempDir that will become FileName. Any other mode:
  // FileName itself opened with that mode. A failed open leaves Handle() negative.
  TTempFileStream(TZipCommon* Owner, uint16_t Mode, const std::string& FileName, const std::string& TempDir);
  // Closes the file; a temporary file never survives its stream.
  ~TTempFileStream() override;

  // Reads as the base does, then counts the bytes asked for off the owner's bytes left and
  // reports the owner's temporary-move progress.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Copies in chunks of at most 100000 bytes with this stream's own cancel flag and progress
  // handler (both unset unless assigned).
  int64_t CopyFrom(TStream32* Source, int64_t Count) override;
  // Puts the finished archive under FinalName (nothing when Mode is 0 or the stream is not
  // temporary), firing the move events. Raises when the move fails; the old file then stays.
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
};

class TTempMemStream : public TMemoryStream32 {
 public:
  TTempMemStream(TZipCommon* Owner, uint16_t Mode, const std::string& FileName);

  int32_t Read(void* Buffer, int32_t Count) override;
  int64_t CopyFrom(TStream32* Source, int64_t Count) override;
  // Writes the image under FinalName through a flushed temporary file and a rename.
  void MoveToFinal();

  TZipCommon* Owner;
  std::string FinalName;
  std::string GivenName;
  bool IsTemporary;
  uint16_t Mode;
  TNotifyEvent OwnProgressHandler;
  bool* OwnCancel = nullptr;
};

// Both names are on one file system, so a rename can move one onto the other.
bool SameDrive(const std::string& A, const std::string& B);
