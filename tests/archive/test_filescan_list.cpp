// The list of found files: ordered insertion, re-sorting, and the comparisons of each option.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/qrnFileScan.h"

namespace {

std::unique_ptr<TFileObject> Obj(const std::string& name, uint64_t size = 0, uint32_t time = 0) {
  auto o = std::make_unique<TFileObject>();
  o->Name = name;
  o->Path = "/x/";
  o->SizeLow = static_cast<uint32_t>(size);
  o->SizeHigh = static_cast<uint32_t>(size >> 32);
  o->DateTime = time;
  return o;
}

std::vector<std::string> Names(const TFilesList& l) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < l.Count(); ++i) out.push_back(l[i].Name);
  return out;
}

TEST(FileScanList, ByNamePutsANewObjectBeforeItsEquals) {
  TFilesList l;
  l.SetSortOption(soByName);
  auto b = Obj("b"), a1 = Obj("a"), a2 = Obj("A");
  const TFileObject* first = a1.get();
  const TFileObject* second = a2.get();
  EXPECT_EQ(l.Add(std::move(b)), 0);
  EXPECT_EQ(l.Add(std::move(a1)), 0);
  EXPECT_EQ(l.Add(std::move(a2)), 0);  // "A" equals "a" without case
  ASSERT_EQ(l.Count(), 3);
  EXPECT_EQ(&l[0], second);
  EXPECT_EQ(&l[1], first);
  EXPECT_EQ(l[2].Name, "b");

  int32_t index = -1;
  auto probe = Obj("B");
  EXPECT_TRUE(l.Find(*probe, index));
  EXPECT_EQ(index, 2);
  auto missing = Obj("c");
  EXPECT_FALSE(l.Find(*missing, index));
  EXPECT_EQ(index, 3);
}

TEST(FileScanList, NamesSortByTheRussianAlphabetWithoutCase) {
  TFilesList l;
  l.SetSortOption(soByName);
  for (const char* n : {"Жук", "ёж", "Еда", "ель", "Ад", "b", "A"}) l.Add(Obj(n));
  EXPECT_EQ(Names(l), (std::vector<std::string>{"A", "b", "Ад", "Еда", "ель", "ёж", "Жук"}));
}

TEST(FileScanList, TypeSizeAndTimeOrders) {
  TFilesList byType;
  byType.SetSortOption(soByType);
  for (const char* n : {"x.txt", "y", "z.DOC", "w.a.bin"}) byType.Add(Obj(n));
  EXPECT_EQ(Names(byType), (std::vector<std::string>{"y", "w.a.bin", "z.DOC", "x.txt"}));

  // Sizes of 4 GiB and more are ordered by all 64 bits, not by the low half.
  TFilesList bySize;
  bySize.SetSortOption(soBySize);
  bySize.Add(Obj("big", (uint64_t{1} << 32) + 1));
  bySize.Add(Obj("mid", 0xFFFFFFFFu));
  bySize.Add(Obj("small", 2));
  EXPECT_EQ(Names(bySize), (std::vector<std::string>{"small", "mid", "big"}));

  // DOS date-times compare as signed 32-bit numbers.
  TFilesList byTime;
  byTime.SetSortOption(soByTime);
  byTime.Add(Obj("t1", 0, 0x10000000u));
  byTime.Add(Obj("neg", 0, 0x80000000u));
  byTime.Add(Obj("t0", 0, 0x00210000u));
  EXPECT_EQ(Names(byTime), (std::vector<std::string>{"neg", "t0", "t1"}));
}

TEST(FileScanList, UnsortedAppendsResortAndDelete) {
  TFilesList l;
  for (const char* n : {"c", "a", "b"}) l.Add(Obj(n));
  EXPECT_EQ(Names(l), (std::vector<std::string>{"c", "a", "b"}));
  int32_t index = -1;
  EXPECT_TRUE(l.Find(l[1], index));
  EXPECT_EQ(index, 1);

  l.SetSortOption(soByName);
  l.Sort();
  EXPECT_EQ(Names(l), (std::vector<std::string>{"a", "b", "c"}));
  l.SetSortOption(soUnsort);
  l.Sort();  // keeps the order the list has
  EXPECT_EQ(Names(l), (std::vector<std::string>{"a", "b", "c"}));

  l.Delete(-1);
  l.Delete(3);
  EXPECT_EQ(l.Count(), 3);
  l.Delete(1);
  EXPECT_EQ(Names(l), (std::vector<std::string>{"a", "c"}));
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
}

}  // namespace
