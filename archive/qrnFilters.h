#pragma once
// The writer's filter streams: TCompressStream deflates what is written to it into its target,
// TStoreStream copies unchanged, TCalcStreamCRC only computes a CRC. On the way they compute the
// entry's CRC, encipher with the traditional cipher, count down the component's bytes-left
// counter, fire the progress callback and stop on the shared cancel flag. DeflateFile and
// CalcStreamCRC are the routines with which the compressor handles one file.
#include <cstdint>
#include <memory>
#include <vector>

#include <zlib.h>

#include "archive/qrnGbls.h"
#include "archive/qrnInflate.h"
#include "archive/qrnStreams.h"

// Handed by the compressor to the filter streams by value; each stream keeps its own copy.
struct TFilterState {
  uint32_t Crc = 0xFFFFFFFFu;  // CRC-32 started at 0xFFFFFFFF, or CRC-16 started at 0
  bool Encrypted = false;      // the CRC was computed beforehand: the deflate path computes none
  int64_t* BytesLeft = nullptr;
  bool* Cancel = nullptr;
  bool EndOfStream = false;
};

// Two times the largest zlib window: output is written in whole pieces of this size.
inline constexpr int32_t kFilterBufferSize = 131070;
inline constexpr int32_t kStoreBlockSize = 102400;

// The zlib level of each deflate type; window bits, method 8, memory level 8 and the default
// strategy are fixed.
int DeflateLevelOf(TDeflateType DeflateType);

struct TDeflateEnd {
  void operator()(z_stream* Z) const;
};
using TDeflateHandle = std::unique_ptr<z_stream, TDeflateEnd>;

class TCustomStream : public TStream32 {
 public:
  explicit TCustomStream(TStream32* Target, bool WithBuffer = true);
  ~TCustomStream() override;

  using TStream32::Seek;
  using TStream32::SetSize;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  TFilterState State;
  uint8_t CrcMode = 32;

 protected:
  bool Cancelled() const { return State.Cancel != nullptr && *State.Cancel; }
  void CountDown(int64_t n) {
    if (State.BytesLeft != nullptr) *State.BytesLeft -= n;
  }
  // Several users may share the target: it is put back where this stream left it.
  void RestoreTarget();
  void WriteTarget(const uint8_t* Data, int32_t Count);

  TTransferBuffer FBuffer;
  TStream32* FTarget;
  int64_t FSavedPosition = 0;
  int64_t FTotalIn = 0;
};

class TCompressStream : public TCustomStream {
 public:
  TCompressStream(TStream32* Target, TDeflateType DeflateType, int WindowBits);
  ~TCompressStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;  // -1: write-only
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Seek(0, from current) is the number of input bytes deflated so far; any other seek -1.
  int32_t Seek(int32_t Offset, uint16_t Origin) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  uint32_t Crc = 0xFFFFFFFFu;

  // Writes the rest of the deflate data. Called by DeflateFile so that a failed last write
  // reaches the caller; the destructor finishes only a stream nobody closed.
  void Close();

 protected:
  virtual void InitDeflate(TDeflateType DeflateType, int WindowBits);
  virtual void Drain();
  virtual void Finish();

 private:
  void FlushBuffer(int32_t Count);
  bool FFinished = false;
  TDeflateHandle FZ;
  int FLevel = 0;
  int FWindowBits = -15;
};

class TStoreStream : public TCustomStream {
 public:
  TStoreStream(TStream32* Target, uint8_t CrcMode, const TFilterState& State, bool* CancelFlag,
               TNotifyEvent ProgressHandler);

  // Copies the whole of Input from its beginning.
  int64_t StoreFrom(TStream32* Input);
  int64_t CopyFrom(TStream32* Input, int64_t Count) override;
  int32_t Read(void* Buffer, int32_t Count) override;  // -1
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Seek(0, from current) is the input total, which a store stream never advances: 0. Any
  // other seek -1.
  using TCustomStream::Seek;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;

  uint32_t Crc = 0;

 private:
  bool* FCancel;
  TNotifyEvent FProgress;
  TStream32* FInput = nullptr;
};

// Computes the CRC of Count bytes of Input (0: all of it) in its constructor.
class TCalcStreamCRC : public TCustomStream {
 public:
  TCalcStreamCRC(TStream32* Input, TNotifyEvent ProgressHandler, bool* CancelFlag, const TFilterState& State,
                 uint8_t CrcMode, int64_t Count);
  int32_t Read(void* Buffer, int32_t Count) override;  // -1
  int32_t Write(const void* Buffer, int32_t Count) override;
  int32_t Seek(int32_t Offset, uint16_t Origin) override;  // -1

  uint32_t Crc;

 private:
  TStream32* FInput;
};

// Inflates what is read from it out of Source with the engine's own inflate. Read returns Count
// or a negative inflate result; the bytes produced are Count minus OutputSpaceLeft().
class TDecompressStream : public TCustomStream {
 public:
  TDecompressStream(TStream32* Source, int WindowBits);
  ~TDecompressStream() override;

  int32_t Read(void* Buffer, int32_t Count) override;
  int32_t Write(const void* Buffer, int32_t Count) override;  // -1: read-only
  // Seek(0, from beginning) restarts; a forward seek inflates and discards; every seek returns
  // the output produced so far.
  int32_t Seek(int32_t Offset, uint16_t Origin) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;

  uint32_t OutputSpaceLeft() const { return FRec.AvailOut; }
  // Goes on reading from Source at its position (the next volume of a split archive); what the
  // old source left in the input buffer is dropped.
  void SetSource(TStream32* Source) {
    FTarget = Source;
    FSavedPosition = Source->Position();
    FRec.AvailIn = 0;
  }
  uint64_t TotalOut() const { return FRec.TotalOut; }
  // Compressed bytes the inflate has consumed, across every source it was given.
  uint64_t TotalIn() const { return FRec.TotalIn; }

 protected:
  virtual void InflateReset();
  virtual void InflateEnd();
  virtual int32_t Inflate();
  virtual void InflateInit(int WindowBits);

 private:
  int64_t SkipForward(int64_t Count);
  TInflateStreamRec FRec;
  int FWindowBits = -15;
};

// The CRC-32 register over Input (without its final complement); Input is put back at 0.
uint32_t CalcStreamCRC(TStream32* Input, const TFilterState& State, bool* CancelFlag, TNotifyEvent ProgressHandler,
                       int64_t Count);

// Deflates the whole of InFile into OutStream. When not State.Encrypted, Crc receives the final
// CRC-32 of the input. False when the cancel flag was set.
bool DeflateFile(TStream32* InFile, TStream32* OutStream, const TFilterState& State, uint32_t& Crc,
                 TDeflateType DeflateType, TNotifyEvent ProgressHandler, int WindowBits);
