#include "archive/qrnInflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

// Format notes (RFC 1951): bits are packed from the least significant bit of each byte; Huffman
// codes are sent most significant bit first, so the tables below are indexed by bit-reversed codes.
// A block starts with 3 header bits; stored blocks restart at a byte boundary with LEN and its
// one's complement NLEN; matches reach at most 32768 bytes back and copy 3..258 bytes.

namespace {

// --- Decoding tables ---------------------------------------------------------------------------

// A table entry. Op: 0 literal (Base is the byte); 16 + e a length or distance base with e extra
// bits; 96 end of block; 192 invalid code; 1..15 a sub-table of that many index bits at Base
// entries from the start of the root table. Bits: bits this entry consumes (in a sub-table, the
// bits past the root).
struct THuft {
  uint8_t Op;
  uint8_t Bits;
  uint32_t Base;
};

constexpr uint8_t kOpLiteral = 0;
constexpr uint8_t kOpBase = 16;
constexpr uint8_t kOpEnd = 96;
constexpr uint8_t kOpInvalid = 192;

inline bool IsSubTable(uint8_t Op) { return Op != kOpLiteral && Op < kOpBase; }
inline bool IsBase(uint8_t Op) { return Op >= kOpBase && Op < kOpBase + 16; }

constexpr uint16_t kLengthBase[31] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27, 31,
                                      35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
constexpr uint16_t kDistBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Lookup widths. Only complete codes (and the lone one-bit code) are built, into two-level tables
// whose sub-tables are as wide as their longest code. The known worst cases for such tables are 852
// entries for 286 literal/length symbols at width 9 and 402 for 32 distance symbols at width 8, so
// both fit the 1440-entry area together. Roots of 9 and 8 bits resolve most codes in one lookup:
// roots of 7 and 6 fit the area just as well (660 + 592 entries) but decode binary data up to a
// fifth slower (bench/inflate_bench), so the wider roots are kept.
constexpr uint32_t kLitBits = 9;
constexpr uint32_t kDistBits = 8;
constexpr uint32_t kCodeLenBits = 7;
constexpr uint32_t kFixedLitBits = 9;
constexpr uint32_t kFixedDistBits = 5;
constexpr uint32_t kAreaEntries = 1440;
constexpr uint32_t kFixedEntries = 544;  // 512 literal/length entries at width 9, 32 distance entries

enum TTableKind : uint8_t { tkCodeLengths, tkLitLen, tkDist };

THuft EntryFor(TTableKind Kind, uint32_t Sym, uint32_t Len) {
  const uint8_t bits = static_cast<uint8_t>(Len);
  switch (Kind) {
    case tkCodeLengths:
      return {kOpLiteral, bits, Sym};
    case tkLitLen:
      if (Sym < 256) return {kOpLiteral, bits, Sym};
      if (Sym == 256) return {kOpEnd, bits, 0};
      if (kLengthExtra[Sym - 257] == 99) return {kOpInvalid, bits, 0};
      return {static_cast<uint8_t>(kOpBase + kLengthExtra[Sym - 257]), bits, kLengthBase[Sym - 257]};
    case tkDist:
      if (Sym >= 30) return {kOpInvalid, bits, 0};
      return {static_cast<uint8_t>(kOpBase + kDistExtra[Sym]), bits, kDistBase[Sym]};
  }
  return {kOpInvalid, bits, 0};
}

uint32_t ReverseBits(uint32_t Code, uint32_t Len) {
  uint32_t r = 0;
  for (uint32_t i = 0; i < Len; ++i) {
    r = (r << 1) | (Code & 1);
    Code >>= 1;
  }
  return r;
}

// Builds the canonical Huffman table for Lens[0..N) (each 0..15) into Area from Used on, at most
// up to Limit entries. Bits: in, the wanted lookup width; out, the root width, raised to the
// shortest and lowered to the longest code, 0 when no code is present (the table then holds two
// invalid entries). The code set is checked before anything is built: -3 over-subscribed, -5
// incomplete (a lone code of length 1 is accepted, its missing twin decoding as invalid), -4 when
// the tables would pass Limit. 0 otherwise.
int32_t BuildTable(const uint8_t* Lens, uint32_t N, TTableKind Kind, uint32_t& Bits, const THuft*& Table,
                   THuft* Area, uint32_t& Used, uint32_t Limit) {
  uint16_t count[16] = {};
  for (uint32_t i = 0; i < N; ++i) ++count[Lens[i]];
  count[0] = 0;
  uint32_t maxLen = 15;
  while (maxLen > 0 && count[maxLen] == 0) --maxLen;
  if (maxLen == 0) {
    if (Used + 2 > Limit) return siMemError;
    THuft* t = Area + Used;
    t[0] = t[1] = {kOpInvalid, 1, 0};
    Table = t;
    Used += 2;
    Bits = 0;
    return siOK;
  }
  uint32_t minLen = 1;
  while (count[minLen] == 0) ++minLen;
  int32_t left = 1;
  for (uint32_t len = 1; len <= 15; ++len) {
    left = (left << 1) - count[len];
    if (left < 0) return siDataError;
  }
  // The root table is sized before the set is judged complete: lengths whose root alone passes
  // the area (codes of 11 bits and more only) fail as the area's -4. A complete set never does.
  const uint32_t root = std::clamp(Bits, minLen, maxLen);
  const uint32_t rootSize = 1u << root;
  if (Used + rootSize > Limit) return siMemError;
  if (left > 0 && maxLen != 1) return siBufError;

  uint16_t offs[16];
  offs[1] = 0;
  for (uint32_t len = 1; len < 15; ++len) offs[len + 1] = static_cast<uint16_t>(offs[len] + count[len]);
  uint16_t sorted[288];
  for (uint32_t i = 0; i < N; ++i)
    if (Lens[i] != 0) sorted[offs[Lens[i]]++] = static_cast<uint16_t>(i);
  const uint32_t codes = offs[15];

  THuft* t = Area + Used;
  uint32_t next = Used + rootSize;
  if (left > 0)
    for (uint32_t i = 0; i < rootSize; ++i) t[i] = {kOpInvalid, 1, 0};

  uint16_t remain[16];
  std::memcpy(remain, count, sizeof(remain));
  uint32_t code = 0;
  uint32_t codeLen = minLen;
  uint32_t subPrefix = ~0u;
  THuft* sub = nullptr;
  uint32_t subBits = 0;
  for (uint32_t i = 0; i < codes; ++i) {
    const uint32_t sym = sorted[i];
    const uint32_t len = Lens[sym];
    code <<= (len - codeLen);
    codeLen = len;
    const uint32_t rev = ReverseBits(code, len);
    ++code;
    THuft e = EntryFor(Kind, sym, len);
    if (len <= root) {
      for (uint32_t idx = rev; idx < rootSize; idx += 1u << len) t[idx] = e;
    } else {
      const uint32_t prefix = rev & (rootSize - 1);
      if (prefix != subPrefix) {
        // Canonical order puts the codes under one prefix together and shortest first, so the
        // sub-table is as wide as the longest code still to place that fits under it.
        uint32_t w = len - root;
        int32_t fill = 1 << w;
        while (w + root < maxLen) {
          fill -= remain[w + root];
          if (fill <= 0) break;
          ++w;
          fill <<= 1;
        }
        if (next + (1u << w) > Limit) return siMemError;
        t[prefix] = {static_cast<uint8_t>(w), static_cast<uint8_t>(root), next - Used};
        sub = Area + next;
        next += 1u << w;
        subPrefix = prefix;
        subBits = w;
      }
      e.Bits = static_cast<uint8_t>(len - root);
      for (uint32_t idx = rev >> root; idx < (1u << subBits); idx += 1u << (len - root)) sub[idx] = e;
    }
    --remain[len];
  }
  Table = t;
  Used = next;
  Bits = root;
  return siOK;
}

// The fixed code of block type 1, built once per process on first use and never freed.
struct TFixedTables {
  THuft Area[kFixedEntries];
  const THuft* Lit = nullptr;
  const THuft* Dist = nullptr;
  uint32_t LitBits = kFixedLitBits;
  uint32_t DistBits = kFixedDistBits;
};

bool BuildFixed(TFixedTables& F) {
  uint8_t lens[288];
  std::fill(lens, lens + 144, 8);
  std::fill(lens + 144, lens + 256, 9);
  std::fill(lens + 256, lens + 280, 7);
  std::fill(lens + 280, lens + 288, 8);
  uint32_t used = 0;
  BuildTable(lens, 288, tkLitLen, F.LitBits, F.Lit, F.Area, used, kFixedEntries);
  // All 32 five-bit codes exist; 30 and 31 decode as invalid rather than as holes.
  std::fill(lens, lens + 32, 5);
  BuildTable(lens, 32, tkDist, F.DistBits, F.Dist, F.Area, used, kFixedEntries);
  return true;
}

const TFixedTables& FixedTables() {
  static TFixedTables tables;
  static const bool built = BuildFixed(tables);
  (void)built;
  return tables;
}

// --- States ------------------------------------------------------------------------------------

// Wrapper modes. Raw streams start at imBlocks and go to imDone at its end.
//   imMethod -> imFlag -> imBlocks -> imCheck4 -> imCheck3 -> imCheck2 -> imCheck1 -> imDone
//                  \-> imDict4 -> imDict3 -> imDict2 -> imDict1 -> imDict0 -> imBad
// Any mode may go to imBad on damaged data; imDone and imBad are final.
enum TInflateMode : uint8_t {
  imMethod,  // waiting for the method byte
  imFlag,    // waiting for the flag byte
  imDict4,   // four dictionary identifier bytes to go, most significant first
  imDict3,   // three to go
  imDict2,   // two to go
  imDict1,   // one to go
  imDict0,   // identifier returned with siNeedDict; no dictionary can be supplied
  imBlocks,  // decoding blocks
  imCheck4,  // four Adler-32 bytes to go, most significant first
  imCheck3,  // three to go
  imCheck2,  // two to go
  imCheck1,  // one to go
  imDone,    // finished; siStreamEnd on every call
  imBad      // damaged data; siDataError on every call
};

// Block modes.
//   bmType -> bmLens -> bmStored -> bmType or bmDry      (stored block; length 0 skips bmStored)
//   bmType -> bmCodes -> bmType or bmDry                 (fixed block)
//   bmType -> bmTable -> bmBTree -> bmDTree -> bmCodes   (dynamic block)
//   bmDry -> bmDone; damaged data goes to bmBad from any mode.
enum TBlockMode : uint8_t {
  bmType,    // waiting for the 3 header bits of a block
  bmLens,    // waiting for LEN and NLEN of a stored block
  bmStored,  // copying stored bytes, Left to go
  bmTable,   // waiting for HLIT, HDIST and HCLEN
  bmBTree,   // reading the code-length code lengths, Index of them so far
  bmDTree,   // decoding the literal/length and distance code lengths, Index of them so far
  bmCodes,   // decoding symbols through the codes state
  bmDry,     // last block decoded, delivering what the window still holds
  bmDone,    // all delivered
  bmBad      // damaged data
};

// Codes modes, within one fixed or dynamic block.
//   cmStart -> cmLen -> cmLit -> cmStart
//                   \-> cmLenExt -> cmDist -> cmDistExt -> cmCopy -> cmStart
//                   \-> cmWash -> cmEnd
// cmStart runs the fast loop when its margins hold; cmBadCode is final for the stream.
enum TCodesMode : uint8_t {
  cmStart,    // about to decode a symbol
  cmLen,      // decoding a literal/length code
  cmLenExt,   // waiting for Need extra length bits
  cmDist,     // decoding a distance code
  cmDistExt,  // waiting for Need extra distance bits
  cmCopy,     // copying Len bytes from Dist back
  cmLit,      // waiting for window room for the literal Lit
  cmWash,     // end of block code seen; flushing
  cmEnd,      // block finished
  cmBadCode   // invalid code or distance
};

struct TCodesState {
  TCodesMode Mode;
  uint32_t Len;
  uint32_t Dist;
  uint32_t Need;
  uint8_t Lit;
  uint32_t LBits;  // table widths, at least 1 (an empty table has two entries)
  uint32_t DBits;
  const THuft* LTable;
  const THuft* DTable;
};

// A window of WSize = 2^bits bytes of history. The ring holds kCopySlack bytes more, so the word
// stores that the fast loop makes past a match never overwrite a byte that a distance of at most
// WSize can still reach; a further kCopySlack bytes after End take the word loads past the end.
constexpr uint32_t kCopySlack = 16;
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kFastOut = kMaxMatch + kCopySlack;  // window room the fast loop needs
constexpr uint32_t kFastIn = 8;                        // input bytes for one 64-bit load

struct TBlocksState {
  TBlockMode Mode;
  uint32_t Left;   // stored bytes left
  uint32_t Table;  // HLIT | HDIST << 5 | HCLEN << 10
  uint32_t Index;
  uint32_t BBits;
  const THuft* BTable;
  bool Last;
  // Bit buffer, least significant bit first. Between symbols it holds fewer than 8 bits; bits
  // above Count are zero.
  uint64_t BitBuf;
  uint32_t BitCount;
  THuft* Area;  // kAreaEntries
  uint8_t* Window;
  uint8_t* End;    // Window + ring size
  uint8_t* Read;   // next byte to deliver
  uint8_t* Write;  // next byte to decode into
  // How many bytes from the window's start may hold data since the window was last cleared.
  uint32_t Dirty;
  uint32_t WSize;
  bool HasCheck;  // Adler-32 of the output, wrapped mode only
  uint32_t CheckValue;
  TCodesState Codes;
  uint8_t Lens[258 + 29 + 29];  // code lengths of the dynamic block being read
};

}  // namespace

