// The elapsed-time measurement behind OnElapsedTime and the entry lists of writers and readers.
#include <gtest/gtest.h>

#include <string>

#include "archive/qrnBase.h"

namespace {

uint32_t gNow = 0;
uint32_t now() { return gNow; }

TqrnTimer fakeTimer(uint32_t start) {
  TqrnTimer t;
  t.TickSource = &now;
  gNow = start;
  return t;
}

// A writer record that owns blocks of its own, as the writer's file record does.
struct OwningRecord {
  int32_t Action = 0;
  std::string Comment;
  std::vector<uint8_t> Block;
};

}  // namespace

TEST(Timer, StopWithoutStartKeepsTheLastMeasurement) {
  TqrnTimer t = fakeTimer(5000);
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 0.0f);
  t.Start();
  gNow += 1500;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 1.5f);
  EXPECT_FALSE(t.Running());
  gNow += 9000;
  t.Stop();  // not running: unchanged
  t.Resume();
  t.Pause();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 1.5f);
}

TEST(Timer, PausesAreNotCountedAndNest) {
  TqrnTimer t = fakeTimer(100);
  t.Start();
  gNow += 1000;
  t.Pause();
  gNow += 2000;  // a user dialog
  t.Resume();
  gNow += 2000;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 3.0f);

  t.Start();
  gNow += 1000;
  t.Pause();  // a prompt ...
  gNow += 500;
  t.Pause();  // ... whose handler reports an error
  gNow += 500;
  t.Resume();
  gNow += 500;
  t.Resume();
  gNow += 1000;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 2.0f);

  // Stopped in the middle of a pause: the open pause is not counted either.
  t.Start();
  gNow += 700;
  t.Pause();
  gNow += 5000;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 0.7f);
}

TEST(Timer, TickCountWrapAndAStartAtTickZero) {
  TqrnTimer t = fakeTimer(0xFFFFFF00u);
  t.Start();
  gNow += 0x200;  // wraps past 2^32
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 0.512f);

  gNow = 0;  // a start tick of 0 still counts as running
  t.Start();
  EXPECT_TRUE(t.Running());
  gNow = 250;
  t.Stop();
  EXPECT_FLOAT_EQ(t.ElapsedTime, 0.25f);
}

TEST(HeaderLists, WriterListKeepsParallelEntriesAndClearFreesThem) {
  TCompHeaderObj<OwningRecord> list;
  list.InitList();
  EXPECT_EQ(list.RecordSize, 32);
  EXPECT_EQ(list.Count(), 0);

  const uint8_t extra[5] = {1, 2, 3, 4, 5};
  OwningRecord r;
  r.Action = 1;
  r.Comment = std::string(1000, 'c');
  r.Block.assign(4096, 7);
  ASSERT_TRUE(list.AddHeader(r, "dir/a.txt", 5, 0x11, extra));
  r.Action = 3;
  ASSERT_TRUE(list.AddHeader(r, "dir/b.txt", 0, 0x22, nullptr));
  ASSERT_TRUE(list.AddHeader(r, "dir/c.txt", 5, 0x33, nullptr));  // a length without a block
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Names[1], "dir/b.txt");
  EXPECT_EQ(list.Tags[2], 0x33);
  EXPECT_EQ(list.Extras[0], std::vector<uint8_t>(extra, extra + 5));
  EXPECT_TRUE(list.Extras[1].empty());
  EXPECT_TRUE(list.Extras[2].empty());
  ASSERT_NE(list.GetHeader(0), nullptr);
  EXPECT_EQ(list.GetHeader(0)->Action, 1);
  EXPECT_EQ(list.GetHeader(1)->Action, 3);
  EXPECT_EQ(list.GetHeader(3), nullptr);
  EXPECT_EQ(list.GetHeader(-1), nullptr);

  // The records are copies: changing the caller's record later changes nothing in the list.
  r.Action = 9;
  EXPECT_EQ(list.GetHeader(1)->Action, 3);

  // Addresses stay valid while the list grows.
  OwningRecord* first = list.GetHeader(0);
  for (int i = 0; i < 100; ++i) list.AddHeader(r, "n", 0, 0, nullptr);
  EXPECT_EQ(list.GetHeader(0), first);

  list.SharedBlock.assign(10, 1);
  list.ClearList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.Records.empty());
  EXPECT_EQ(list.Names.Count(), 0);
  EXPECT_TRUE(list.Tags.empty());
  EXPECT_TRUE(list.Extras.empty());
  EXPECT_TRUE(list.SharedBlock.empty());
  EXPECT_EQ(list.GetHeader(0), nullptr);

  ASSERT_TRUE(list.AddHeader(r, "again", 0, 0, nullptr));
  EXPECT_EQ(list.Count(), 1);
  list.DoneList();
  EXPECT_EQ(list.Count(), 0);
}

TEST(HeaderLists, ReaderListOfRawRecords) {
  TUnBaseHeaderObj<> list;
  list.InitList();
  EXPECT_EQ(list.RecordSize, 14);
  TByteRecord<14> rec{};
  for (size_t i = 0; i < rec.size(); ++i) rec[i] = static_cast<uint8_t>(i);
  const uint8_t extra[3] = {9, 8, 7};
  ASSERT_TRUE(list.AddHeader(rec, extra, 3));
  rec[0] = 0xAA;
  ASSERT_TRUE(list.AddRecord(rec));
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ((*list.GetHeader(0))[0], 0);
  EXPECT_EQ((*list.GetHeader(0))[13], 13);
  EXPECT_EQ((*list.GetHeader(1))[0], 0xAA);
  EXPECT_EQ(list.Extras[0].size(), 3u);
  EXPECT_TRUE(list.Extras[1].empty());
  list.ClearList();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.GetHeader(0), nullptr);
}
