// Archive-type detection. Placeholder bodies: detection of the kinds comes with the detection
// unit, which replaces this file. Until then every archive is of unknown kind.
#include "archive/qrnregister.h"

TArcType TRegisterQarno::DetectArcType(TStream32* Stream) {
  if (!Stream) return atNA;
  return atUnknown;
}

int64_t TRegisterQarno::FindZipDirectory(TStream32& /*Stream*/) {
  DirectoryFlags = 0;
  return 0;
}

void TRegisterQarno::SetVolumeNumbering() { VolumeNumber = 0; }
