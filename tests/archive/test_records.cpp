// ZIP record layouts: every field at its offset (a swapped or shifted field would make archives
// that other tools reject or misread), decoders that refuse spans shorter than their record, and
// the Zip64 records and data descriptors of real archives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/qrnEndian.h"
#include "archive/qrnZipRecords.h"
#include "tests/archive/zip_fixture.h"

namespace {

template <size_t N>
std::vector<uint8_t> Vec(const std::array<uint8_t, N>& a) {
  return std::vector<uint8_t>(a.begin(), a.end());
}

std::vector<uint8_t> Hex(const std::string& text) {
  std::vector<uint8_t> out;
  std::string digits;
  for (char c : text)
    if (c != ' ') digits += c;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  return out;
}

// Every shorter prefix must be refused, and a null pointer too.
template <typename Decoder>
void ExpectShortSpansRefused(Decoder decode, const std::vector<uint8_t>& full) {
  for (size_t n = 0; n < full.size(); ++n) EXPECT_FALSE(decode(full.data(), n)) << "length " << n;
  EXPECT_FALSE(decode(nullptr, full.size()));
  EXPECT_TRUE(decode(full.data(), full.size()));
}

TEST(EndianHelpers, ReadAndWriteLittleEndianWithinBounds) {
  std::vector<uint8_t> b(8);
  PutLE16(b, 0, 0x0102);
  PutLE32(b, 2, 0x03040506u);
  EXPECT_EQ(b, Hex("0201 0605 0403 0000"));
  PutLE64(b, 0, 0x1122334455667788ull);
  EXPECT_EQ(b, Hex("8877665544332211"));
  EXPECT_EQ(GetLE16(b, 6), 0x1122);
  EXPECT_EQ(GetLE32(b, 4), 0x11223344u);
  EXPECT_EQ(GetLE64(b, 0), 0x1122334455667788ull);
  EXPECT_THROW(GetLE32(b, 5), std::out_of_range);
  EXPECT_THROW(GetLE16(b, SIZE_MAX), std::out_of_range);  // no wrap-around of offset + width
  EXPECT_THROW(PutLE64(b, 1, 0), std::out_of_range);
}

TEST(Records, LocalHeaderFieldByField) {
  TLocalHeader h;
  h.VersionNeeded = 20;
  h.Flags = 0x0003;
  h.Method = 8;
  h.DosDateTime = 0x5A2B6C3Du;
  h.Crc32 = 0xCAFEBABEu;
  h.PackedSize = 0x01020304u;
  h.UnpackedSize = 0x0A0B0C0Du;
  h.NameLength = 9;
  h.ExtraLength = 8;
  const auto bytes = Vec(h.Encode());
  EXPECT_EQ(bytes, Hex("504b0304 1400 0300 0800 3d6c2b5a bebafeca 04030201 0d0c0b0a 0900 0800"));
  auto back = TLocalHeader::Decode(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, h);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TLocalHeader::Decode(p, n).has_value(); }, bytes);
}

TEST(Records, CentralHeaderFieldByField) {
  TCentralHeader h;
  h.Signature = kCentralHeaderSignatureEnciphered;
  h.VersionMadeBy = 20;
  h.VersionNeeded = 20;
  h.Flags = 0x0001;
  h.Method = 0;
  h.DosDateTime = 0x11223344u;
  h.Crc32 = 0x55667788u;
  h.PackedSize = 0x99AABBCCu;
  h.UnpackedSize = 0xDDEEFF00u;
  h.NameLength = 0x0102;
  h.ExtraLength = 10;
  h.CommentLength = 0x0304;
  h.DiskNumberStart = 0x0506;
  h.InternalAttributes = 1;
  h.ExternalAttributes = 0x00000020u;
  h.LocalHeaderOffset = 0x0708090Au;
  const auto bytes = Vec(h.Encode());
  EXPECT_EQ(bytes, Hex("504c0102 1400 1400 0100 0000 44332211 88776655 ccbbaa99 00ffeedd 0201 0a00 0403 "
                       "0605 0100 20000000 0a090807"));
  auto back = TCentralHeader::Decode(bytes.data(), bytes.size());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, h);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TCentralHeader::Decode(p, n).has_value(); }, bytes);
}