struct TInflateState {
  TInflateMode Mode;
  uint8_t Method;
  uint32_t Computed;
  uint32_t Expected;
  uint32_t Marker;  // in imBad: 0 damaged blocks, 5 bad check value
  bool Raw;
  uint32_t WBits;
  TBlocksState* Blocks;
};

namespace {


void* DefaultAlloc(void*, uint32_t Items, uint32_t Size) { return std::calloc(Items, Size); }
void DefaultFree(void*, void* Address) { std::free(Address); }

uint32_t RingSize(const TBlocksState* S) { return static_cast<uint32_t>(S->End - S->Window); }

// Contiguous window room at the write pointer; one byte stays free so that Read == Write means empty.
uint32_t Room(const TBlocksState* S) {
  return static_cast<uint32_t>(S->Write < S->Read ? S->Read - S->Write - 1 : S->End - S->Write);
}

// Input side of a call: the input pointer and count in locals, plus whether anything moved.
struct TCursor {
  const uint8_t* In;
  uint32_t Avail;
  uint64_t Bits;
  uint32_t Count;
  bool Progress;

  bool Pull() {
    if (Avail == 0) return false;
    Bits |= static_cast<uint64_t>(*In++) << Count;
    Count += 8;
    --Avail;
    Progress = true;
    return true;
  }
  bool Need(uint32_t N) {
    while (Count < N)
      if (!Pull()) return false;
    return true;
  }
  uint32_t Take(uint32_t N) {
    const uint32_t v = static_cast<uint32_t>(Bits & ((uint64_t{1} << N) - 1));
    Drop(N);
    return v;
  }
  void Drop(uint32_t N) {
    Bits >>= N;
    Count -= N;
  }
};

// Looks up the next code with the bits at hand, zero beyond them, pulling a byte only when the
// code found is longer than the bits held, so a stream's final code may end the input. Nothing is
// dropped; Len is the code's length.
bool PeekCode(TCursor& C, const THuft* T, uint32_t TBits, THuft& Out, uint32_t& Len) {
  const uint64_t mask = (uint64_t{1} << TBits) - 1;
  for (;;) {
    const THuft e = T[C.Bits & mask];
    if (IsSubTable(e.Op)) {
      if (e.Bits <= C.Count) {
        const THuft s = T[e.Base + ((C.Bits >> e.Bits) & ((uint64_t{1} << e.Op) - 1))];
        if (e.Bits + s.Bits <= C.Count) {
          Out = s;
          Len = e.Bits + s.Bits;
          return true;
        }
      }
    } else if (e.Bits <= C.Count) {
      Out = e;
      Len = e.Bits;
      return true;
    }
    if (!C.Pull()) return false;
  }
}

// The whole ring (and the slack after it) may hold data once the write pointer went round.
void WrapWrite(TBlocksState* S) {
  S->Write = S->Window;
  S->Dirty = RingSize(S) + kCopySlack;
}

// Copies window bytes from Read towards Write into the caller's output. Delivering at least one
// byte counts as progress.
void Flush(TBlocksState* S, TInflateStreamRec* Z, bool& Progress) {
  for (int pass = 0; pass < 2; ++pass) {
    uint8_t* upto = S->Read <= S->Write ? S->Write : S->End;
    uint32_t n = std::min(static_cast<uint32_t>(upto - S->Read), Z->AvailOut);
    if (n > 0) {
      std::memcpy(Z->NextOut, S->Read, n);
      if (S->HasCheck) Z->Check = S->CheckValue = static_cast<uint32_t>(adler32(S->CheckValue, S->Read, n));
      Z->NextOut += n;
      Z->AvailOut -= n;
      Z->TotalOut += n;
      S->Read += n;
      Progress = true;
    }
    if (S->Read != S->End) break;
    S->Read = S->Window;
    if (S->Write == S->End) WrapWrite(S);
  }
}

// Makes window room at the write pointer: wraps it to the start when the ring's end is reached and
// the start is free, else delivers output. False when no room can be made in this call.
bool MakeRoom(TBlocksState* S, TInflateStreamRec* Z, bool& Progress) {
  if (Room(S) > 0) return true;
  if (S->Write == S->End && S->Read != S->Window) {
    WrapWrite(S);
    if (Room(S) > 0) return true;
  }
  Flush(S, Z, Progress);
  if (S->Write == S->End && S->Read != S->Window) WrapWrite(S);
  return Room(S) > 0;
}

inline uint64_t Load64(const uint8_t* P) {
  uint64_t v;
  std::memcpy(&v, P, 8);
  if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) v = __builtin_bswap64(v);
  return v;
}

