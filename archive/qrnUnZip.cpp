#include "archive/qrnUnZip.h"

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

void TUnZip::ExtractArchive(std::unique_ptr<TStream32>& /*Archive*/, TStream32*& /*Output*/) {}
bool TUnZip::CheckPassword(uint8_t* /*Buffer*/) { return false; }
int32_t TUnZip::ListCentralDirectory(TStream32& /*Archive*/) { return 0; }
int32_t TUnZip::ScanLocalHeaders(TStream32& /*Archive*/) { return 0; }
void TUnZip::ExtractByDirectory(std::unique_ptr<TStream32>& /*Archive*/) {}
void TUnZip::ExtractByLocalHeaders(std::unique_ptr<TStream32>& /*Archive*/) {}
bool TUnZip::ExtractEntryFile(std::unique_ptr<TStream32>& /*Archive*/, uint32_t /*Attributes*/) { return false; }
void TUnZip::ExtractMember(std::unique_ptr<TStream32>& /*Archive*/, TStream32* /*Output*/) {}
void TUnZip::InflateDeflated(std::unique_ptr<TStream32>& /*Archive*/, TStream32* /*Output*/) {}
bool TUnZip::OpenNextVolume(std::unique_ptr<TStream32>& /*Archive*/, int32_t /*Current*/, int32_t /*Count*/) {
  return false;
}
int32_t TUnZip::LastVolume() const { return 0; }
bool TUnZip::ReadLocalHeader(TStream32& /*Archive*/, std::string& /*StoredName*/) { return false; }
bool TUnZip::ContinueOnNextVolume(std::unique_ptr<TStream32>& /*Archive*/, int64_t /*Remaining*/) { return false; }
void TUnZip::SetEntryName(const std::string& /*Stored*/, uint16_t /*Flags*/) {}
