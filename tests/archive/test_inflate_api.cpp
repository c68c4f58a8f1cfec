// The entry points: initialisation checks, reset, end, the wrapper header, finish and progress
// results, the error state, and allocation failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/archive/inflate_test_util.h"

using namespace inflate_test;

namespace {

TEST(InflateApi, InitChecksRecordSizeAndWindowBits) {
  TInflateStreamRec s;
  s.AvailIn = 77;
  EXPECT_EQ(StreamInflateInit(&s, -15, 56), siVersionError);
  EXPECT_EQ(s.AvailIn, 77u);
  EXPECT_EQ(s.AllocFunc, nullptr);  // nothing touched
  for (int bits : {7, 16, -7, -16, 0}) {
    EXPECT_EQ(StreamInflateInit(&s, bits, StreamInflateRecSize), siStreamError) << bits;
    EXPECT_EQ(s.State, nullptr);
  }
  for (int bits = 8; bits <= 15; ++bits) {
    for (int sign : {1, -1}) {
      TInflateStreamRec t;
      ASSERT_EQ(StreamInflateInit(&t, sign * bits, StreamInflateRecSize), siOK);
      EXPECT_EQ(StreamInflateEnd(&t), siOK);
      EXPECT_EQ(t.State, nullptr);
      EXPECT_EQ(StreamInflateEnd(&t), siStreamError);
    }
  }
  EXPECT_EQ(StreamInflateInit2(nullptr, -15), siStreamError);
  TInflateStreamRec t;
  ASSERT_EQ(StreamInflateInit2(&t, static_cast<int16_t>(static_cast<int8_t>(0xF1))), siOK);  // -15
  EXPECT_EQ(StreamInflateReset(&t), siOK);
  EXPECT_EQ(StreamInflateEnd(&t), siOK);
  EXPECT_EQ(StreamInflateReset(&t), siStreamError);
  EXPECT_EQ(StreamInflate(&t, 0), siStreamError);
}

TEST(InflateApi, ResultsAcrossCalls) {
  const Bytes data = Str("hello hello hello hello");
  const Bytes packed = ZlibDeflate(data, 9, -15, 8, Z_DEFAULT_STRATEGY);
  TInflateStreamRec s;
  ASSERT_EQ(StreamInflateInit(&s, -15, StreamInflateRecSize), siOK);
  uint8_t out[64];
  s.NextOut = out;
  s.AvailOut = sizeof(out);
  s.NextIn = nullptr;
  EXPECT_EQ(StreamInflate(&s, 0), siStreamError);
  s.NextIn = packed.data();
  s.AvailIn = 0;
  EXPECT_EQ(StreamInflate(&s, 0), siBufError);  // no progress possible
  s.AvailIn = 3;
  EXPECT_EQ(StreamInflate(&s, 0), siOK);
  s.AvailIn = 2;
  EXPECT_EQ(StreamInflate(&s, siFinish), siBufError);  // cannot complete
  s.AvailIn = static_cast<uint32_t>(packed.size() - 5);
  EXPECT_EQ(StreamInflate(&s, siFinish), siStreamEnd);
  EXPECT_EQ(Bytes(out, out + s.TotalOut), data);
  EXPECT_EQ(StreamInflate(&s, 0), siStreamEnd);
  EXPECT_EQ(StreamInflate(&s, siFinish), siStreamEnd);

  // Reset starts a new stream; its distances before the start read zeros, not the old stream.
  ASSERT_EQ(StreamInflateReset(&s), siOK);
  EXPECT_EQ(s.TotalIn, 0u);
  EXPECT_EQ(s.TotalOut, 0u);
  TBitWriter w;
  w.Put(1, 1).Put(1, 2).Code(0x30 + 'a', 8).Code(1, 7).Code(4, 5).Put(1, 1).Code(0, 7);  // 'a', 3 from 6 back
  const Bytes far = w.Finish();
  s.NextIn = far.data();
  s.AvailIn = static_cast<uint32_t>(far.size());
  s.NextOut = out;
  s.AvailOut = sizeof(out);
  EXPECT_EQ(StreamInflate(&s, 0), siStreamEnd);
  EXPECT_EQ(Bytes(out, out + s.TotalOut), (Bytes{'a', 0, 0, 0}));
  StreamInflateEnd(&s);
}

TEST(InflateApi, DataErrorIsFinal) {
  TInflateStreamRec s;
  ASSERT_EQ(StreamInflateInit(&s, -15, StreamInflateRecSize), siOK);
  const Bytes bad = {0x07, 0x00};  // reserved block type
  uint8_t out[4];
  for (int i = 0; i < 3; ++i) {
    s.NextIn = bad.data();
    s.AvailIn = static_cast<uint32_t>(bad.size());
    s.NextOut = out;
    s.AvailOut = sizeof(out);
    EXPECT_EQ(StreamInflate(&s, 0), siDataError);
  }
  StreamInflateEnd(&s);
}

TEST(InflateApi, WrapperHeader) {
  const Bytes good = ZlibDeflate(Str("abc"), 6, 15, 8, Z_DEFAULT_STRATEGY);
  EXPECT_EQ(Decode(good, 15, 1, 1).Out, Str("abc"));
  Bytes method = good;
  method[0] = 0x77;  // method 7
  method[1] = static_cast<uint8_t>(31 - (0x77 * 256) % 31);
  EXPECT_EQ(Decode(method, 15).Code, siDataError);
  Bytes check = good;
  check[1] ^= 1;
  EXPECT_EQ(Decode(check, 15).Code, siDataError);
  EXPECT_EQ(Decode(Bytes{}, 15).Code, siBufError);

  // Preset dictionary: the identifier comes back, and nothing can go on.
  const Bytes dict = {0x78, 0xbb, 0x12, 0x34, 0x56, 0x78, 0x4b, 0x04, 0x00};
  ASSERT_EQ((0x78 * 256 + 0xbb) % 31, 0);
  TInflateStreamRec s;
  ASSERT_EQ(StreamInflateInit(&s, 15, StreamInflateRecSize), siOK);
  uint8_t out[8];
  s.NextIn = dict.data();
  s.AvailIn = static_cast<uint32_t>(dict.size());
  s.NextOut = out;
  s.AvailOut = sizeof(out);
  EXPECT_EQ(StreamInflate(&s, 0), siNeedDict);
  EXPECT_EQ(s.Check, 0x12345678u);
  EXPECT_EQ(StreamInflate(&s, 0), siStreamError);
  EXPECT_EQ(StreamInflate(&s, 0), siDataError);
  StreamInflateEnd(&s);
}

// An allocator that fails from its Nth call on and fills what it gives with garbage.
struct TAllocLog {
  int FailAt = 0;
  int Calls = 0;
  int Live = 0;
};
void* FailingAlloc(void* Opaque, uint32_t Items, uint32_t Size) {
  auto* log = static_cast<TAllocLog*>(Opaque);
  if (++log->Calls >= log->FailAt) return nullptr;
  void* p = std::malloc(static_cast<size_t>(Items) * Size);
  if (p != nullptr) {
    std::memset(p, 0xA5, static_cast<size_t>(Items) * Size);
    ++log->Live;
  }
  return p;
}
void CountingFree(void* Opaque, void* P) {
  --static_cast<TAllocLog*>(Opaque)->Live;
  std::free(P);
}

TEST(InflateApi, AllocationFailuresAndGarbageMemory) {
  for (int failAt = 1; failAt <= 4; ++failAt) {
    TAllocLog log;
    log.FailAt = failAt;
    TInflateStreamRec s;
    s.AllocFunc = FailingAlloc;
    s.FreeFunc = CountingFree;
    s.Opaque = &log;
    EXPECT_EQ(StreamInflateInit(&s, -15, StreamInflateRecSize), siMemError) << failAt;
    EXPECT_EQ(s.State, nullptr);
    EXPECT_EQ(log.Live, 0);
  }
  // Memory that is not zeroed still gives zeros for distances before the stream start.
  TAllocLog log;
  log.FailAt = 100;
  TInflateStreamRec s;
  s.AllocFunc = FailingAlloc;
  s.FreeFunc = CountingFree;
  s.Opaque = &log;
  ASSERT_EQ(StreamInflateInit(&s, -15, StreamInflateRecSize), siOK);
  TBitWriter w;
  w.Put(1, 1).Put(1, 2).Code(0x30 + 'a', 8).Code(1, 7).Code(29, 5).Put(8191, 13).Code(0, 7);
  const Bytes far = w.Finish();
  uint8_t out[8];
  s.NextIn = far.data();
  s.AvailIn = static_cast<uint32_t>(far.size());
  s.NextOut = out;
  s.AvailOut = sizeof(out);
  EXPECT_EQ(StreamInflate(&s, 0), siStreamEnd);
  EXPECT_EQ(Bytes(out, out + s.TotalOut), (Bytes{'a', 0, 0, 0}));
  EXPECT_EQ(StreamInflateEnd(&s), siOK);
  EXPECT_EQ(log.Live, 0);
}

}  // namespace
