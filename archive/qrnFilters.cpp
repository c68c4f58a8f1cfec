#include "archive/qrnFilters.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/qrnCrypt.h"
#include "platform/hooks.h"

namespace {

// A deflate state costs a quarter megabyte to set up; an archive of many small files would
// spend more time there than deflating. Finished states are kept, one per level, and reset.
struct TDeflatePool {
  TDeflateHandle Free[4];
};
thread_local TDeflatePool DeflatePool;

// The 128 KiB output buffer of a filter stream, kept for the next stream: allocating and freeing
// a block that large for every small member costs more than its data.
thread_local TTransferBuffer SpareFilterBuffer;

// An inflate state takes several zeroed allocations to set up; for a small member that is most
// of the work. The last finished state is kept with its window bits and reset for the next one
// (the reset clears its window, so nothing of the earlier member can show through).
struct TInflatePool {
  TInflateStreamRec Rec;
  int WindowBits = 0;
  TInflatePool() = default;
  TInflatePool(const TInflatePool&) = delete;
  TInflatePool& operator=(const TInflatePool&) = delete;
  ~TInflatePool() {
    if (Rec.State != nullptr) StreamInflateEnd(&Rec);
  }
};
thread_local TInflatePool InflatePool;

int PoolSlot(int level) {
  switch (level) {
    case 0: return 0;
    case 1: return 1;
    case 9: return 3;
    default: return 2;
  }
}

}  // namespace

void TDeflateEnd::operator()(z_stream* Z) const {
  deflateEnd(Z);
  delete Z;
}

int DeflateLevelOf(TDeflateType DeflateType) {
  switch (DeflateType) {
    case dtDeflateS: return 0;
    case dtDeflateF: return 1;
    case dtDeflateX: return 9;
    case dtDeflateN: break;
  }
  return Z_DEFAULT_COMPRESSION;
}

// --- TCustomStream ---------------------------------------------------------------------------

TCustomStream::TCustomStream(TStream32* Target, bool WithBuffer) : FTarget(Target) {
  if (FTarget != nullptr) FSavedPosition = FTarget->Position();
  if (WithBuffer) {
    if (SpareFilterBuffer.size() == static_cast<size_t>(kFilterBufferSize))
      std::swap(FBuffer, SpareFilterBuffer);
    else
      FBuffer.resize(kFilterBufferSize);
  }
}

TCustomStream::~TCustomStream() {
  if (FBuffer.size() == static_cast<size_t>(kFilterBufferSize) && SpareFilterBuffer.size() == 0)
    std::swap(FBuffer, SpareFilterBuffer);
}

int32_t TCustomStream::Seek(int32_t, uint16_t) { return -1; }

void TCustomStream::RestoreTarget() {
  if (FTarget->Position() != FSavedPosition) FTarget->Seek(FSavedPosition, soBeginning);
}

void TCustomStream::WriteTarget(const uint8_t* Data, int32_t Count) {
  RestoreTarget();
  FTarget->WriteBuffer(Data, Count);
  FSavedPosition += Count;
}

// --- TCompressStream -------------------------------------------------------------------------

TCompressStream::TCompressStream(TStream32* Target, TDeflateType DeflateType, int WindowBits)
    : TCustomStream(Target) {
  InitDeflate(DeflateType, WindowBits);
}