TEST(Records, EndRecordAndLargeEndRecord) {
  TEndRecord e;
  e.DiskNumber = 2;
  e.DirectoryDisk = 1;
  e.EntriesOnDisk = 0x0304;
  e.TotalEntries = 0x0506;
  e.DirectorySize = 0x0708090Au;
  e.DirectoryOffset = 0x0B0C0D0Eu;
  e.CommentLength = 0x0F10;
  const auto bytes = Vec(e.Encode());
  EXPECT_EQ(bytes, Hex("504b0506 0200 0100 0403 0605 0a090807 0e0d0c0b 100f"));
  EXPECT_EQ(*TEndRecord::Decode(bytes.data(), bytes.size()), e);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TEndRecord::Decode(p, n).has_value(); }, bytes);

  TLargeEndRecord l;
  l.EntriesOnDisk = 3;
  l.TotalEntries = 3;
  l.DirectorySize = 0x100;
  l.DirectoryOffset = 0x0000000123456789ull;  // past 4 GiB
  l.CommentLength = 5;
  const auto large = Vec(l.Encode());
  EXPECT_EQ(large, Hex("505b0506 0000 0000 0300 0300 00010000 8967452301000000 0500"));
  EXPECT_EQ(*TLargeEndRecord::Decode(large.data(), large.size()), l);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TLargeEndRecord::Decode(p, n).has_value(); },
                          large);
}

TEST(Records, SignatureConstantsInFileOrder) {
  auto fileOrder = [](uint32_t sig) {
    std::vector<uint8_t> b(4);
    PutLE32(b, 0, sig);
    return std::string(b.begin(), b.end());
  };
  EXPECT_EQ(fileOrder(kLocalHeaderSignature), "PK\x03\x04");
  EXPECT_EQ(fileOrder(kLocalHeaderSignatureEnciphered), "PL\x03\x04");
  EXPECT_EQ(fileOrder(kCentralHeaderSignature), "PK\x01\x02");
  EXPECT_EQ(fileOrder(kCentralHeaderSignatureEnciphered), "PL\x01\x02");
  EXPECT_EQ(fileOrder(kEndRecordSignature), "PK\x05\x06");
  EXPECT_EQ(fileOrder(kEndRecordSignatureEnciphered), "PL\x05\x06");
  EXPECT_EQ(fileOrder(kLargeEndRecordSignature), "P[\x05\x06");
  EXPECT_EQ(fileOrder(kLargeEndRecordSignatureEnciphered), "P\\\x05\x06");
  EXPECT_EQ(fileOrder(kDataDescriptorSignature), "PK\x07\x08");
  EXPECT_EQ(fileOrder(kZip64LocatorSignature), "PK\x06\x07");
  EXPECT_EQ(fileOrder(kZip64EndRecordSignature), "PK\x06\x06");
}

TEST(Records, Zip64ExtraLocalAndCentralForms) {
  TZip64Extra x;
  x.PackedHigh = 0x0102;
  x.UnpackedHigh = 0x0304;
  x.OffsetHigh = 0x0506;
  const auto local = Vec(x.EncodeLocal());
  const auto central = Vec(x.EncodeCentral());
  EXPECT_EQ(local, Hex("6400 0400 0201 0403"));
  EXPECT_EQ(central, Hex("6400 0600 0201 0403 0605"));

  auto fromCentral = TZip64Extra::DecodeCentral(central.data(), central.size());
  ASSERT_TRUE(fromCentral);
  EXPECT_EQ(*fromCentral, x);
  auto fromLocal = TZip64Extra::DecodeLocal(local.data(), local.size());
  ASSERT_TRUE(fromLocal);
  EXPECT_EQ(fromLocal->PackedHigh, 0x0102);
  EXPECT_EQ(fromLocal->UnpackedHigh, 0x0304);
  EXPECT_EQ(fromLocal->OffsetHigh, 0);

  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TZip64Extra::DecodeLocal(p, n).has_value(); }, local);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TZip64Extra::DecodeCentral(p, n).has_value(); },
                          central);
  // The local form has no offset word: the central decoder must not read past its data.
  EXPECT_FALSE(TZip64Extra::DecodeCentral(local.data(), local.size()));
  std::vector<uint8_t> padded = local;
  padded.resize(20, 0xFF);
  EXPECT_FALSE(TZip64Extra::DecodeCentral(padded.data(), padded.size()));
  // Another tag, or a declared size the span does not hold, is not this record.
  auto otherTag = central;
  otherTag[0] = 0x01;
  EXPECT_FALSE(TZip64Extra::DecodeCentral(otherTag.data(), otherTag.size()));
  auto overlong = central;
  overlong[2] = 0x40;
  EXPECT_FALSE(TZip64Extra::DecodeCentral(overlong.data(), overlong.size()));
}

