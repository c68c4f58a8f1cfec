#pragma once
// Shared enumerations, event types, the library's exception class and the path, name,
// percentage and DOS date-time helpers of the engine.
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// The root of every object that is passed as an event's Sender.
class TObject {
 public:
  virtual ~TObject() = default;
};

// Components are owned by their form and freed with it.
class TComponent : public TObject {};

// The string lists of the components (FileSpec, ExcludeSpec, Passwords, StoreFilesOfType).
class TStrings {
 public:
  void Clear() { FItems.clear(); }
  void Add(const std::string& s) { FItems.push_back(s); }
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const std::string& operator[](int32_t i) const { return FItems[static_cast<size_t>(i)]; }
  std::string& operator[](int32_t i) { return FItems[static_cast<size_t>(i)]; }
  void Delete(int32_t i) { FItems.erase(FItems.begin() + i); }
  void Assign(const TStrings& other) { FItems = other.FItems; }
  const std::vector<std::string>& Items() const { return FItems; }

 private:
  std::vector<std::string> FItems;
};

// The library's exception: a message and nothing more.
class E_RAISE : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The runtime's errors that the engine and the programs raise besides E_RAISE.
class EFOpenError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TArcType : uint8_t {
  atNA, atUnsupported, atFileOpenErr, atUnknown, atAce, atAceExe, atArc, atArcExe, atArj, atArjExe,
  atBh, atBhExe, atCab, atCabExe, atGZip, atHA, atJar, atJarExe, atLha, atLhaExe, atLzh, atLzhExe,
  atMsGZ, atPak, atPakExe, atRar, atRarExe, atTar, atTarGZip, atUUE, atZip, atZipExe, atZipDS,
  atZipMV, atZoo
};