inline void Copy8(uint8_t* D, const uint8_t* S) { std::memcpy(D, S, 8); }

// Copies a match of Len bytes from Dist back (Dist at most the window size). The destination has
// kCopySlack bytes of room past the match, which the word copies may overwrite.
inline uint8_t* CopyMatch(uint8_t* Q, uint32_t Len, uint32_t Dist, uint8_t* Win, uint8_t* End) {
  const uint8_t* src;
  if (Dist <= static_cast<uint32_t>(Q - Win)) {
    src = Q - Dist;
  } else {
    // The source lies in the ring's tail, at least kCopySlack bytes ahead of Q, so plain forward
    // word copies are safe; the part up to End goes first, the rest from the ring's start.
    src = Q - Dist + (End - Win);
    const uint32_t part = static_cast<uint32_t>(End - src);
    uint8_t* stop = Q + std::min(part, Len);
    uint8_t* d = Q;
    do {
      Copy8(d, src);
      d += 8;
      src += 8;
    } while (d < stop);
    if (part >= Len) return stop;
    Q = stop;
    Len -= part;
    src = Win;
  }
  uint8_t* stop = Q + Len;
  if (Dist >= 8) {
    do {
      Copy8(Q, src);
      Q += 8;
      src += 8;
    } while (Q < stop);
  } else if (Dist == 1) {
    std::memset(Q, *src, Len);
  } else {
    do {
      *Q++ = *src++;
    } while (Q < stop);
  }
  return stop;
}

