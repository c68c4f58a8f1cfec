// Arbitrary bytes as raw and as zlib-wrapped Deflate, decoded through small input and output
// pieces chosen by the first byte: the decoder must never crash, hang or leak.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/qrnInflate.h"

namespace {

void Run(const uint8_t* Data, size_t Size, int WindowBits, size_t InStep, size_t OutStep) {
  TInflateStreamRec s;
  if (StreamInflateInit(&s, WindowBits, StreamInflateRecSize) != siOK) return;
  std::vector<uint8_t> out(OutStep);
  static const uint8_t empty = 0;
  size_t pos = 0;
  uint64_t total = 0;
  for (;;) {
    const size_t n = std::min(InStep, Size - pos);
    s.NextIn = n ? Data + pos : &empty;
    s.AvailIn = static_cast<uint32_t>(n);
    s.NextOut = out.data();
    s.AvailOut = static_cast<uint32_t>(out.size());
    const int32_t r = StreamInflate(&s, 0);
    pos += n - s.AvailIn;
    total += out.size() - s.AvailOut;
    if (r != siOK && !(r == siBufError && pos < Size)) break;
    if (total > (8u << 20)) break;  // a bomb is no fault, just slow
  }
  StreamInflateEnd(&s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1) return 0;
  const uint8_t mode = Data[0];
  ++Data;
  --Size;
  const int bits = 9 + (mode >> 5) % 7;
  const size_t inStep = 1 + (mode & 7) * 5;
  const size_t outStep = 1 + ((mode >> 3) & 3) * 300;
  Run(Data, Size, -bits, inStep, outStep);
  Run(Data, Size, -15, Size + 1, 1 << 16);
  Run(Data, Size, 15, inStep, outStep);
  return 0;
}
