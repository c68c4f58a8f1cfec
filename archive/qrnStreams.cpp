#include "archive/qrnStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

#include "platform/files.h"
#include "platform/hooks.h"

namespace {

constexpr int32_t kMemoryGrowth = 8192;

bool FitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

[[noreturn]] void RaiseRange() { throw ERangeError("Range check error"); }
[[noreturn]] void RaiseOutOfMemory() { throw EStreamError("Out of memory while expanding memory stream"); }

// The error of a write that just fell short; a short write without one counts as a full disk.
int FailedWriteError() { return platform::LastError() != 0 ? platform::LastError() : ENOSPC; }

}  // namespace

// --- TStream32 ----------------------------------------------------------------------------

void TStream32::SetSize(int32_t) {}

void TStream32::SetSize(int64_t NewSize) {
  if (!FitsInt32(NewSize)) RaiseRange();
  SetSize(static_cast<int32_t>(NewSize));
}

int64_t TStream32::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (!FitsInt32(Offset)) RaiseRange();
  return Seek(static_cast<int32_t>(Offset), static_cast<uint16_t>(Origin));
}

int64_t TStream32::Size() {
  const int64_t pos = Seek(int64_t{0}, soCurrent);
  const int64_t size = Seek(int64_t{0}, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream32::ReadBuffer(void* Buffer, int32_t Count) {
  if (Count != 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream32::WriteBuffer(const void* Buffer, int32_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

int64_t TStream32::CopyFrom(TStream32* Source, int64_t Count) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  const int64_t requested = Count;
  TTransferBuffer buffer(static_cast<size_t>(std::clamp<int64_t>(Count, 0, kCopyBlockSize)));
  bool neverCancelled = false;
  const bool* cancel = CancelFlag ? CancelFlag : &neverCancelled;
  ActiveProgressHandler = ProgressHandler;
  while (Count > 0 && !*cancel) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(kCopyBlockSize, Count));
    // A Cancel button handled here must stop the copy before the next block is read.
    platform::ProcessMessages();
    if (*cancel) break;
    Source->ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    Count -= n;
  }
  return requested;
}

void TStream32::DoProgress(TStream32* Sender) {
  if (Sender && Sender->ActiveProgressHandler) Sender->ActiveProgressHandler(Sender);
}

// --- THandleStream32 ----------------------------------------------------------------------

THandleStream32::THandleStream32(const std::string& FileName, uint16_t Mode) {
  FShareMode = Mode == platform::kModeCreate ? 0 : static_cast<uint16_t>(Mode & 0x70u);
  int64_t size = -1;
  FHandle = platform::OpenFile(FileName, Mode, size);
  if (FHandle < 0) FHandle = -1;
  FSize = FHandle < 0 ? -1 : size;
  // Nobody writes through a read-only descriptor, so what a block holds stays true.
  FReadBlocks = FHandle >= 0 && Mode != platform::kModeCreate && (Mode & 3) == 0;
  ProgressHandler = nullptr;
  CancelFlag = nullptr;
}

THandleStream32::THandleStream32(int32_t AHandle, int64_t Size)
    : FHandle(AHandle < 0 ? -1 : AHandle), FSize(AHandle < 0 ? -1 : Size) {}

THandleStream32::~THandleStream32() { FHandle = -1; }

void THandleStream32::SetSize(int32_t NewSize) { SetSize(static_cast<int64_t>(NewSize)); }

void THandleStream32::SetSize(int64_t NewSize) {
  FlushWrites();
  Seek(NewSize, soBeginning);
  DropBlocks();
  if (!platform::TruncateFile(FHandle, NewSize)) throw EInOutError(std::strerror(platform::LastError()));
  FSize = NewSize;
}

int32_t THandleStream32::Read(void* Buffer, int32_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  if (FPendingLength > 0 && !PutDownPending()) return 0;
  const int32_t n = FReadBlocks ? ReadThroughBlocks(static_cast<uint8_t*>(Buffer), Count)
                                : platform::ReadFileAt(FHandle, Buffer, Count, FPosition);
  FPosition += n;
  return n;
}

int32_t THandleStream32::Write(const void* Buffer, int32_t Count) {
  if (FHandle < 0 || Count <= 0) return 0;
  if (FPending) return WriteBehind(static_cast<const uint8_t*>(Buffer), Count);
  DropBlocks();
  const int32_t n = platform::WriteFileAt(FHandle, Buffer, Count, FPosition);
  FPosition += n;
  FSize = std::max(FSize, FPosition);
  return n;
}

void THandleStream32::SetWriteBehind(bool On) {
  if (!On) {
    FlushWrites();
    FPending.reset();
  } else if (!FPending && FHandle >= 0) {
    DropBlocks();
    FPending = std::make_unique_for_overwrite<uint8_t[]>(kWriteBehindSize);
    FPendingLength = 0;
  }
}

void THandleStream32::FlushWrites() {
  if (!PutDownPending()) throw EWriteError("Stream write error");
}

bool THandleStream32::PutDownPending() {
  if (FWriteError == 0 && FPendingLength > 0) {
    const int32_t n = FPendingLength;
    FPendingLength = 0;
    if (platform::WriteFileAt(FHandle, FPending.get(), n, FPendingStart) != n) FWriteError = FailedWriteError();
  }
  // Whoever hears of the failure later hears of it as it was (a full disk stays one).
  if (FWriteError != 0) platform::SetLastError(FWriteError);
  return FWriteError == 0;
}

int32_t THandleStream32::WriteBehind(const uint8_t* Data, int32_t Count) {
  if (FWriteError != 0) {
    platform::SetLastError(FWriteError);
    return 0;
  }
  // A write that continues or overwrites what is collected joins it (the local header that is
  // rewritten once its entry's sizes are known is mostly still here).
  const bool joins = FPendingLength > 0 && FPosition >= FPendingStart &&
                     FPosition <= FPendingStart + FPendingLength &&
                     FPosition + Count <= FPendingStart + kWriteBehindSize;
  if (!joins) {
    if (!PutDownPending()) return 0;
    if (Count >= kWriteBehindSize / 2) {
      const int32_t n = platform::WriteFileAt(FHandle, Data, Count, FPosition);
      if (n != Count) FWriteError = FailedWriteError();
      FPosition += n;
      FSize = std::max(FSize, FPosition);
      return n;
    }
    FPendingStart = FPosition;
  }
  std::memcpy(FPending.get() + (FPosition - FPendingStart), Data, static_cast<size_t>(Count));
  FPendingLength = static_cast<int32_t>(std::max<int64_t>(FPendingLength, FPosition + Count - FPendingStart));
  FPosition += Count;
  FSize = std::max(FSize, FPosition);
  return Count;
}

int32_t THandleStream32::Seek(int32_t Offset, uint16_t Origin) {
  const int64_t pos = Seek(static_cast<int64_t>(Offset), static_cast<TSeekOrigin>(std::min<uint16_t>(Origin, 2)));
  // A 32-bit result must not wrap: past 2 GiB only the 64-bit form can say where we are.
  if (!FitsInt32(pos)) RaiseRange();
  return static_cast<int32_t>(pos);
}

int64_t THandleStream32::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (FHandle < 0) return -1;
  const int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : FSize;
  if ((Offset > 0 && base > std::numeric_limits<int64_t>::max() - Offset) || base + Offset < 0) return -1;
  FPosition = base + Offset;
  return FPosition;
}

int64_t THandleStream32::Size() { return FHandle < 0 ? -1 : FSize; }

int32_t THandleStream32::ReadThroughBlocks(uint8_t* Buffer, int32_t Count) {
  int32_t done = 0;
  while (done < Count) {
    const int64_t at = FPosition + done;
    const int32_t want = Count - done;
    TReadBlock* block = BlockAt(at, false);
    if (block == nullptr && (want >= kDirectReadSize || at + want >= FSize)) {
      // A long read, or one that takes the rest of the file: nothing after it is worth keeping.
      done += platform::ReadFileAt(FHandle, Buffer + done, want, at);
      break;
    }
    if (block == nullptr) block = BlockAt(at, true);
    if (block == nullptr) break;  // the end of the file, or a failed read
    const auto n = static_cast<int32_t>(std::min<int64_t>(want, block->Start + block->Length - at));
    std::memcpy(Buffer + done, block->Data.get() + (at - block->Start), static_cast<size_t>(n));
    done += n;
  }
  return done;
}

THandleStream32::TReadBlock* THandleStream32::BlockAt(int64_t Pos, bool Load) {
  for (TReadBlock& b : FBlocks) {
    if (b.Start >= 0 && Pos >= b.Start && Pos < b.Start + b.Length) {
      b.LastUse = ++FUseClock;
      return &b;
    }
  }
  if (!Load) return nullptr;
  TReadBlock& b = FBlocks[0].LastUse <= FBlocks[1].LastUse ? FBlocks[0] : FBlocks[1];
  if (!b.Data) b.Data = std::make_unique_for_overwrite<uint8_t[]>(kReadBlockSize);
  const int64_t start = Pos - Pos % kReadBlockSize;
  b.Length = platform::ReadFileAt(FHandle, b.Data.get(), kReadBlockSize, start);
  b.Start = start;
  b.LastUse = ++FUseClock;
  if (Pos >= start + b.Length) {
    b.Start = -1;
    return nullptr;
  }
  return &b;
}

void THandleStream32::DropBlocks() {
  for (TReadBlock& b : FBlocks) b.Start = -1;
}

TFileStream32::~TFileStream32() { CloseHandle(); }

bool TFileStream32::Close() {
  const bool written = PutDownPending();
  return CloseHandle() && written;
}

bool TFileStream32::CloseHandle() {
  if (FHandle < 0) return true;
  // The descriptor is released whatever close says: closing it again could close another file.
  const int32_t handle = FHandle;
  FHandle = -1;
  return platform::CloseFile(handle);
}

// --- TCustomMemoryStream32 ----------------------------------------------------------------

void TCustomMemoryStream32::SetPointer(void* Ptr, int32_t Size) {
  FMemory = static_cast<uint8_t*>(Ptr);
  FSize = Size;
}

int32_t TCustomMemoryStream32::Read(void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0 || FPosition >= FSize) return 0;
  const int32_t n = std::min(Count, FSize - FPosition);
  if (n > 0) std::memcpy(Buffer, FMemory + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int32_t TCustomMemoryStream32::Write(const void*, int32_t) { return 0; }

int32_t TCustomMemoryStream32::Seek(int32_t Offset, uint16_t Origin) {
  int64_t pos = FPosition;
  switch (Origin) {
    case soFromBeginning: pos = Offset; break;
    case soFromCurrent: pos = int64_t{FPosition} + Offset; break;
    case soFromEnd: pos = int64_t{FSize} + Offset; break;
    default: break;
  }
  if (!FitsInt32(pos)) RaiseRange();
  FPosition = static_cast<int32_t>(pos);
  return FPosition;
}

// --- TMemoryStream32 ----------------------------------------------------------------------

TMemoryStream32::~TMemoryStream32() { Clear(); }

void TMemoryStream32::Clear() {
  SetCapacity(0);
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream32::SetSize(int32_t NewSize) {
  const int32_t oldPosition = FPosition;
  SetCapacity(NewSize);
  FSize = NewSize;
  if (oldPosition > NewSize) Seek(int32_t{0}, soFromEnd);
}

int32_t TMemoryStream32::Write(const void* Buffer, int32_t Count) {
  if (FPosition < 0 || Count < 0) return 0;
  const int64_t end = int64_t{FPosition} + Count;
  // An end beyond 2 GiB cannot be addressed by this stream: nothing is written.
  if (end <= 0 || end > std::numeric_limits<int32_t>::max()) return 0;
  if (end > FSize) {
    if (end > FCapacity) SetCapacity(static_cast<int32_t>(end));
    FSize = static_cast<int32_t>(end);
  }
  if (Count > 0) std::memcpy(FMemory + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = static_cast<int32_t>(end);
  return Count;
}

void TMemoryStream32::SetCapacity(int32_t NewCapacity) {
  FMemory = Realloc(NewCapacity);
  FCapacity = NewCapacity;
}

uint8_t* TMemoryStream32::Realloc(int32_t& NewCapacity) {
  if (NewCapacity < 0) RaiseOutOfMemory();
  if (NewCapacity > 0 && NewCapacity != FSize) {
    const int64_t rounded = (int64_t{NewCapacity} + (kMemoryGrowth - 1)) & ~int64_t{kMemoryGrowth - 1};
    if (rounded > std::numeric_limits<int32_t>::max()) RaiseOutOfMemory();
    NewCapacity = static_cast<int32_t>(rounded);
  }
  if (NewCapacity == FCapacity) return FMemory;
  if (NewCapacity == 0) {
    std::vector<uint8_t>().swap(FBlock);
    return nullptr;
  }
  try {
    if (static_cast<size_t>(NewCapacity) < FBlock.size()) {
      // Give the memory back rather than keep the larger block.
      std::vector<uint8_t> smaller(FBlock.begin(), FBlock.begin() + NewCapacity);
      FBlock.swap(smaller);
    } else {
      FBlock.resize(static_cast<size_t>(NewCapacity));
    }
  } catch (const std::bad_alloc&) {
    RaiseOutOfMemory();
  } catch (const std::length_error&) {
    RaiseOutOfMemory();
  }
  return FBlock.data();
}
