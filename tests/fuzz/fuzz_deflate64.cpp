// Arbitrary bytes as one Deflate64 entry, read in pieces chosen by the first byte: the decoder
// must never crash, hang or touch memory outside its buffers, and the piece size must not
// change what it produces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnGzInflate.h"
#include "archive/qrnStreams.h"

namespace {

constexpr uint64_t kOutputCap = uint64_t{64} << 20;  // lengths up to 65538 blow up fast

struct TResult {
  uint64_t Size = 0;
  uint32_t Crc = 0xFFFFFFFFu;
  bool Capped = false;
};

TResult Run(const uint8_t* Data, size_t Size, int32_t Piece) {
  TZipCommon comp;
  TResult r;
  comp.ReadHook = [Piece](TStream32& s, int32_t count, int32_t, bool, uint8_t* buf) {
    return s.Read(buf, std::min(count, Piece));
  };
  comp.OutputHook = [&](TStream32*, uint8_t* buf, int32_t, int32_t count, int32_t, bool) {
    if (count <= 0 || count > 65536) std::abort();
    r.Size += static_cast<uint64_t>(count);
    Crc32Update(buf, static_cast<size_t>(count), r.Crc);
    if (r.Size > kOutputCap) {
      r.Capped = true;
      comp.Canceled = true;
    }
    return count;
  };
  std::vector<uint8_t> copy(Data, Data + Size);
  TCustomMemoryStream32 in;
  in.SetPointer(copy.data(), static_cast<int32_t>(copy.size()));
  TMemberHeader h;
  h.PackedSize = Size;
  if (!InflateMember(comp, in, nullptr, h)) std::abort();
  if (!r.Capped && InflateMemberPackedLeft() > Size) std::abort();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 16)) return 0;
  const int32_t piece = 1 + data[0] % 17;
  const TResult whole = Run(data + 1, size - 1, 65536);
  const TResult pieces = Run(data + 1, size - 1, piece);
  if (!whole.Capped && !pieces.Capped && (whole.Size != pieces.Size || whole.Crc != pieces.Crc)) std::abort();
  return 0;
}
