#pragma once
// A test component for the older-method decoders: packed bytes come from a stream in pieces of
// a chosen size, decoded bytes are collected with their CRC-32, errors are recorded.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnCrypt.h"
#include "archive/qrnGbls.h"
#include "archive/qrnOldMethods.h"
#include "archive/qrnStreams.h"

namespace oldtest {

class TCollector : public TZipCommon {
 public:
  int32_t Piece = 32768;         // most bytes one refill hands out
  int64_t CancelAfterWrites = -1;  // sets the cancel flag after this many writes
  bool RefuseWrites = false;
  std::vector<uint8_t> Out;
  std::vector<int32_t> Errors;
  uint32_t Crc = 0xFFFFFFFFu;
  int32_t Writes = 0;

  TCollector() {
    OnError = [this](TObject*, const std::string&, const std::string&, const std::string&, int32_t Code) {
      Errors.push_back(Code);
    };
  }

  int32_t ReadBlock(TStream32& Stream, int32_t Count, int32_t, bool, uint8_t* Buffer) override {
    return Stream.Read(Buffer, std::min(Count, Piece));
  }

  int32_t WriteDecrypted(TStream32*, uint8_t* Buffer, int32_t CrcFlag, int32_t Count, int32_t CrcMode,
                         bool Decrypt) override {
    EXPECT_EQ(CrcFlag, 1);
    EXPECT_EQ(CrcMode, 32);
    EXPECT_FALSE(Decrypt);  // data is deciphered on input, before decoding
    ++Writes;
    if (CancelAfterWrites >= 0 && Writes > CancelAfterWrites) Canceled = true;
    if (RefuseWrites) return 0;
    Out.insert(Out.end(), Buffer, Buffer + Count);
    for (int32_t i = 0; i < Count; ++i) Crc = Crc32Step(Buffer[i], Crc);
    return Count;
  }

  uint32_t FinalCrc() const { return ~Crc; }
};

// Decodes Packed as one member; true when no exception left the decoder.
inline bool DecodeBytes(TCollector& Zip, const std::vector<uint8_t>& Packed, uint16_t Method, uint16_t Flags,
                        int64_t Unpacked, int64_t PackedSize = -1) {
  TMemoryStream32 in;
  if (!Packed.empty()) in.Write(Packed.data(), static_cast<int32_t>(Packed.size()));
  in.SetPosition(0);
  TOldMember m;
  m.Method = Method;
  m.Flags = Flags;
  m.PackedSize = PackedSize >= 0 ? PackedSize : static_cast<int64_t>(Packed.size());
  m.UnpackedSize = Unpacked;
  try {
    EXPECT_TRUE(DecodeOldMember(Zip, in, nullptr, m));
    return true;
  } catch (const E_RAISE&) {
    return false;
  }
}

}  // namespace oldtest
