#pragma once
// The engine's stream family. Every file and in-memory archive image is read and written
// through these classes; the filter streams of this unit derive from TStream32.
//
// Overloads: Seek and SetSize come in a 32-bit and a 64-bit form. A class that overrides one
// form must bring the others into scope (`using TStream32::Seek; using TStream32::SetSize;`),
// or calls on the derived type hide the base forms. Seek(int64_t, <word origin>) is deleted so
// that a 64-bit offset can never be cut to 32 bits silently: use the TSeekOrigin form.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/qrnGbls.h"

// Raised when a value does not fit the 32-bit form of an operation.
class ERangeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

// Word origins of the 32-bit Seek.
inline constexpr uint16_t soFromBeginning = 0;
inline constexpr uint16_t soFromCurrent = 1;
inline constexpr uint16_t soFromEnd = 2;

// The copy loop's block size.
inline constexpr int32_t kCopyBlockSize = 61440;

// A block of bytes that a transfer passes through. Unlike a vector it is not zeroed: every byte
// is written before it is read, and zeroing a block for each small file would cost more than
// the file's data.
class TTransferBuffer {
 public:
  explicit TTransferBuffer(size_t Size = 0) { resize(Size); }
  // Contents are not kept.
  void resize(size_t Size) {
    FData = Size > 0 ? std::make_unique_for_overwrite<uint8_t[]>(Size) : nullptr;
    FSize = Size;
  }
  uint8_t* data() { return FData.get(); }
  size_t size() const { return FSize; }

 private:
  std::unique_ptr<uint8_t[]> FData;
  size_t FSize = 0;
};

class TStream32 : public TObject {
 public:
  TStream32() = default;
  TStream32(const TStream32&) = delete;
  TStream32& operator=(const TStream32&) = delete;
  ~TStream32() override = default;

  // The 32-bit form does nothing here; the 64-bit form range-checks and calls it.
  virtual void SetSize(int32_t NewSize);
  virtual void SetSize(int64_t NewSize);
  virtual int32_t Read(void* Buffer, int32_t Count) = 0;
  virtual int32_t Write(const void* Buffer, int32_t Count) = 0;
  virtual int32_t Seek(int32_t Offset, uint16_t Origin) = 0;
  // Range-checks Offset (ERangeError) and calls the 32-bit form.
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin);
  int64_t Seek(int64_t Offset, uint16_t Origin) = delete;
  // Copies Count bytes (0: the whole of Source from its beginning) in 61440-byte blocks,
  // pumping messages before each block and stopping when *CancelFlag becomes true. Returns the
  // count requested, also after a stop: callers learn of a stop from the cancel flag.
  virtual int64_t CopyFrom(TStream32* Source, int64_t Count);
  // Calls Sender's ActiveProgressHandler with Sender when it is assigned.
  virtual void DoProgress(TStream32* Sender);

  // Read or write exactly Count bytes: a short count raises EReadError "Stream read error" or
  // EWriteError "Stream write error".
  void ReadBuffer(void* Buffer, int32_t Count);
  void WriteBuffer(const void* Buffer, int32_t Count);
  int64_t Position() { return Seek(int64_t{0}, soCurrent); }
  void SetPosition(int64_t Pos) { Seek(Pos, soBeginning); }
  virtual int64_t Size();

  TNotifyEvent ProgressHandler;        // configured for the next copy
  TNotifyEvent ActiveProgressHandler;  // in force while a copy runs
  bool* CancelFlag = nullptr;          // not owned; nullptr: never cancelled
};

// A stream over a POSIX descriptor. It never raises for a failed open: Handle() is then
// negative and the caller reports its own error. The descriptor is not closed by this class.
//
// The stream keeps its position and the file's size itself and transfers at that position
// (pread, pwrite): asking where it stands, or seeking, costs no system call, and the
// descriptor's own offset is never used. The size is the one the open found, moved by this
// stream's own writes and truncations; a file that someone else changes meanwhile is not
// followed. A file opened for reading alone is read through two blocks of it kept in memory, so
// that the many small reads of headers and names cost no system call each.
class THandleStream32 : public TStream32 {
 public:
  // Mode 0xFFFF creates (truncating an existing file); otherwise bits 0-1 are the access
  // (0 read, 1 write, 2 both) and bits 4-6 the sharing. Sharing is recorded in ShareMode() but
  // not enforced: POSIX has nothing stronger than advisory locks that other programs ignore.
  THandleStream32(const std::string& FileName, uint16_t Mode);
  // A descriptor that the caller opened for reading and writing, standing at the start of a
  // file of Size bytes, taken over as if this stream had opened it.
  THandleStream32(int32_t AHandle, int64_t Size);
  ~THandleStream32() override;

