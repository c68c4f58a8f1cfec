// Deflate64 decoder. Every check on the data ends the decoding quietly: what was decoded so far
// is written and the caller's CRC check reports the damage. Only a refused write and a failed
// allocation raise, through the component's error model.
#include "archive/qrnGzInflate.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "archive/qrnZipRecords.h"

namespace {

constexpr uint32_t kWindowSize = 65536;
constexpr uint32_t kInputSize = 65536;
constexpr uint32_t kMaxBits = 15;  // longest code a Deflate code-length set can give
constexpr uint32_t kFastBits = 9;  // first-level lookup width; longer codes take the slow path
constexpr int32_t kCrc32 = 32;
constexpr int32_t kNoCrc = 0;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr std::array<uint16_t, 32> kDistBase = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                                49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                                2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr std::array<uint8_t, 32> kDistExtra = {0, 0, 0, 0, 1, 1, 2, 2, 3,  3,  4,  4,  5,  5,  6,  6,
                                                7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr std::array<uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Process-wide buffers: the engine decodes one entry at a time on one thread.
std::array<uint8_t, kWindowSize> gWindow;
std::array<uint8_t, kInputSize> gInput;
uint64_t gPackedLeft = 0;
bool gEnded = false;  // the last block of the entry ended

// Canonical Huffman code: a first-level table for codes up to kFastBits long, and the counts
// and sorted symbols for a bit-by-bit walk of longer codes. An empty code decodes nothing.
struct THuffman {
  std::array<uint16_t, kMaxBits + 1> Count{};
  std::vector<uint16_t> Symbol;
  std::vector<uint16_t> Fast;  // symbol << 4 | length; 0 = not a short code
  uint32_t FastBits = 0;
  uint32_t MaxLen = 0;
};

enum class TBuild { Complete, Incomplete, Error };

// Builds Code from N lengths (each 0..15). Over-subscribed sets are errors; an incomplete set
// is reported as such. Allocation failure throws std::bad_alloc.
TBuild BuildCode(THuffman& Code, const uint8_t* Lens, uint32_t N) {
  Code.Count.fill(0);
  for (uint32_t i = 0; i < N; ++i) ++Code.Count[Lens[i]];
  Code.Count[0] = 0;
  Code.MaxLen = 0;
  for (uint32_t l = kMaxBits; l >= 1; --l)
    if (Code.Count[l]) {
      Code.MaxLen = l;
      break;
    }
  Code.FastBits = std::min(kFastBits, Code.MaxLen);
  Code.Fast.assign(size_t{1} << Code.FastBits, 0);
  Code.Symbol.assign(N, 0);
  if (Code.MaxLen == 0) return TBuild::Complete;

  int32_t left = 1;
  for (uint32_t l = 1; l <= kMaxBits; ++l) {
    left = (left << 1) - Code.Count[l];
    if (left < 0) return TBuild::Error;
  }
  std::array<uint16_t, kMaxBits + 2> offs{};
  for (uint32_t l = 1; l <= kMaxBits; ++l) offs[l + 1] = static_cast<uint16_t>(offs[l] + Code.Count[l]);
  // First code of each length, canonical per RFC 1951.
  std::array<uint32_t, kMaxBits + 1> next{};
  uint32_t code = 0;
  for (uint32_t l = 1; l <= kMaxBits; ++l) {
    next[l] = code;
    code = (code + Code.Count[l]) << 1;
  }
  for (uint32_t s = 0; s < N; ++s) {
    const uint32_t len = Lens[s];
    if (len == 0) continue;
    Code.Symbol[offs[len]++] = static_cast<uint16_t>(s);
    const uint32_t c = next[len]++;
    if (len > Code.FastBits) continue;
    uint32_t rev = 0;
    for (uint32_t b = 0; b < len; ++b) rev |= ((c >> b) & 1u) << (len - 1 - b);
    for (uint32_t i = rev; i < Code.Fast.size(); i += 1u << len)
      Code.Fast[i] = static_cast<uint16_t>(s << 4 | len);
  }
  return left > 0 ? TBuild::Incomplete : TBuild::Complete;
}

// A set of lengths usable for literals/lengths or distances: complete, empty, or one code of
// length 1 (encoders emit that for a block with a single distance; zlib accepts it too).
bool Usable(TBuild Result, const THuffman& Code) {
  if (Result == TBuild::Complete) return true;
  if (Result != TBuild::Incomplete) return false;
  return Code.MaxLen == 1 && Code.Count[1] == 1;
}

enum class TStop { None, Done, Fault };

class TDecoder {
 public:
  TDecoder(TZipCommon& Component, TStream32& Archive, TStream32* Output, const TMemberHeader& Header)
      : FComp(Component), FArchive(Archive), FOutput(Output), FHeader(Header) {}

  void Run();
  void Finish() { Flush(); }

 private:
  // The cancel flag can change only inside the component's callbacks (reads, writes, progress),
  // so it is read after each of them and kept: the loops test the copy.
  bool Cancelled() const { return FCancelled; }
  void PollCancel() { FCancelled = FComp.GetCancel(); }
  bool NextByte(uint8_t& B);
  bool Need(uint32_t N);
  uint32_t Bits(uint32_t N) { return static_cast<uint32_t>(FBitBuf & ((uint64_t{1} << N) - 1)); }
  void Drop(uint32_t N) {
    FBitBuf >>= N;
    FBitCount -= N;
  }
  bool Take(uint32_t N, uint32_t& V);
  // Symbol of Code, or -1 for an invalid code or one cut off by the end of input.
  int32_t Decode(const THuffman& Code);
  // The declared size is reached: what is decoded after it is damage, not output.
  bool Full() const { return FTotal >= FHeader.UnpackedSize; }
  void Put(uint8_t B) {
    gWindow[FPos++] = B;
    ++FTotal;
    if (FPos == kWindowSize) Flush();
  }
  void Flush();
  void GiveBack();

  TStop Stored();
  TStop Dynamic();
  TStop Codes(const THuffman& Lit, const THuffman& Dist);
  bool BuildFixed();

  TZipCommon& FComp;
  TStream32& FArchive;
  TStream32* FOutput;
  const TMemberHeader& FHeader;
  uint64_t FBitBuf = 0;
  uint32_t FBitCount = 0;
  uint32_t FInCount = 0;
  uint32_t FInNext = 0;
  uint32_t FPos = 0;
  uint64_t FTotal = 0;  // bytes produced; a distance may not reach before the entry's start
  bool FHaveFixed = false;
  bool FCancelled = false;
  THuffman FFixedLit, FFixedDist;
  THuffman FLit, FDist, FLens;
};

bool TDecoder::NextByte(uint8_t& B) {
  if (Cancelled()) {
    gPackedLeft = 0;
    return false;
  }
  if (FInNext == FInCount) {
    PollCancel();
    if (Cancelled()) {
      gPackedLeft = 0;
      return false;
    }
    if (gPackedLeft == 0) return false;
    const auto want = static_cast<int32_t>(std::min<uint64_t>(gPackedLeft, kInputSize));
    const bool decipher = (FHeader.Flags & kFlagEncrypted) != 0;
    const int32_t got = FComp.ReadHook ? FComp.ReadHook(FArchive, want, kNoCrc, decipher, gInput.data())
                                       : FComp.ReadBlock(FArchive, want, kNoCrc, decipher, gInput.data());
    PollCancel();
    if (got <= 0) return false;
    FInCount = static_cast<uint32_t>(std::min(got, want));
    FInNext = 0;
  }
  B = gInput[FInNext++];
  --gPackedLeft;
  return true;
}

bool TDecoder::Need(uint32_t N) {
  if (FBitCount >= N) return true;
  // Whole bytes of the buffer in hand first, as many as the bit buffer holds; a new read only
  // when they run out, so that what GiveBack can return stays within the current buffer.
  if (!Cancelled()) {
    uint32_t n = std::min((63 - FBitCount) / 8, FInCount - FInNext);
    gPackedLeft -= n;
    while (n-- > 0) {
      FBitBuf |= uint64_t{gInput[FInNext++]} << FBitCount;
      FBitCount += 8;
    }
  }
  while (FBitCount < N) {
    uint8_t b;
    if (!NextByte(b)) return false;
    FBitBuf |= uint64_t{b} << FBitCount;
    FBitCount += 8;
  }
  return true;
}

bool TDecoder::Take(uint32_t N, uint32_t& V) {
  if (!Need(N)) return false;
  V = Bits(N);
  Drop(N);
  return true;
}

int32_t TDecoder::Decode(const THuffman& Code) {
  // The lookahead may run past the end of the data: the last code can be shorter than it.
  Need(Code.FastBits);
  const uint16_t e = Code.Fast[Bits(std::min(Code.FastBits, FBitCount))];
  if (e != 0 && (e & 15u) <= FBitCount) {
    Drop(e & 15u);
    return e >> 4;
  }
  if (e != 0) return -1;  // the code is longer than the bits left
  int32_t code = 0, first = 0, index = 0;
  for (uint32_t len = 1; len <= Code.MaxLen; ++len) {
    if (!Need(len)) return -1;
    code |= static_cast<int32_t>((FBitBuf >> (len - 1)) & 1u);
    const int32_t count = Code.Count[len];
    if (code - first < count) {
      Drop(len);
      return Code.Symbol[static_cast<size_t>(index + code - first)];
    }
    index += count;
    first = (first + count) << 1;
    code <<= 1;
  }
  return -1;
}

void TDecoder::Flush() {
  if (FPos == 0) return;
  const auto n = static_cast<int32_t>(FPos);
  FPos = 0;
  const int32_t written = FComp.OutputHook ? FComp.OutputHook(FOutput, gWindow.data(), 1, n, kCrc32, false)
                                           : FComp.WriteDecrypted(FOutput, gWindow.data(), 1, n, kCrc32, false);
  FComp.BytesLeft -= n;
  const uint64_t done = FHeader.PackedSize - gPackedLeft;
  FComp.DoProgress(FComp.ArchiveTotal, static_cast<int64_t>(FHeader.PackedSize), static_cast<int64_t>(done));
  if (written != n) {
    FComp.RaiseWriteError();
    // Not raised means cancelled: stop taking input.
    gPackedLeft = 0;
    FInNext = FInCount;
  }
  PollCancel();
}

void TDecoder::GiveBack() {
  // Only bytes of the current input buffer can go back.
  while (FBitCount >= 8 && FInNext > 0) {
    --FInNext;
    ++gPackedLeft;
    FBitCount -= 8;
    FBitBuf &= (uint64_t{1} << FBitCount) - 1;
  }
}

TStop TDecoder::Stored() {
  Drop(FBitCount & 7u);
  uint32_t len, nlen;
  if (!Take(16, len) || !Take(16, nlen)) return TStop::Fault;
  if ((len ^ 0xFFFFu) != nlen) return TStop::Fault;
  if (len > FHeader.UnpackedSize - FTotal) return TStop::Fault;
  for (; len > 0; --len) {
    uint8_t b;
    if (FBitCount >= 8) {
      b = static_cast<uint8_t>(FBitBuf);
      Drop(8);
    } else if (!NextByte(b)) {
      return TStop::Fault;
    }
    Put(b);
  }
  return Cancelled() ? TStop::Done : TStop::None;
}

bool TDecoder::BuildFixed() {
  std::array<uint8_t, 288> lens{};
  std::fill(lens.begin(), lens.begin() + 144, 8);
  std::fill(lens.begin() + 144, lens.begin() + 256, 9);
  std::fill(lens.begin() + 256, lens.begin() + 280, 7);
  std::fill(lens.begin() + 280, lens.end(), 8);
  BuildCode(FFixedLit, lens.data(), 288);
  std::fill(lens.begin(), lens.begin() + 32, 5);
  BuildCode(FFixedDist, lens.data(), 32);
  FHaveFixed = true;
  return true;
}

TStop TDecoder::Dynamic() {
  uint32_t hlit, hdist, hclen;
  if (!Take(5, hlit) || !Take(5, hdist) || !Take(4, hclen)) return TStop::Fault;
  const uint32_t nlit = 257 + hlit, ndist = 1 + hdist, ncl = 4 + hclen;
  std::array<uint8_t, 19> cl{};
  for (uint32_t i = 0; i < ncl; ++i) {
    uint32_t v;
    if (!Take(3, v)) return TStop::Fault;
    cl[kCodeLengthOrder[i]] = static_cast<uint8_t>(v);
  }
  if (BuildCode(FLens, cl.data(), 19) != TBuild::Complete || FLens.MaxLen == 0) return TStop::Fault;

  std::array<uint8_t, 288 + 32> lens{};
  uint32_t n = 0;
  while (n < nlit + ndist) {
    const int32_t sym = Decode(FLens);
    if (sym < 0) return TStop::Fault;
    if (sym < 16) {
      lens[n++] = static_cast<uint8_t>(sym);
      continue;
    }
    uint32_t rep, v = 0;
    uint8_t fill = 0;
    if (sym == 16) {
      fill = n == 0 ? 0 : lens[n - 1];  // before any length, the length repeated is 0
      if (!Take(2, rep)) return TStop::Fault;
      rep += 3;
    } else if (sym == 17) {
      if (!Take(3, v)) return TStop::Fault;
      rep = 3 + v;
    } else {
      if (!Take(7, v)) return TStop::Fault;
      rep = 11 + v;
    }
    if (n + rep > nlit + ndist) return TStop::Fault;
    while (rep-- > 0) lens[n++] = fill;
  }
  const TBuild lr = BuildCode(FLit, lens.data(), nlit);
  if (!Usable(lr, FLit)) return TStop::Fault;
  const TBuild dr = BuildCode(FDist, lens.data() + nlit, ndist);
  if (!Usable(dr, FDist)) return TStop::Fault;
  return Codes(FLit, FDist);
}

TStop TDecoder::Codes(const THuffman& Lit, const THuffman& Dist) {
  for (;;) {
    if (Cancelled()) return TStop::Done;
    const int32_t sym = Decode(Lit);
    if (sym < 0) return TStop::Fault;
    if (sym < 256) {
      if (Full()) return TStop::Fault;
      Put(static_cast<uint8_t>(sym));
      continue;
    }
    if (sym == 256) return TStop::None;
    const auto li = static_cast<uint32_t>(sym - 257);
    if (li >= kLengthBase.size()) return TStop::Fault;  // 286 and 287
    uint32_t extra;
    if (!Take(kLengthExtra[li], extra)) return TStop::Fault;
    uint32_t len = kLengthBase[li] + extra;
    const int32_t dsym = Decode(Dist);
    if (dsym < 0) return TStop::Fault;
    if (!Take(kDistExtra[static_cast<size_t>(dsym)], extra)) return TStop::Fault;
    const uint32_t dist = kDistBase[static_cast<size_t>(dsym)] + extra;
    // Before the entry's first byte the window holds another entry's data.
    if (dist > FTotal) return TStop::Fault;
    if (len > FHeader.UnpackedSize - FTotal) return TStop::Fault;
    while (len > 0) {
      const uint32_t from = (FPos - dist) & (kWindowSize - 1);
      // A run stops at the window's end on both sides, and at the distance for an overlap.
      uint32_t run = std::min({len, kWindowSize - FPos, kWindowSize - from});
      if (dist < run) {
        for (uint32_t i = 0; i < run; ++i) gWindow[FPos + i] = gWindow[from + i];
      } else {
        std::memmove(&gWindow[FPos], &gWindow[from], run);
      }
      FPos += run;
      FTotal += run;
      len -= run;
      if (FPos == kWindowSize) Flush();
      if (Cancelled()) return TStop::Done;
    }
  }
}

void TDecoder::Run() {
  PollCancel();
  for (;;) {
    uint32_t last, type;
    if (!Take(1, last) || !Take(2, type)) return;
    TStop stop = TStop::Fault;
    switch (type) {
      case 0: stop = Stored(); break;
      case 1:
        if (!FHaveFixed) BuildFixed();
        stop = Codes(FFixedLit, FFixedDist);
        break;
      case 2: stop = Dynamic(); break;
      default: break;
    }
    if (stop != TStop::None) return;
    GiveBack();
    if (last) {
      gEnded = true;
      return;
    }
    if (Cancelled()) return;
  }
}

}  // namespace

bool InflateMember(TZipCommon& Component, TStream32& Archive, TStream32* Output, const TMemberHeader& Header) {
  gPackedLeft = Header.PackedSize;
  gEnded = false;
  std::unique_ptr<TDecoder> decoder;
  try {
    decoder = std::make_unique<TDecoder>(Component, Archive, Output, Header);
    decoder->Run();
  } catch (const std::bad_alloc&) {
    Component.RaiseError(Throw_E_RAISE, Component.CurrentFileName(), "", "0", E_OUT_OF_MEMORY);
  }
  if (decoder) decoder->Finish();
  return true;
}

uint64_t InflateMemberPackedLeft() { return gPackedLeft; }

bool InflateMemberEnded() { return gEnded; }