enum TFastExit : uint8_t { feMargin, feEnd, feBad };

// The fast loop: runs while kFastIn input bytes and kFastOut bytes of contiguous window room remain,
// with a 64-bit bit buffer and no per-symbol bounds checks. One refill leaves at least 56 bits,
// enough for the longest length code with its extra bits and the longest distance code with its
// extra bits (15 + 5 + 15 + 13 = 48). On leaving, whole unused bytes that it loaded go back to the
// input, so the bit buffer holds fewer than 8 bits again.
TFastExit FastLoop(TBlocksState* S, TCodesState* CS, TCursor& C) {
  const uint8_t* in = C.In;
  const uint8_t* const inStart = C.In;
  const uint8_t* const inEnd = C.In + C.Avail;
  uint64_t bits = C.Bits;
  uint32_t count = C.Count;
  uint8_t* q = S->Write;
  uint8_t* const limit = S->Write < S->Read ? S->Read - 1 : S->End;
  uint8_t* const win = S->Window;
  uint8_t* const end = S->End;
  const uint32_t wsize = S->WSize;
  const THuft* const lt = CS->LTable;
  const THuft* const dt = CS->DTable;
  const uint64_t lmask = (uint64_t{1} << CS->LBits) - 1;
  const uint64_t dmask = (uint64_t{1} << CS->DBits) - 1;
  TFastExit exit = feMargin;

  while (inEnd - in >= static_cast<ptrdiff_t>(kFastIn) && limit - q >= static_cast<ptrdiff_t>(kFastOut)) {
    bits |= Load64(in) << count;
    in += (63 - count) >> 3;
    count |= 56;

    THuft e = lt[bits & lmask];
    if (IsSubTable(e.Op)) {
      bits >>= e.Bits;
      count -= e.Bits;
      e = lt[e.Base + (bits & ((uint64_t{1} << e.Op) - 1))];
    }
    bits >>= e.Bits;
    count -= e.Bits;
    if (e.Op == kOpLiteral) {
      *q++ = static_cast<uint8_t>(e.Base);
      // A second literal fits in the bits left (at least 41).
      e = lt[bits & lmask];
      if (e.Op == kOpLiteral) {
        bits >>= e.Bits;
        count -= e.Bits;
        *q++ = static_cast<uint8_t>(e.Base);
      }
      continue;
    }
    if (!IsBase(e.Op)) {
      exit = e.Op == kOpEnd ? feEnd : feBad;
      break;
    }
    uint32_t extra = e.Op - kOpBase;
    const uint32_t len = e.Base + static_cast<uint32_t>(bits & ((uint64_t{1} << extra) - 1));
    bits >>= extra;
    count -= extra;

    e = dt[bits & dmask];
    if (IsSubTable(e.Op)) {
      bits >>= e.Bits;
      count -= e.Bits;
      e = dt[e.Base + (bits & ((uint64_t{1} << e.Op) - 1))];
    }
    bits >>= e.Bits;
    count -= e.Bits;
    if (!IsBase(e.Op)) {
      exit = feBad;
      break;
    }
    extra = e.Op - kOpBase;
    const uint32_t dist = e.Base + static_cast<uint32_t>(bits & ((uint64_t{1} << extra) - 1));
    bits >>= extra;
    count -= extra;
    if (dist > wsize) {
      exit = feBad;
      break;
    }
    q = CopyMatch(q, len, dist, win, end);
  }

  const uint32_t back = std::min(count >> 3, static_cast<uint32_t>(in - inStart));
  in -= back;
  count -= back * 8;
  bits &= (uint64_t{1} << count) - 1;
  C.Progress = C.Progress || in != inStart;
  C.Avail -= static_cast<uint32_t>(in - C.In);
  C.In = in;
  C.Bits = bits;
  C.Count = count;
  S->Write = q;
  return exit;
}