  using TStream32::Seek;
  using TStream32::SetSize;
  // Sign-extends and calls the 64-bit form.
  void SetSize(int32_t NewSize) override;
  // Seeks to NewSize and truncates there; a failure raises EInOutError.
  void SetSize(int64_t NewSize) override;
  // Bytes read or written; 0 on failure.
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  // The new position, -1 on failure (no file, or a position before the start, which leaves the
  // position as it was); ERangeError when it does not fit 32 bits.
  int32_t Seek(int32_t Offset, uint16_t Origin) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // -1 without a file.
  int64_t Size() override;

  int32_t Handle() const { return FHandle; }
  uint16_t ShareMode() const { return FShareMode; }

  // Collects writes in memory and puts them down in pieces of kWriteBehindSize, so that the
  // many small records of an archive of small files cost no system call each. Only for a file
  // that this stream alone writes and that is given up whole when a write fails: a failed
  // write is found at the next flush, and every write after it fails too. Reads, truncations
  // and FlushWrites put the collected bytes down first; a stream destroyed without a flush
  // drops them.
  void SetWriteBehind(bool On);
  // Puts the collected bytes down; raises EWriteError when they cannot be.
  void FlushWrites();
  static constexpr int32_t kWriteBehindSize = 262144;

  // The blocks that reads of a read-only file go through. A read of at least kDirectReadSize
  // bytes that finds nothing kept goes straight into the caller's buffer (a copy of a whole
  // file, a decoder's input): a block would only add a copy there.
  static constexpr int32_t kReadBlockSize = 65536;
  static constexpr int32_t kDirectReadSize = 32768;

 protected:
  // False when the collected bytes could not be put down.
  bool PutDownPending();

  int32_t FHandle = -1;
  uint16_t FShareMode = 0;
  int64_t FPosition = 0;
  int64_t FSize = -1;

 private:
  struct TReadBlock {
    int64_t Start = -1;  // -1: holds nothing
    int32_t Length = 0;
    uint64_t LastUse = 0;
    std::unique_ptr<uint8_t[]> Data;
  };
  int32_t ReadThroughBlocks(uint8_t* Buffer, int32_t Count);
  // The block that holds the byte at Pos, loaded when no block does; nullptr when the file
  // has no byte there.
  TReadBlock* BlockAt(int64_t Pos, bool Load);
  void DropBlocks();

  int32_t WriteBehind(const uint8_t* Data, int32_t Count);

  bool FReadBlocks = false;
  uint64_t FUseClock = 0;
  std::array<TReadBlock, 2> FBlocks;
  std::unique_ptr<uint8_t[]> FPending;  // set while writes are collected
  int64_t FPendingStart = 0;            // file offset of the first collected byte
  int32_t FPendingLength = 0;
  int FWriteError = 0;  // the error of a failed collected write: every later write fails too
};

// A handle stream that closes its descriptor when destroyed.
class TFileStream32 : public THandleStream32 {
 public:
  using THandleStream32::THandleStream32;
  ~TFileStream32() override;
  // Puts down what writes collected and closes the file now: false when either fails, as a full
  // network share may say only at the close. The stream has no file afterwards either way.
  bool Close();

 protected:
  // Closes the descriptor, dropping what writes collected; false when the close failed.
  bool CloseHandle();
};

// A stream over a block of memory it does not own; writing is not supported at this level.
class TCustomMemoryStream32 : public TStream32 {
 public:
  using TStream32::Seek;
  using TStream32::SetSize;
  void SetPointer(void* Ptr, int32_t Size);
  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;  // 0: not supported
  // Not clamped: past the end Read gives 0 and a memory stream's Write extends.
  int32_t Seek(int32_t Offset, uint16_t Origin) override;
  int64_t Size() override { return FSize; }

  uint8_t* Memory() const { return FMemory; }

 protected:
  uint8_t* FMemory = nullptr;
  int32_t FSize = 0;
  int32_t FPosition = 0;
};

// A growable memory stream. Capacity grows in steps of 8192 bytes, except that a request equal
// to the current size is taken exactly.
class TMemoryStream32 : public TCustomMemoryStream32 {
 public:
  TMemoryStream32() = default;
  ~TMemoryStream32() override;

  using TCustomMemoryStream32::Seek;
  using TCustomMemoryStream32::SetSize;
  void SetSize(int32_t NewSize) override;
  int32_t Write(const void* Buffer, int32_t Count) override;
  void Clear();
  // Empties the stream but keeps its block, for a stream used again and again for small data.
  void Rewind() {
    FSize = 0;
    FPosition = 0;
  }
  int32_t Capacity() const { return FCapacity; }

 protected:
  void SetCapacity(int32_t NewCapacity);
  // Rounds NewCapacity by the growth rule and returns the block; raises EStreamError
  // "Out of memory while expanding memory stream" when it cannot be had.
  virtual uint8_t* Realloc(int32_t& NewCapacity);

 private:
  std::vector<uint8_t> FBlock;
  int32_t FCapacity = 0;
};
