#include "platform/codepage.h"

#include <cerrno>
#include <iconv.h>

namespace platform {
namespace {

// Owns one iconv descriptor.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(cd_);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::optional<std::string> ConvertCodePage(std::string_view text, const char* from, const char* to) {
  if (text.empty()) return std::string();
  IconvHandle cd(to, from);
  if (!cd.ok()) return std::nullopt;
  std::string out;
  out.resize(text.size() * 4 + 16);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(cd.get(), &in, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1)) {
      if (errno == E2BIG) {
        size_t used = static_cast<size_t>(outPtr - out.data());
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
        continue;
      }
      return std::nullopt;  // EILSEQ or EINVAL: not representable or truncated input
    }
  }
  out.resize(static_cast<size_t>(outPtr - out.data()));
  return out;
}

// UTF-8, CP1251 and CP866 all keep ASCII as it is: most names and texts need no converter.

std::optional<std::string> Utf8ToCp1251(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  // U+0098 is what Cp1251ToUtf8 makes of the byte 0x98, which CP1251 leaves undefined: it goes
  // back to that byte, so that every CP1251 text survives a round trip.
  constexpr std::string_view kU0098 = "\xC2\x98";
  std::string out;
  size_t from = 0;
  while (true) {
    const size_t at = utf8.find(kU0098, from);
    const auto part = ConvertCodePage(utf8.substr(from, at == std::string_view::npos ? at : at - from), "UTF-8", "CP1251");
    if (!part) return std::nullopt;
    out += *part;
    if (at == std::string_view::npos) return out;
    out += '\x98';
    from = at + kU0098.size();
  }
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
  if (IsAscii(cp1251)) return std::string(cp1251);
  if (auto s = ConvertCodePage(cp1251, "CP1251", "UTF-8")) return *s;
  // 0x98 is unassigned in CP1251: convert byte by byte and keep it as U+0098.
  std::string out;
  for (char c : cp1251) {
    if (auto s = ConvertCodePage(std::string_view(&c, 1), "CP1251", "UTF-8")) {
      out += *s;
    } else {
      out += "\xC2\x98";
    }
  }
  return out;
}

std::optional<std::string> Utf8ToCp866(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return ConvertCodePage(utf8, "UTF-8", "CP866");
}

std::string Cp866ToUtf8(std::string_view cp866) {
  if (IsAscii(cp866)) return std::string(cp866);
  auto s = ConvertCodePage(cp866, "CP866", "UTF-8");
  return s ? *s : std::string(cp866);
}

bool IsValidUtf8(std::string_view text) {
  if (IsAscii(text)) return true;
  return ConvertCodePage(text, "UTF-8", "UTF-32LE").has_value();
}

bool IsAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80) return false;
  return true;
}

}  // namespace platform
