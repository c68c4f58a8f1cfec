// Entry names, volume names and block I/O of TZipCommon. Placeholder bodies: the block I/O unit
// replaces this file.
#include "archive/qrnBase.h"

int32_t TZipCommon::WriteEncrypted(TStream32*, uint8_t*, int32_t, int32_t, int32_t, bool) { return 0; }
int32_t TZipCommon::WriteDecrypted(TStream32*, uint8_t*, int32_t, int32_t, int32_t, bool) { return 0; }
std::string TZipCommon::GetVolumeFileName(const std::string&, int32_t) { return {}; }
bool TZipCommon::NextVolume(std::unique_ptr<TStream32>&, int32_t, int32_t) { return false; }
int32_t TZipCommon::ReadBlock(TStream32&, int32_t, int32_t, bool, uint8_t*) { return 0; }
void TZipCommon::SetCurrentFileName(const std::string& Name) { FCurrentFileName = Name; }
void TZipCommon::GarbleBuffer(bool, uint8_t*, int32_t) {}
void TZipCommon::SetExtractDir(const std::string& Value) { FExtractDir = Value; }