// Runs the codes state machine of the current block. siStreamEnd means the block has ended.
int32_t InflateCodes(TBlocksState* S, TInflateStreamRec* Z, TCursor& C) {
  TCodesState* cs = &S->Codes;
  for (;;) {
    switch (cs->Mode) {
      case cmStart:
        if (C.Avail >= kFastIn && Room(S) >= kFastOut) {
          const TFastExit x = FastLoop(S, cs, C);
          if (x == feEnd) {
            cs->Mode = cmWash;
            break;
          }
          if (x == feBad) {
            cs->Mode = cmBadCode;
            break;
          }
        }
        cs->Mode = cmLen;
        [[fallthrough]];
      case cmLen: {
        THuft e;
        uint32_t len;
        if (!PeekCode(C, cs->LTable, cs->LBits, e, len)) return siOK;
        C.Drop(len);
        if (e.Op == kOpLiteral) {
          cs->Lit = static_cast<uint8_t>(e.Base);
          cs->Mode = cmLit;
        } else if (IsBase(e.Op)) {
          cs->Len = e.Base;
          cs->Need = e.Op - kOpBase;
          cs->Mode = cmLenExt;
        } else if (e.Op == kOpEnd) {
          cs->Mode = cmWash;
        } else {
          cs->Mode = cmBadCode;
        }
        break;
      }
      case cmLenExt:
        if (!C.Need(cs->Need)) return siOK;
        cs->Len += C.Take(cs->Need);
        cs->Mode = cmDist;
        [[fallthrough]];
      case cmDist: {
        THuft e;
        uint32_t len;
        if (!PeekCode(C, cs->DTable, cs->DBits, e, len)) return siOK;
        C.Drop(len);
        if (!IsBase(e.Op)) {
          cs->Mode = cmBadCode;
          break;
        }
        cs->Dist = e.Base;
        cs->Need = e.Op - kOpBase;
        cs->Mode = cmDistExt;
        [[fallthrough]];
      }
      case cmDistExt:
        if (!C.Need(cs->Need)) return siOK;
        cs->Dist += C.Take(cs->Need);
        // A distance past the window cannot be served; one past the data decoded so far reads the
        // zeros that the window starts with.
        if (cs->Dist > S->WSize) {
          cs->Mode = cmBadCode;
          break;
        }
        cs->Mode = cmCopy;
        [[fallthrough]];
      case cmCopy: {
        const uint32_t ring = RingSize(S);
        while (cs->Len > 0) {
          if (!MakeRoom(S, Z, C.Progress)) return siOK;
          uint8_t* q = S->Write;
          uint32_t back = cs->Dist;
          const uint8_t* src = back <= static_cast<uint32_t>(q - S->Window) ? q - back : q - back + ring;
          uint32_t n = std::min(cs->Len, Room(S));
          cs->Len -= n;
          while (n-- > 0) {
            *q++ = *src++;
            if (src == S->End) src = S->Window;
          }
          S->Write = q;
        }
        cs->Mode = cmStart;
        break;
      }
      case cmLit:
        if (!MakeRoom(S, Z, C.Progress)) return siOK;
        *S->Write++ = cs->Lit;
        cs->Mode = cmStart;
        break;
      case cmWash:
        Flush(S, Z, C.Progress);
        cs->Mode = cmEnd;
        [[fallthrough]];
      case cmEnd:
        return siStreamEnd;
      case cmBadCode:
        return siDataError;
    }
  }
}

