#pragma once
// Shared helpers of the stream inflate tests: a driver that feeds input and output room in chunks,
// a bit writer for hand-built streams, and zlib as the peer that makes real streams.
#include "archive/qrnInflate.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace inflate_test {

using Bytes = std::vector<uint8_t>;

struct TDecodeResult {
  int32_t Code = 0;  // last result: siStreamEnd, an error, or siBufError when input ran out
  Bytes Out;
  uint64_t TotalIn = 0;
  uint64_t TotalOut = 0;
  uint32_t Check = 0;
};

// Decodes In with InChunk input bytes and OutChunk output bytes per call (0 = all at once) until
// the stream ends, fails, or no progress is possible with all input given.
inline TDecodeResult Decode(const Bytes& In, int WindowBits, size_t InChunk = 0, size_t OutChunk = 0,
                            size_t OutLimit = 64u << 20) {
  TDecodeResult res;
  TInflateStreamRec s;
  res.Code = StreamInflateInit(&s, WindowBits, StreamInflateRecSize);
  if (res.Code != siOK) return res;
  static const uint8_t empty = 0;
  size_t pos = 0;
  Bytes buf(OutChunk ? OutChunk : 1u << 16);
  for (int guard = 0; guard < 100000000; ++guard) {
    const size_t n = InChunk ? std::min(InChunk, In.size() - pos) : In.size() - pos;
    s.NextIn = n ? In.data() + pos : &empty;
    s.AvailIn = static_cast<uint32_t>(n);
    s.NextOut = buf.data();
    s.AvailOut = static_cast<uint32_t>(buf.size());
    res.Code = StreamInflate(&s, 0);
    pos += n - s.AvailIn;
    const size_t made = buf.size() - s.AvailOut;
    res.Out.insert(res.Out.end(), buf.begin(), buf.begin() + static_cast<ptrdiff_t>(made));
    if (res.Code == siStreamEnd || (res.Code < 0 && res.Code != siBufError) || res.Code == siNeedDict) break;
    if (res.Code == siBufError && pos == In.size()) break;
    if (res.Out.size() > OutLimit) break;
  }
  res.TotalIn = s.TotalIn;
  res.TotalOut = s.TotalOut;
  res.Check = s.Check;
  StreamInflateEnd(&s);
  return res;
}

// Writes bits least significant first, and Huffman codes most significant first.
class TBitWriter {
 public:
  TBitWriter& Put(uint32_t Value, uint32_t Bits) {
    for (uint32_t i = 0; i < Bits; ++i) PutBit((Value >> i) & 1);
    return *this;
  }
  TBitWriter& Code(uint32_t Code, uint32_t Len) {
    for (uint32_t i = Len; i-- > 0;) PutBit((Code >> i) & 1);
    return *this;
  }
  TBitWriter& Align() {
    while (FCount != 0) PutBit(0);
    return *this;
  }
  TBitWriter& Byte(uint8_t B) {
    Align();
    FOut.push_back(B);
    return *this;
  }
  Bytes Finish() {
    Align();
    return FOut;
  }

 private:
  void PutBit(uint32_t B) {
    if (FCount == 0) FOut.push_back(0);
    FOut.back() = static_cast<uint8_t>(FOut.back() | (B << FCount));
    FCount = (FCount + 1) & 7;
  }
  Bytes FOut;
  uint32_t FCount = 0;
};

// Canonical codes of RFC 1951 for a set of code lengths.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& Lens) {
  uint32_t count[16] = {};
  for (uint8_t l : Lens) ++count[l];
  count[0] = 0;
  uint32_t next[16] = {};
  uint32_t code = 0;
  for (int b = 1; b < 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = code;
  }
  std::vector<uint32_t> codes(Lens.size());
  for (size_t i = 0; i < Lens.size(); ++i)
    if (Lens[i]) codes[i] = next[Lens[i]]++;
  return codes;
}

inline Bytes ZlibDeflate(const Bytes& Src, int Level, int WindowBits, int MemLevel, int Strategy) {
  z_stream z{};
  if (deflateInit2(&z, Level, Z_DEFLATED, WindowBits, MemLevel, Strategy) != Z_OK) return {};
  Bytes out(deflateBound(&z, Src.size()) + 16);
  z.next_in = const_cast<Bytef*>(Src.data());
  z.avail_in = static_cast<uInt>(Src.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

inline Bytes Str(const std::string& S) { return Bytes(S.begin(), S.end()); }

}  // namespace inflate_test