TEST(Records, Zip64LocatorAndEndRecordOfAnInfoZipArchive) {
  const auto zip = zipfixture::ReadAll(std::string(TARVELO_TESTDATA) + "/reference/generated/zip64-infozip-fz.zip");
  ASSERT_GT(zip.size(), 22u + 20u + 56u);
  const size_t endAt = zip.size() - TEndRecord::kSize;  // no archive comment
  auto end = TEndRecord::Decode(zip.data() + endAt, TEndRecord::kSize);
  ASSERT_TRUE(end);
  EXPECT_EQ(end->Signature, kEndRecordSignature);
  EXPECT_EQ(end->DirectoryOffset, 0xFFFFFFFFu);

  const size_t locAt = endAt - TZip64Locator::kSize;
  auto loc = TZip64Locator::Decode(zip.data() + locAt, zip.size() - locAt);
  ASSERT_TRUE(loc);
  EXPECT_EQ(loc->Signature, kZip64LocatorSignature);
  EXPECT_EQ(loc->TotalDisks, 1u);
  EXPECT_EQ(loc->Zip64EndOffset, locAt - TZip64EndRecord::kSize);

  auto z64 = TZip64EndRecord::Decode(zip.data() + loc->Zip64EndOffset, zip.size() - loc->Zip64EndOffset);
  ASSERT_TRUE(z64);
  EXPECT_EQ(z64->Signature, kZip64EndRecordSignature);
  EXPECT_EQ(z64->RecordSize, 44u);
  EXPECT_EQ(z64->TotalEntries, 2u);
  EXPECT_EQ(z64->EntriesOnDisk, 2u);
  EXPECT_EQ(z64->DirectoryOffset + z64->DirectorySize, loc->Zip64EndOffset);
  auto first = TCentralHeader::Decode(zip.data() + z64->DirectoryOffset, zip.size() - z64->DirectoryOffset);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Signature, kCentralHeaderSignature);

  std::vector<uint8_t> locBytes(zip.begin() + static_cast<ptrdiff_t>(locAt), zip.begin() + static_cast<ptrdiff_t>(endAt));
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TZip64Locator::Decode(p, n).has_value(); }, locBytes);
  std::vector<uint8_t> endBytes(zip.begin() + static_cast<ptrdiff_t>(loc->Zip64EndOffset),
                                zip.begin() + static_cast<ptrdiff_t>(locAt));
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TZip64EndRecord::Decode(p, n).has_value(); },
                          endBytes);
}

TEST(Records, DataDescriptorsSignedUnsignedAndZip64) {
  // Streamed Info-ZIP output: each entry's data is followed by a signed descriptor.
  const auto zip = zipfixture::ReadAll(std::string(TARVELO_TESTDATA) + "/reference/generated/datadesc-infozip-pipe.zip");
  const auto entries = zipfixture::Entries(zip);
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& e : entries) {
    SCOPED_TRACE(e.name);
    EXPECT_TRUE(e.local.Flags & kFlagDataDescriptor);
    EXPECT_EQ(e.local.Crc32, 0u);
    const size_t at = e.dataOffset + e.central.PackedSize;
    auto d = TDataDescriptor::Decode(zip.data() + at, zip.size() - at, false);
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->HasSignature);
    EXPECT_EQ(d->EncodedSize(), 16u);
    EXPECT_EQ(d->Crc32, e.central.Crc32);
    EXPECT_EQ(d->PackedSize, e.central.PackedSize);
    EXPECT_EQ(d->UnpackedSize, e.central.UnpackedSize);
  }

  const auto unsigned32 = Hex("78563412 04030201 08070605");
  auto u = TDataDescriptor::Decode(unsigned32.data(), unsigned32.size(), false);
  ASSERT_TRUE(u);
  EXPECT_FALSE(u->HasSignature);
  EXPECT_EQ(u->Crc32, 0x12345678u);
  EXPECT_EQ(u->PackedSize, 0x01020304u);
  EXPECT_EQ(u->UnpackedSize, 0x05060708u);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TDataDescriptor::Decode(p, n, false).has_value(); },
                          unsigned32);

  const auto signed64 = Hex("504b0708 78563412 0100000002000000 0300000004000000");
  auto z = TDataDescriptor::Decode(signed64.data(), signed64.size(), true);
  ASSERT_TRUE(z);
  EXPECT_TRUE(z->HasSignature);
  EXPECT_EQ(z->EncodedSize(), 24u);
  EXPECT_EQ(z->PackedSize, 0x0000000200000001ull);
  EXPECT_EQ(z->UnpackedSize, 0x0000000400000003ull);
  ExpectShortSpansRefused([](const uint8_t* p, size_t n) { return TDataDescriptor::Decode(p, n, true).has_value(); },
                          signed64);
}

}  // namespace