void ResetBlocks(TBlocksState* S, TInflateStreamRec* Z, uint32_t* Check) {
  if (Check != nullptr) *Check = S->CheckValue;
  // The fast loop's word stores may reach kCopySlack bytes past the write pointer.
  const uint32_t reached = static_cast<uint32_t>(S->Write - S->Window) + kCopySlack;
  S->Dirty = std::min(std::max(S->Dirty, reached), RingSize(S) + kCopySlack);
  S->Mode = bmType;
  S->BitBuf = 0;
  S->BitCount = 0;
  S->Read = S->Write = S->Window;
  if (S->HasCheck) Z->Check = S->CheckValue = static_cast<uint32_t>(adler32(0, nullptr, 0));
}

// Runs the block state machine. siOK: more input or output room needed; siStreamEnd: all blocks
// decoded and delivered; or an error.
int32_t InflateBlocks(TBlocksState* S, TInflateStreamRec* Z, bool& Progress) {
  TCursor c{Z->NextIn, Z->AvailIn, S->BitBuf, S->BitCount, false};
  int32_t r = siOK;
  bool leave = false;
  while (!leave) {
    switch (S->Mode) {
      case bmType: {
        if (!c.Need(3)) {
          leave = true;
          break;
        }
        const uint32_t t = c.Take(3);
        S->Last = (t & 1) != 0;
        switch (t >> 1) {
          case 0:
            c.Drop(c.Count & 7);
            S->Mode = bmLens;
            break;
          case 1: {
            const TFixedTables& f = FixedTables();
            S->Codes = {cmStart, 0, 0, 0, 0, f.LitBits, f.DistBits, f.Lit, f.Dist};
            S->Mode = bmCodes;
            break;
          }
          case 2:
            S->Mode = bmTable;
            break;
          default:
            S->Mode = bmBad;
            break;
        }
        break;
      }
      case bmLens: {
        if (!c.Need(32)) {
          leave = true;
          break;
        }
        const uint32_t t = c.Take(32);
        if (((~t >> 16) & 0xffff) != (t & 0xffff)) {
          S->Mode = bmBad;
          break;
        }
        S->Left = t & 0xffff;
        S->Mode = S->Left != 0 ? bmStored : (S->Last ? bmDry : bmType);
        break;
      }
      case bmStored: {
        // The bit buffer is empty here: the length words ended on a byte boundary.
        if (c.Avail == 0 || !MakeRoom(S, Z, c.Progress)) {
          leave = true;
          break;
        }
        const uint32_t n = std::min({S->Left, c.Avail, Room(S)});
        std::memcpy(S->Write, c.In, n);
        S->Write += n;
        c.In += n;
        c.Avail -= n;
        c.Progress = true;
        S->Left -= n;
        if (S->Left == 0) S->Mode = S->Last ? bmDry : bmType;
        break;
      }
      case bmTable: {
        if (!c.Need(14)) {
          leave = true;
          break;
        }
        const uint32_t t = c.Take(14);
        if ((t & 31) > 29 || ((t >> 5) & 31) > 29) {
          S->Mode = bmBad;
          break;
        }
        S->Table = t;
        S->Index = 0;
        S->Mode = bmBTree;
        break;
      }
      case bmBTree: {
        const uint32_t have = 4 + (S->Table >> 10);
        while (S->Index < have && c.Need(3)) S->Lens[kCodeLengthOrder[S->Index++]] = static_cast<uint8_t>(c.Take(3));
        if (S->Index < have) {
          leave = true;
          break;
        }
        while (S->Index < 19) S->Lens[kCodeLengthOrder[S->Index++]] = 0;
        S->BBits = kCodeLenBits;
        uint32_t used = 0;
        const int32_t t = BuildTable(S->Lens, 19, tkCodeLengths, S->BBits, S->BTable, S->Area, used, kAreaEntries);
        if (t == siMemError) {
          r = t;
          leave = true;
          break;
        }
        // A lone one-bit code can never describe a usable block, so here it is damage too.
        if (t != siOK || S->BBits == 0 || (S->BBits == 1 && S->BTable[1].Op == kOpInvalid)) {
          S->Mode = bmBad;
          break;
        }
        S->Index = 0;
        S->Mode = bmDTree;
        break;
      }
      case bmDTree: {
        const uint32_t nlit = 257 + (S->Table & 31);
        const uint32_t ndist = 1 + ((S->Table >> 5) & 31);
        const uint32_t total = nlit + ndist;
        bool bad = false;
        while (S->Index < total) {
          THuft e;
          uint32_t len;
          if (!PeekCode(c, S->BTable, S->BBits, e, len)) break;
          const uint32_t sym = e.Base;
          if (sym < 16) {
            c.Drop(len);
            S->Lens[S->Index++] = static_cast<uint8_t>(sym);
            continue;
          }
          const uint32_t extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
          if (!c.Need(len + extra)) break;
          c.Drop(len);
          const uint32_t reps = (sym == 18 ? 11 : 3) + c.Take(extra);
          if ((sym == 16 && S->Index == 0) || S->Index + reps > total) {
            bad = true;
            break;
          }
          const uint8_t value = sym == 16 ? S->Lens[S->Index - 1] : 0;
          std::memset(S->Lens + S->Index, value, reps);
          S->Index += reps;
        }
        if (bad) {
          S->Mode = bmBad;
          break;
        }
        if (S->Index < total) {
          leave = true;
          break;
        }
        // Without an end-of-block code the block could never end.
        if (S->Lens[256] == 0) {
          S->Mode = bmBad;
          break;
        }
        uint32_t used = 0;
        uint32_t lbits = kLitBits;
        uint32_t dbits = kDistBits;
        const THuft* lt = nullptr;
        const THuft* dt = nullptr;
        int32_t t = BuildTable(S->Lens, nlit, tkLitLen, lbits, lt, S->Area, used, kAreaEntries);
        if (t == siMemError) {
          r = t;
          leave = true;
          break;
        }
        if (t != siOK || lbits == 0) {
          S->Mode = bmBad;
          break;
        }
        t = BuildTable(S->Lens + nlit, ndist, tkDist, dbits, dt, S->Area, used, kAreaEntries);
        if (t == siMemError) {
          r = t;
          leave = true;
          break;
        }
        if (t != siOK || (dbits == 0 && nlit > 257)) {
          S->Mode = bmBad;
          break;
        }
        S->Codes = {cmStart, 0, 0, 0, 0, lbits, std::max(dbits, 1u), lt, dt};
        S->Mode = bmCodes;
        break;
      }
      case bmCodes: {
        const int32_t t = InflateCodes(S, Z, c);
        if (t == siDataError) {
          S->Mode = bmBad;
          break;
        }
        if (t != siStreamEnd) {
          leave = true;
          break;
        }
        S->Mode = S->Last ? bmDry : bmType;
        break;
      }
      case bmDry:
        Flush(S, Z, c.Progress);
        if (S->Read != S->Write) {
          leave = true;
          break;
        }
        S->Mode = bmDone;
        [[fallthrough]];
      case bmDone:
        r = siStreamEnd;
        leave = true;
        break;
      case bmBad:
        r = siDataError;
        leave = true;
        break;
    }
  }
  if (r == siStreamEnd) {
    // The final block ends inside its last byte; those bits are padding, and whole bytes read
    // ahead in this call (a wrapper's check value follows) go back to the input.
    const uint32_t back = std::min(c.Count >> 3, Z->AvailIn - c.Avail);
    c.In -= back;
    c.Avail += back;
    c.Bits = 0;
    c.Count = 0;
  }
  // Every return delivers what the window holds, as far as the output room allows; so does the
  // return for damaged data, which passes on what was decoded before the damage.
  Flush(S, Z, c.Progress);
  S->BitBuf = c.Bits;
  S->BitCount = c.Count;
  const uint32_t used = Z->AvailIn - c.Avail;
  Z->NextIn = c.In;
  Z->AvailIn = c.Avail;
  Z->TotalIn += used;
  Progress = Progress || c.Progress;
  return r;
}

