#pragma once
// Deflate64 (ZIP method 9): RFC 1951 with a 65536-byte window, length code 285 taking 16 extra
// bits and distance codes 30 and 31. Pull-driven: one call decodes one entry to its end.
#include <cstdint>

#include "archive/qrnBase.h"
#include "archive/qrnStreams.h"

// What the decoder needs of the entry. PackedSize is what is left to decode: the compressed
// size less the 12-byte encryption header, which the reader has already read.
struct TMemberHeader {
  uint64_t PackedSize = 0;
  uint16_t Flags = 0;  // general-purpose flags; bit 0 makes the input deciphered on reading
  // The size the entry declares: decoding stops once it is reached, so a few packed bytes
  // cannot write without end.
  uint64_t UnpackedSize = UINT64_MAX;
};

// Reads the packed bytes through Component's ReadHook and writes the output through its
// OutputHook (CRC-32 on the way), lowering Component's BytesLeft by what it writes. Damaged or
// short data only ends the decoding: the CRC check and InflateMemberEnded afterwards tell. A refused write raises 25136,
// an allocation failure 25253, both through RaiseError. Always returns true. The window and
// buffers are process-wide: one entry at a time.
bool InflateMember(TZipCommon& Component, TStream32& Archive, TStream32* Output, const TMemberHeader& Header);

// Packed bytes that the last InflateMember did not take (read-ahead given back included).
uint64_t InflateMemberPackedLeft();
// Whether the last InflateMember reached the end of the data's last block, within the packed
// size and without going past the declared size: data that runs on is damaged even when what
// was written checks out.
bool InflateMemberEnded();
