#pragma once
// Stream inflate: the engine's own resumable Deflate decoder (RFC 1951), raw or inside the zlib
// wrapper (RFC 1950). The caller feeds input and output room in pieces of any size and calls again
// whenever it has more of either; all state lives in the stream record and the blocks it owns.
#include <cstdint>

// Results of the entry points.
constexpr int32_t siOK = 0;
constexpr int32_t siStreamEnd = 1;
constexpr int32_t siNeedDict = 2;
constexpr int32_t siStreamError = -2;
constexpr int32_t siDataError = -3;
constexpr int32_t siMemError = -4;
constexpr int32_t siBufError = -5;
constexpr int32_t siVersionError = -6;

// Flush value of StreamInflate: the caller wants the whole stream in this call.
constexpr int32_t siFinish = 4;

// The record size that StreamInflateInit expects: the version stamp of the interface.
constexpr int32_t StreamInflateRecSize = 74;

using TInflateAllocFunc = void* (*)(void* Opaque, uint32_t Items, uint32_t Size);
using TInflateFreeFunc = void (*)(void* Opaque, void* Address);

struct TInflateState;

// The stream record, owned by the caller.
struct TInflateStreamRec {
  const uint8_t* NextIn = nullptr;
  uint32_t AvailIn = 0;
  uint64_t TotalIn = 0;
  uint8_t* NextOut = nullptr;
  uint32_t AvailOut = 0;
  uint64_t TotalOut = 0;
  TInflateState* State = nullptr;  // created by StreamInflateInit, freed by StreamInflateEnd
  TInflateAllocFunc AllocFunc = nullptr;  // unset: zero-filled memory of Items x Size bytes
  TInflateFreeFunc FreeFunc = nullptr;
  void* Opaque = nullptr;
  // Running Adler-32 of the output in wrapped mode, or the dictionary identifier after siNeedDict.
  uint32_t Check = 0;
};

// WindowBits 8..15 expects the zlib wrapper; -15..-8 selects raw deflate. RecordSize must be
// StreamInflateRecSize.
int32_t StreamInflateInit(TInflateStreamRec* Strm, int32_t WindowBits, int32_t RecordSize);
// The same, with the window bits as the decompress stream passes them (a sign-extended byte).
int32_t StreamInflateInit2(TInflateStreamRec* Strm, int16_t WindowBits);
// Starts a new stream with the same window.
int32_t StreamInflateReset(TInflateStreamRec* Strm);
// Decodes as much as input and output room allow. Flush siFinish turns an unfinished siOK into
// siBufError; any other value acts as 0.
int32_t StreamInflate(TInflateStreamRec* Strm, int32_t Flush);
int32_t StreamInflateEnd(TInflateStreamRec* Strm);