void Release(TInflateStreamRec* Z, void* P) {
  if (P != nullptr) Z->FreeFunc(Z->Opaque, P);
}

void FreeAll(TInflateStreamRec* Z) {
  TInflateState* st = Z->State;
  if (st == nullptr) return;
  if (TBlocksState* b = st->Blocks) {
    Release(Z, b->Window);
    Release(Z, b->Area);
    Release(Z, b);
  }
  Release(Z, st);
  Z->State = nullptr;
}

}  // namespace

int32_t StreamInflateInit(TInflateStreamRec* Strm, int32_t WindowBits, int32_t RecordSize) {
  if (RecordSize != StreamInflateRecSize) return siVersionError;
  if (Strm == nullptr) return siStreamError;
  if (Strm->AllocFunc == nullptr) {
    Strm->AllocFunc = DefaultAlloc;
  }
  if (Strm->FreeFunc == nullptr) Strm->FreeFunc = DefaultFree;
  Strm->State = nullptr;
  void* mem = Strm->AllocFunc(Strm->Opaque, 1, sizeof(TInflateState));
  if (mem == nullptr) return siMemError;
  TInflateState* st = new (mem) TInflateState{};
  Strm->State = st;
  st->Raw = WindowBits < 0;
  const int32_t bits = WindowBits < 0 ? -WindowBits : WindowBits;
  if (bits < 8 || bits > 15) {
    FreeAll(Strm);
    return siStreamError;
  }
  st->WBits = static_cast<uint32_t>(bits);
  mem = Strm->AllocFunc(Strm->Opaque, 1, sizeof(TBlocksState));
  if (mem == nullptr) {
    FreeAll(Strm);
    return siMemError;
  }
  TBlocksState* b = new (mem) TBlocksState{};
  st->Blocks = b;
  mem = Strm->AllocFunc(Strm->Opaque, kAreaEntries, sizeof(THuft));
  if (mem == nullptr) {
    FreeAll(Strm);
    return siMemError;
  }
  b->Area = static_cast<THuft*>(mem);
  b->WSize = 1u << bits;
  const uint32_t ring = b->WSize + kCopySlack;
  mem = Strm->AllocFunc(Strm->Opaque, ring + kCopySlack, 1);
  if (mem == nullptr) {
    FreeAll(Strm);
    return siMemError;
  }
  b->Window = static_cast<uint8_t*>(mem);
  b->End = b->Window + ring;
  b->Dirty = ring + kCopySlack;  // whatever the allocator left there
  b->HasCheck = !st->Raw;
  StreamInflateReset(Strm);
  return siOK;
}

