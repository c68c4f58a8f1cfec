#pragma once
// Little-endian fields of on-disk records, read and written byte by byte over a bounded span.
// An access that would leave the span throws std::out_of_range: decoders check a record's
// length before they read it, so this only ever catches a programming error.
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>

namespace qrn_endian_detail {
inline void Check(size_t spanSize, size_t offset, size_t width) {
  if (offset > spanSize || spanSize - offset < width) throw std::out_of_range("record field out of bounds");
}
template <typename T, size_t W>
T Get(std::span<const uint8_t> s, size_t offset) {
  Check(s.size(), offset, W);
  T v = 0;
  for (size_t i = 0; i < W; ++i) v = static_cast<T>(v | (static_cast<T>(s[offset + i]) << (8 * i)));
  return v;
}
template <typename T, size_t W>
void Put(std::span<uint8_t> s, size_t offset, T v) {
  Check(s.size(), offset, W);
  for (size_t i = 0; i < W; ++i) s[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace qrn_endian_detail

inline uint16_t GetLE16(std::span<const uint8_t> s, size_t offset) {
  return qrn_endian_detail::Get<uint16_t, 2>(s, offset);
}
inline uint32_t GetLE32(std::span<const uint8_t> s, size_t offset) {
  return qrn_endian_detail::Get<uint32_t, 4>(s, offset);
}
inline uint64_t GetLE64(std::span<const uint8_t> s, size_t offset) {
  return qrn_endian_detail::Get<uint64_t, 8>(s, offset);
}
inline void PutLE16(std::span<uint8_t> s, size_t offset, uint16_t v) { qrn_endian_detail::Put<uint16_t, 2>(s, offset, v); }
inline void PutLE32(std::span<uint8_t> s, size_t offset, uint32_t v) { qrn_endian_detail::Put<uint32_t, 4>(s, offset, v); }
inline void PutLE64(std::span<uint8_t> s, size_t offset, uint64_t v) { qrn_endian_detail::Put<uint64_t, 8>(s, offset, v); }
