// Archive-type detection over arbitrary bytes held in memory: it must never crash, read outside
// its buffers or loop, and always leave offsets inside the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/qrnPeRes.h"
#include "archive/qrnStreams.h"
#include "archive/qrnregister.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  TMemoryStream32 stream;
  if (size > 0) stream.Write(data, static_cast<int32_t>(size));
  TRegisterQarno root;
  const TArcType t = root.DetectArcType(&stream);
  if (t > atZoo || root.ArcOffset < 0 || root.ArchiveSize != static_cast<int64_t>(size)) std::abort();
  root.SetVolumeNumbering();

  TPeStringResources res;
  if (res.Load(stream)) {
    for (uint32_t id = 0; id < 40; ++id) (void)res.LoadString(id, 64);
  }
  return 0;
}
