#pragma once
// What the reader lists of an archive, as the restore form would show it: every entry it
// begins, with the CRC it checks the entry against, sorted; nothing is decoded. Updates are
// judged by it, before and after a run, in the tests and in the update fuzz target.
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "archive/qrnUnZip.h"

namespace readerlisting {

using Listing = std::vector<std::pair<std::string, uint32_t>>;

// Never is a folder that nothing is written to; Failed, when given, receives the number of
// files the reader reported as failed.
inline Listing List(const std::string& Archive, const std::string& Never, int32_t* Failed = nullptr) {
  Listing out;
  TUnZip unzip;
  unzip.OnNextVolume = [](TObject*, std::string&, const std::string&, bool, bool& cancel) { cancel = true; };
  unzip.OnCorruptZipHeader = [](TObject*, THeaderTypeState, bool& cancel) { cancel = false; };
  unzip.OnBegin = [&](TObject*, const std::string&, int32_t, bool& extract) {
    out.emplace_back(unzip.EntryName, unzip.Entry.Crc);
    extract = false;
  };
  unzip.SetArchiveFile(Archive);
  unzip.FileSpec().Add("*.*");
  unzip.SetExtractDir(Never);
  unzip.Extract();
  if (Failed != nullptr) *Failed = unzip.FilesFailed();
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace readerlisting