void TCompressStream::InitDeflate(TDeflateType DeflateType, int WindowBits) {
  FLevel = DeflateLevelOf(DeflateType);
  FWindowBits = WindowBits;
  TDeflateHandle& pooled = DeflatePool.Free[PoolSlot(FLevel)];
  if (WindowBits == -15 && pooled) {
    FZ = std::move(pooled);
    deflateReset(FZ.get());
  } else {
    auto z = std::make_unique<z_stream>();
    std::memset(z.get(), 0, sizeof(z_stream));
    if (deflateInit2(z.get(), FLevel, Z_DEFLATED, WindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
      throw EStreamError("Error initialising deflate");
    FZ.reset(z.release());
  }
  FZ->next_out = FBuffer.data();
  FZ->avail_out = kFilterBufferSize;
  FZ->next_in = nullptr;
  FZ->avail_in = 0;
}

void TCompressStream::Close() {
  if (FFinished) return;
  FFinished = true;
  FZ->avail_in = 0;
  Finish();
}

TCompressStream::~TCompressStream() {
  try {
    Close();
  } catch (...) {
    // Only a stream abandoned by an exception gets here; that exception is already on its way.
  }
  TDeflateHandle& pooled = DeflatePool.Free[PoolSlot(FLevel)];
  if (FWindowBits == -15 && !pooled) pooled = std::move(FZ);
}

int32_t TCompressStream::Read(void*, int32_t) { return -1; }

int32_t TCompressStream::Write(const void* Buffer, int32_t Count) {
  FZ->next_in = static_cast<Bytef*>(const_cast<void*>(Buffer));
  FZ->avail_in = static_cast<uInt>(Count);
  RestoreTarget();
  Drain();
  return Count;
}

void TCompressStream::FlushBuffer(int32_t Count) {
  if (State.Encrypted) EncryptBuffer(FBuffer.data(), static_cast<size_t>(Count));
  WriteTarget(FBuffer.data(), Count);
  FZ->next_out = FBuffer.data();
  FZ->avail_out = kFilterBufferSize;
}

void TCompressStream::Drain() {
  while (FZ->avail_in > 0 && !Cancelled()) {
    const Bytef* in = FZ->next_in;
    const uInt before = FZ->avail_in;
    deflate(FZ.get(), Z_NO_FLUSH);
    const uInt used = before - FZ->avail_in;
    if (!State.Encrypted) Crc32Update(in, used, Crc);
    FTotalIn += used;
    CountDown(used);
    if (Cancelled()) break;
    if (FZ->avail_out == 0) FlushBuffer(kFilterBufferSize);
    DoProgress(this);
  }
}

void TCompressStream::Finish() {
  RestoreTarget();
  int rc = deflate(FZ.get(), Z_FINISH);
  for (;;) {
    if (rc == Z_STREAM_END || FZ->avail_out > 0 || Cancelled()) {
      const int32_t used = kFilterBufferSize - static_cast<int32_t>(FZ->avail_out);
      if (used > 0) {
        if (State.Encrypted) EncryptBuffer(FBuffer.data(), static_cast<size_t>(used));
        WriteTarget(FBuffer.data(), used);
      }
      FZ->next_out = FBuffer.data();
      FZ->avail_out = kFilterBufferSize;
      return;
    }
    if (rc != Z_OK) return;
    FlushBuffer(kFilterBufferSize);
    rc = deflate(FZ.get(), Z_FINISH);
  }
}

int32_t TCompressStream::Seek(int32_t Offset, uint16_t Origin) {
  if (Offset == 0 && Origin == soFromCurrent) {
    if (FTotalIn > INT32_MAX) throw ERangeError("Range check error");
    return static_cast<int32_t>(FTotalIn);
  }
  return -1;
}

int64_t TCompressStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset == 0 && Origin == soCurrent) return FTotalIn;
  if (Offset < INT32_MIN || Offset > INT32_MAX) throw ERangeError("Range check error");
  return -1;
}

// --- TStoreStream ----------------------------------------------------------------------------

TStoreStream::TStoreStream(TStream32* Target, uint8_t Mode, const TFilterState& FState, bool* CancelFlag,
                           TNotifyEvent ProgressHandler)
    : TCustomStream(Target, false), FCancel(CancelFlag), FProgress(std::move(ProgressHandler)) {
  CrcMode = Mode;
  State = FState;
  if (!State.Encrypted)
    Crc = CrcMode == 16 ? 0u : 0xFFFFFFFFu;
  else
    Crc = CrcMode == 16 ? CryptState().Crc16 : CryptState().Crc32;
  FBuffer.resize(kStoreBlockSize);
}

int64_t TStoreStream::StoreFrom(TStream32* Input) {
  Input->CancelFlag = FCancel;
  Input->ProgressHandler = FProgress;
  Input->ActiveProgressHandler = FProgress;
  FInput = Input;
  return CopyFrom(Input, 0);
}

