// Arbitrary bytes as a shrunk, reduced or imploded member. The first byte chooses the method
// (low three bits, 1 to 6), the explode flags (bits 3 and 4) and the refill size (high bits);
// the decoders must never crash, hang or read or write outside their buffers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnGbls.h"
#include "archive/qrnOldMethods.h"
#include "archive/qrnStreams.h"

namespace {

class TFuzzZip : public TZipCommon {
 public:
  int32_t Piece = 1;
  int64_t Written = 0;
  int32_t ReadBlock(TStream32& Stream, int32_t Count, int32_t, bool, uint8_t* Buffer) override {
    return Stream.Read(Buffer, std::min(Count, Piece));
  }
  int32_t WriteDecrypted(TStream32*, uint8_t*, int32_t, int32_t Count, int32_t, bool) override {
    Written += Count;
    return Count;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 1 || Size > (1u << 20)) return 0;
  const uint8_t head = Data[0];
  TFuzzZip zip;
  zip.Piece = 1 + (head >> 5) * 997;
  TMemoryStream32 in;
  if (Size > 1) in.Write(Data + 1, static_cast<int32_t>(Size - 1));
  in.SetPosition(0);
  TOldMember m;
  m.Method = static_cast<uint16_t>(1 + (head & 7) % 6);
  m.Flags = static_cast<uint16_t>((head >> 2) & 0x06);
  m.PackedSize = static_cast<int64_t>(Size - 1);
  m.UnpackedSize = 1 << 22;
  try {
    DecodeOldMember(zip, in, nullptr, m);
  } catch (const E_RAISE&) {
  }
  return 0;
}