int32_t StreamInflateInit2(TInflateStreamRec* Strm, int16_t WindowBits) {
  if (Strm == nullptr) return siStreamError;
  return StreamInflateInit(Strm, WindowBits, StreamInflateRecSize);
}

int32_t StreamInflateReset(TInflateStreamRec* Strm) {
  if (Strm == nullptr || Strm->State == nullptr) return siStreamError;
  TInflateState* st = Strm->State;
  Strm->TotalIn = Strm->TotalOut = 0;
  st->Mode = st->Raw ? imBlocks : imMethod;
  TBlocksState* b = st->Blocks;
  ResetBlocks(b, Strm, nullptr);
  // Distances past the start of a stream read zeros, whatever the allocator or an earlier stream
  // left in the window. Only what was written since the last clearing is cleared again: a member
  // of a few hundred bytes does not pay for a whole window.
  std::memset(b->Window, 0, b->Dirty);
  b->Dirty = 0;
  return siOK;
}

int32_t StreamInflate(TInflateStreamRec* Strm, int32_t Flush) {
  if (Strm == nullptr || Strm->State == nullptr || Strm->NextIn == nullptr) return siStreamError;
  if (Strm->NextOut == nullptr && Strm->AvailOut != 0) return siStreamError;
  TInflateState* st = Strm->State;
  bool progress = false;
  auto nextByte = [&]() {
    const uint8_t v = *Strm->NextIn++;
    --Strm->AvailIn;
    ++Strm->TotalIn;
    progress = true;
    return v;
  };
  for (;;) {
    switch (st->Mode) {
      case imMethod:
        if (Strm->AvailIn == 0) goto out;
        st->Method = nextByte();
        if ((st->Method & 15) != 8 || (st->Method >> 4) + 8u > st->WBits) {
          st->Mode = imBad;
          st->Marker = 5;
          break;
        }
        st->Mode = imFlag;
        break;
      case imFlag: {
        if (Strm->AvailIn == 0) goto out;
        const uint32_t flag = nextByte();
        if (((static_cast<uint32_t>(st->Method) << 8) + flag) % 31 != 0) {
          st->Mode = imBad;
          st->Marker = 5;
          break;
        }
        st->Mode = (flag & 32) != 0 ? imDict4 : imBlocks;
        break;
      }
      case imDict4:
      case imDict3:
      case imDict2:
      case imDict1:
        if (Strm->AvailIn == 0) goto out;
        st->Expected = (st->Mode == imDict4 ? 0 : st->Expected << 8) | nextByte();
        st->Mode = static_cast<TInflateMode>(st->Mode + 1);
        if (st->Mode == imDict0) {
          Strm->Check = st->Expected;
          return siNeedDict;
        }
        break;
      case imDict0:
        // No dictionary can be supplied to this decoder.
        st->Mode = imBad;
        st->Marker = 0;
        return siStreamError;
      case imBlocks: {
        const int32_t r = InflateBlocks(st->Blocks, Strm, progress);
        if (r == siDataError) {
          st->Mode = imBad;
          st->Marker = 0;
          break;
        }
        if (r != siStreamEnd) {
          if (r == siMemError) return r;
          goto out;
        }
        ResetBlocks(st->Blocks, Strm, &st->Computed);
        if (!st->Raw) Strm->Check = st->Computed;
        st->Mode = st->Raw ? imDone : imCheck4;
        break;
      }
      case imCheck4:
      case imCheck3:
      case imCheck2:
      case imCheck1:
        if (Strm->AvailIn == 0) goto out;
        st->Expected = (st->Mode == imCheck4 ? 0 : st->Expected << 8) | nextByte();
        if (st->Mode == imCheck1) {
          if (st->Expected != st->Computed) {
            st->Mode = imBad;
            st->Marker = 5;
            break;
          }
          st->Mode = imDone;
          break;
        }
        st->Mode = static_cast<TInflateMode>(st->Mode + 1);
        break;
      case imDone:
        return siStreamEnd;
      case imBad:
        return siDataError;
    }
  }
out:
  if (Flush == siFinish) return siBufError;
  return progress ? siOK : siBufError;
}

int32_t StreamInflateEnd(TInflateStreamRec* Strm) {
  if (Strm == nullptr || Strm->State == nullptr || Strm->FreeFunc == nullptr) return siStreamError;
  ResetBlocks(Strm->State->Blocks, Strm, nullptr);
  FreeAll(Strm);
  return siOK;
}