int64_t TStoreStream::CopyFrom(TStream32* Input, int64_t Count) {
  if (Count == 0) {
    Input->SetPosition(0);
    Count = Input->Size();
  }
  const int64_t requested = Count;
  FInput = Input;
  while (Count > 0 && !(FCancel != nullptr && *FCancel)) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(kStoreBlockSize, Count));
    platform::ProcessMessages();
    Input->ReadBuffer(FBuffer.data(), n);
    Write(FBuffer.data(), n);
    Count -= n;
  }
  return requested;
}

int32_t TStoreStream::Read(void*, int32_t) { return -1; }

int32_t TStoreStream::Seek(int32_t Offset, uint16_t Origin) {
  return Offset == 0 && Origin == soFromCurrent ? static_cast<int32_t>(FTotalIn) : -1;
}

int32_t TStoreStream::Write(const void* Buffer, int32_t Count) {
  auto* p = static_cast<uint8_t*>(const_cast<void*>(Buffer));
  if (!State.Encrypted) {
    if (CrcMode == 16)
      Crc16Update(p, static_cast<size_t>(Count), Crc);
    else if (CrcMode == 32)
      Crc32Update(p, static_cast<size_t>(Count), Crc);
  } else {
    EncryptBuffer(p, static_cast<size_t>(Count));
  }
  CountDown(Count);
  WriteTarget(p, Count);
  if (FInput != nullptr) FInput->DoProgress(FInput);
  return Count;
}

// --- TDecompressStream -----------------------------------------------------------------------

TDecompressStream::TDecompressStream(TStream32* Source, int WindowBits) : TCustomStream(Source) {
  InflateInit(WindowBits);
}

void TDecompressStream::InflateInit(int WindowBits) {
  FWindowBits = WindowBits;
  TInflatePool& pool = InflatePool;
  if (pool.Rec.State != nullptr && pool.WindowBits == WindowBits) {
    FRec = pool.Rec;
    pool.Rec = TInflateStreamRec{};
    FRec.NextIn = nullptr;
    FRec.AvailIn = 0;
    FRec.NextOut = nullptr;
    FRec.AvailOut = 0;
    if (StreamInflateReset(&FRec) == siOK) return;
    StreamInflateEnd(&FRec);
    FRec = TInflateStreamRec{};
  }
  if (StreamInflateInit2(&FRec, static_cast<int16_t>(WindowBits)) != siOK)
    throw EStreamError("Error initialising inflate");
}

void TDecompressStream::InflateReset() { StreamInflateReset(&FRec); }

void TDecompressStream::InflateEnd() {
  TInflatePool& pool = InflatePool;
  if (FRec.State != nullptr && pool.Rec.State == nullptr) {
    pool.Rec = FRec;
    pool.WindowBits = FWindowBits;
    FRec.State = nullptr;
    return;
  }
  StreamInflateEnd(&FRec);
}
int32_t TDecompressStream::Inflate() { return StreamInflate(&FRec, 0); }

TDecompressStream::~TDecompressStream() {
  try {
    // Leave Source right after the bytes inflate consumed.
    if (FRec.AvailIn > 0) {
      RestoreTarget();
      FTarget->Seek(-static_cast<int64_t>(FRec.AvailIn), soCurrent);
    }
  } catch (...) {
    // A destructor cannot report a failed seek; the entry is finished either way.
  }
  InflateEnd();
}

int32_t TDecompressStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  // A refill asks Source for Count bytes, so Count is bounded by the input buffer.
  if (Count > kFilterBufferSize) Count = kFilterBufferSize;
  FRec.NextOut = static_cast<uint8_t*>(Buffer);
  FRec.AvailOut = static_cast<uint32_t>(Count);
  RestoreTarget();
  while (FRec.AvailOut > 0) {
    if (FRec.AvailIn == 0) {
      const int32_t got = FTarget->Read(FBuffer.data(), Count);
      FSavedPosition = FTarget->Position();
      if (got > 0) {
        if (State.Encrypted) DecryptBuffer(FBuffer.data(), static_cast<size_t>(got));
        FRec.NextIn = FBuffer.data();
        FRec.AvailIn = static_cast<uint32_t>(got);
        DoProgress(this);
      }
    }
    const int32_t rc = Inflate();
    if (rc == siStreamEnd) {
      State.EndOfStream = true;
      break;
    }
    if (rc < 0) return rc;
  }
  return Count;
}

int32_t TDecompressStream::Write(const void*, int32_t) { return -1; }

