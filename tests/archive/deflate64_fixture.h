#pragma once
// A component that feeds InflateMember from a stream in pieces of a chosen size and collects
// what it writes, plus a small LSB-first bit writer with a canonical Huffman encoder for
// hand-built Deflate64 streams.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnGzInflate.h"
#include "archive/qrnStreams.h"

namespace d64 {

class TCollector : public TZipCommon {
 public:
  std::vector<uint8_t> Out;
  uint32_t Crc = 0xFFFFFFFFu;
  int32_t Piece = 65536;        // largest read the component gives back
  int32_t RefuseAfter = -1;     // writes accepted before a refusal (-1: never refuse)
  int32_t CancelAfterWrites = -1;
  uint8_t XorKey = 0;           // stands in for the cipher: applied when the decoder asks
  int32_t Reads = 0, Writes = 0, DecipherReads = 0;
  int32_t MaxWrite = 0;

  TCollector() {
    ReadHook = [this](TStream32& s, int32_t count, int32_t, bool decipher, uint8_t* buf) {
      ++Reads;
      const int32_t n = s.Read(buf, std::min(count, Piece));
      if (decipher) {
        ++DecipherReads;
        for (int32_t i = 0; i < n; ++i) buf[i] ^= XorKey;
      }
      return n;
    };
    OutputHook = [this](TStream32*, uint8_t* buf, int32_t, int32_t count, int32_t, bool) {
      if (RefuseAfter >= 0 && Writes >= RefuseAfter) return 0;
      ++Writes;
      MaxWrite = std::max(MaxWrite, count);
      Out.insert(Out.end(), buf, buf + count);
      Crc32Update(buf, static_cast<size_t>(count), Crc);
      if (CancelAfterWrites >= 0 && Writes >= CancelAfterWrites) Canceled = true;
      return count;
    };
  }
  uint32_t FinalCrc() const { return Crc ^ 0xFFFFFFFFu; }
};

// Decodes Packed as one entry, read from memory in pieces of Piece bytes.
inline std::vector<uint8_t> Inflate(const std::vector<uint8_t>& Packed, int32_t Piece = 65536,
                                    TCollector* Use = nullptr) {
  TCollector local;
  TCollector& c = Use ? *Use : local;
  c.Piece = Piece;
  std::vector<uint8_t> copy = Packed;
  TCustomMemoryStream32 in;
  in.SetPointer(copy.data(), static_cast<int32_t>(copy.size()));
  TMemberHeader h;
  h.PackedSize = Packed.size();
  InflateMember(c, in, nullptr, h);
  return c.Out;
}

class TBitWriter {
 public:
  void Put(uint32_t Value, uint32_t Count) {
    for (uint32_t i = 0; i < Count; ++i) PutBit((Value >> i) & 1u);
  }
  // A Huffman code goes most significant bit first.
  void PutCode(uint32_t Code, uint32_t Len) {
    for (uint32_t i = Len; i-- > 0;) PutBit((Code >> i) & 1u);
  }
  void Align() {
    while (FBits != 0) PutBit(0);
  }
  void Byte(uint8_t B) {
    Align();
    Put(B, 8);
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = FOut;
    if (FBits) b.push_back(FCur);
    return b;
  }

 private:
  void PutBit(uint32_t Bit) {
    FCur = static_cast<uint8_t>(FCur | (Bit << FBits));
    if (++FBits == 8) {
      FOut.push_back(FCur);
      FCur = 0;
      FBits = 0;
    }
  }
  std::vector<uint8_t> FOut;
  uint8_t FCur = 0;
  uint32_t FBits = 0;
};

// Canonical codes for a set of lengths, as RFC 1951 assigns them.
struct TCodes {
  std::vector<uint32_t> Code;
  std::vector<uint8_t> Len;
  explicit TCodes(const std::vector<uint8_t>& Lens) : Code(Lens.size()), Len(Lens) {
    uint32_t count[17] = {}, next[17] = {};
    for (uint8_t l : Lens) ++count[l];
    count[0] = 0;
    uint32_t c = 0;
    for (int l = 1; l <= 16; ++l) {
      c = (c + count[l - 1]) << 1;
      next[l] = c;
    }
    for (size_t s = 0; s < Lens.size(); ++s)
      if (Lens[s]) Code[s] = next[Lens[s]]++;
  }
  void Emit(TBitWriter& W, uint32_t Sym) const { W.PutCode(Code[Sym], Len[Sym]); }
};

inline std::vector<uint8_t> FixedLitLens() {
  std::vector<uint8_t> l(288, 8);
  std::fill(l.begin() + 144, l.begin() + 256, 9);
  std::fill(l.begin() + 256, l.begin() + 280, 7);
  return l;
}
inline const TCodes& FixedLit() {
  static const TCodes c(FixedLitLens());
  return c;
}
inline const TCodes& FixedDist() {
  static const TCodes c(std::vector<uint8_t>(32, 5));
  return c;
}

}  // namespace d64
