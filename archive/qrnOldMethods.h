#pragma once
// Decoders of the three oldest zip methods: unshrink (1), unreduce (2 to 5) and explode (6).
// They pull one member's packed bytes through the component's ReadHook (deciphering an
// encrypted member) and push decoded bytes through its OutputHook with CRC-32. The decoder
// state exists once per process: one member is decoded at a time.
#include <cstdint>

class TStream32;
class TZipCommon;

// What the reader knows of the member when its data begins (after the local header and, for an
// encrypted member, after the 12-byte encryption header).
struct TOldMember {
  uint16_t Method = 0;        // 1 to 6
  uint16_t Flags = 0;         // general-purpose flags: bit 0 encrypted, bits 1 and 2 for explode
  int64_t PackedSize = 0;     // packed bytes of the data, encryption header already taken off
  int64_t UnpackedSize = 0;
};

// Clears the counters and the bit buffer and allocates the method's tables; false (nothing
// allocated) when memory runs out or the method is not one of 1 to 6.
bool OldMethodsBegin(TZipCommon& Zip, TStream32& Archive, TStream32* Output, const TOldMember& Member);
// Frees the tables; safe to call more than once.
void OldMethodsEnd();

// The decoders of the member set up by OldMethodsBegin. Errors go through Zip.RaiseError.
void Unshrink();
void Unreduce(int32_t Factor);  // 1 to 4
void Explode();
// Writes what the output buffer holds; 25136 when OutputHook refuses.
void FlushOutput();

// The whole member: begin, the method's decoder, the last flush (also after an exception, which
// then passes on), end. False when the tables could not be allocated: nothing was decoded.
bool DecodeOldMember(TZipCommon& Zip, TStream32& Archive, TStream32* Output, const TOldMember& Member);

// Decoded bytes of the member so far.
int64_t OldMethodsBytesProduced();