int64_t TDecompressStream::SkipForward(int64_t Count) {
  uint8_t scratch[4096];
  while (Count > 0 && !State.EndOfStream) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(Count, sizeof scratch));
    if (Read(scratch, n) < 0) break;
    const int64_t produced = n - static_cast<int64_t>(FRec.AvailOut);
    if (produced == 0) break;
    Count -= produced;
  }
  return static_cast<int64_t>(FRec.TotalOut);
}

int64_t TDecompressStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  if (Offset < INT32_MIN || Offset > INT32_MAX) throw ERangeError("Range check error");
  const auto total = static_cast<int64_t>(FRec.TotalOut);
  if (Origin == soBeginning && Offset == 0) {
    InflateReset();
    FRec.AvailIn = 0;
    State.EndOfStream = false;
    FTarget->Seek(int64_t{0}, soBeginning);
    FSavedPosition = 0;
    return 0;
  }
  if (Origin == soCurrent && Offset >= 0) return SkipForward(Offset);
  if (Origin == soBeginning && Offset > total) return SkipForward(Offset - total);
  return total;
}

int32_t TDecompressStream::Seek(int32_t Offset, uint16_t Origin) {
  const TSeekOrigin o = Origin == soFromBeginning ? soBeginning : Origin == soFromCurrent ? soCurrent : soEnd;
  const int64_t r = Seek(static_cast<int64_t>(Offset), o);
  if (r > INT32_MAX) throw ERangeError("Range check error");
  return static_cast<int32_t>(r);
}

// --- TCalcStreamCRC --------------------------------------------------------------------------

TCalcStreamCRC::TCalcStreamCRC(TStream32* Input, TNotifyEvent ProgressHandler, bool* CancelFlag,
                               const TFilterState& FState, uint8_t Mode, int64_t Count)
    : TCustomStream(nullptr, false), Crc(Mode == 16 ? 0u : 0xFFFFFFFFu), FInput(Input) {
  CrcMode = Mode;
  State = FState;
  this->ProgressHandler = std::move(ProgressHandler);
  this->CancelFlag = CancelFlag;
  TStream32::CopyFrom(Input, Count);
}

int32_t TCalcStreamCRC::Read(void*, int32_t) { return -1; }
int32_t TCalcStreamCRC::Seek(int32_t, uint16_t) { return -1; }

int32_t TCalcStreamCRC::Write(const void* Buffer, int32_t Count) {
  if (CrcMode == 16)
    Crc16Update(Buffer, static_cast<size_t>(Count), Crc);
  else
    Crc32Update(Buffer, static_cast<size_t>(Count), Crc);
  if (FInput->ActiveProgressHandler) {
    CountDown(Count);
    FInput->DoProgress(FInput);
  }
  return Count;
}

uint32_t CalcStreamCRC(TStream32* Input, const TFilterState& State, bool* CancelFlag, TNotifyEvent ProgressHandler,
                       int64_t Count) {
  // The pass must neither count down nor report: the compression after it covers the same bytes.
  Input->ActiveProgressHandler = nullptr;
  TCalcStreamCRC calc(Input, std::move(ProgressHandler), CancelFlag, State, 32, Count);
  Input->SetPosition(0);
  return calc.Crc;
}

// --- DeflateFile -----------------------------------------------------------------------------

bool DeflateFile(TStream32* InFile, TStream32* OutStream, const TFilterState& State, uint32_t& Crc,
                 TDeflateType DeflateType, TNotifyEvent ProgressHandler, int WindowBits) {
  bool ok;
  {
    TCompressStream z(OutStream, DeflateType, WindowBits);
    z.State = State;
    z.ProgressHandler = ProgressHandler;
    z.ActiveProgressHandler = ProgressHandler;
    z.CancelFlag = State.Cancel;
    z.CopyFrom(InFile, 0);
    if (!State.Encrypted) Crc = z.Crc ^ 0xFFFFFFFFu;
    if (InFile->Size() == 0 && CryptState().Crc32 == 0xFFFFFFFFu) CryptState().Crc32 = 0;
    ok = !(State.Cancel != nullptr && *State.Cancel);
    z.Close();  // the rest of the deflate data; a failed write raises here
  }
  return ok;
}
