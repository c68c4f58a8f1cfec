#include "archive/qrnOldMethods.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <vector>

#include "archive/qrnBase.h"
#include "archive/qrnStreams.h"
#include "archive/qrnZipRecords.h"

namespace {

constexpr int32_t kBufferSize = 32768;
constexpr int32_t kWindowAlloc = 8192;
constexpr int32_t kMaxCode = 8191;        // unshrink codes are at most 13 bits
constexpr int32_t kMaxCodeSize = 13;
constexpr int32_t kFirstFreeCode = 257;
constexpr int32_t kStackSize = 8192;
constexpr int32_t kFollowerMax = 32;
constexpr uint8_t kDle = 144;
constexpr uint16_t kFlagBigWindow = 0x0002;   // explode: 8K window, 7 low distance bits
constexpr uint16_t kFlagLiteralTree = 0x0004; // explode: literals coded, minimum match 3

struct TShrinkTables {
  std::array<int32_t, kMaxCode + 1> Prefix;  // -1 = free
  std::array<uint8_t, kMaxCode + 1> Suffix;
  std::array<uint16_t, kMaxCode + 1> Users;  // codes that have this code as prefix
  std::array<uint16_t, kMaxCode + 1> FreeList;
  std::array<uint8_t, kStackSize> Stack;
  int32_t FreeCount = 0;
  int32_t FreeNext = 0;
};

struct TFollowerSet {
  uint8_t Count = 0;
  std::array<uint8_t, kFollowerMax> Bytes{};
};

// Node links: -1 empty. Values are leaves 0..Leaves-1; inner nodes above them, root last.
struct TSfTree {
  std::vector<std::array<int32_t, 2>> Node;
  int32_t Leaves = 0;
  int32_t Root() const { return static_cast<int32_t>(Node.size()) - 1; }
};

struct TExplodeTables {
  TSfTree Literal, Length, Distance;
};

// The decoder state of the process (one member at a time).
struct TOldMethodsState {
  TZipCommon* Zip = nullptr;
  TStream32* Archive = nullptr;
  TStream32* Output = nullptr;
  TOldMember Member;
  bool Encrypted = false;

  std::array<uint8_t, kBufferSize> In{};
  int32_t InPos = 0;
  int32_t InCount = 0;
  int64_t PackedLeft = 0;
  bool EndOfInput = false;

  // Bits are taken least significant first; BitCount bits of BitBuf are not yet taken.
  uint32_t BitBuf = 0;
  int32_t BitCount = 0;

  std::array<uint8_t, kBufferSize> Out{};
  int32_t OutCount = 0;
  int64_t Produced = 0;

  std::array<uint8_t, kWindowAlloc> Window{};
  int32_t WindowSize = 4096;
  int32_t WindowPos = 0;

  std::unique_ptr<TShrinkTables> Shrink;
  std::unique_ptr<std::array<TFollowerSet, 256>> Followers;
  std::unique_ptr<TExplodeTables> Trees;
};

TOldMethodsState OldState;

[[noreturn]] void Fail(int32_t Code);

void Raise(int32_t Code) {
  OldState.Zip->RaiseError(&Throw_E_RAISE, OldState.Zip->CurrentFileName(), "", "0", Code);
}

// A cancelled run makes RaiseError return; the member must still stop, so the decoders unwind
// through this exception, which DecodeOldMember swallows.
struct TOldStop {};

[[noreturn]] void Fail(int32_t Code) {
  Raise(Code);
  throw TOldStop{};
}

int32_t ReadByte() {
  TOldMethodsState& s = OldState;
  if (s.Zip->GetCancel()) {
    s.PackedLeft = 0;
    s.EndOfInput = true;
    return -1;
  }
  if (s.InPos >= s.InCount) {
    // No byte left to give ends the input too, so no decoder can spin on -1 forever.
    if (s.PackedLeft <= 0) {
      s.EndOfInput = true;
      return -1;
    }
    int32_t want = static_cast<int32_t>(std::min<int64_t>(s.PackedLeft, kBufferSize));
    int32_t got = s.Zip->ReadHook(*s.Archive, want, 0, s.Encrypted, s.In.data());
    // The hook's count is a claim: never trust more than the buffer it was given.
    if (got <= 0 || got > want) {
      s.InPos = s.InCount = 0;
      s.EndOfInput = true;
      return -1;
    }
    s.InPos = 0;
    s.InCount = got;
  }
  --s.PackedLeft;
  return s.In[static_cast<size_t>(s.InPos++)];
}

// N is 0 to 13; -1 when the input ends first (the bits held stay unused).
int32_t ReadBits(int32_t N) {
  TOldMethodsState& s = OldState;
  while (s.BitCount < N) {
    int32_t b = ReadByte();
    if (b < 0) return -1;
    s.BitBuf |= static_cast<uint32_t>(b) << s.BitCount;
    s.BitCount += 8;
  }
  uint32_t v = s.BitBuf & ((1u << N) - 1u);
  s.BitBuf >>= N;
  s.BitCount -= N;
  return static_cast<int32_t>(v);
}

void PutByte(uint8_t B) {
  TOldMethodsState& s = OldState;
  s.Out[static_cast<size_t>(s.OutCount++)] = B;
  ++s.Produced;
  if (s.OutCount == kBufferSize) FlushOutput();
}

void PutWindowByte(uint8_t B) {
  TOldMethodsState& s = OldState;
  PutByte(B);
  s.Window[static_cast<size_t>(s.WindowPos)] = B;
  s.WindowPos = (s.WindowPos + 1) % s.WindowSize;
}

// Copies Length bytes from Distance back, one by one so that short distances repeat.
void CopyFromWindow(int32_t Distance, int32_t Length) {
  TOldMethodsState& s = OldState;
  int32_t from = ((s.WindowPos - Distance) % s.WindowSize + s.WindowSize) % s.WindowSize;
  for (int32_t i = 0; i < Length; ++i) {
    PutWindowByte(s.Window[static_cast<size_t>(from)]);
    from = (from + 1) % s.WindowSize;
  }
}

// --- unshrink --------------------------------------------------------------------------------

void BuildFreeList(TShrinkTables& t) {
  t.FreeCount = 0;
  t.FreeNext = 0;
  for (int32_t c = kFirstFreeCode; c <= kMaxCode; ++c)
    if (t.Prefix[static_cast<size_t>(c)] < 0) t.FreeList[static_cast<size_t>(t.FreeCount++)] = static_cast<uint16_t>(c);
}

// Frees every code that no code uses as prefix. The leaves are found before any is freed, so a
// code whose only users are freed now stays (it is no leaf of the tree as it stood). The user
// counts are then recounted from the codes that remain.
void PartialClear(TShrinkTables& t) {
  std::array<bool, kMaxCode + 1> leaf{};
  for (int32_t c = kFirstFreeCode; c <= kMaxCode; ++c)
    leaf[static_cast<size_t>(c)] = t.Users[static_cast<size_t>(c)] == 0;
  for (int32_t c = kFirstFreeCode; c <= kMaxCode; ++c) {
    if (!leaf[static_cast<size_t>(c)]) continue;
    t.Prefix[static_cast<size_t>(c)] = -1;
    t.Suffix[static_cast<size_t>(c)] = 0;
  }
  t.Users.fill(0);
  for (int32_t c = kFirstFreeCode; c <= kMaxCode; ++c) {
    int32_t p = t.Prefix[static_cast<size_t>(c)];
    if (p > 256) ++t.Users[static_cast<size_t>(p)];
  }
  BuildFreeList(t);
}

}  // namespace

void Unshrink() {
  TOldMethodsState& s = OldState;
  TShrinkTables& t = *s.Shrink;
  t.Prefix.fill(-1);
  t.Users.fill(0);
  for (int32_t c = 0; c <= kMaxCode; ++c) t.Suffix[static_cast<size_t>(c)] = c < 256 ? static_cast<uint8_t>(c) : 0;
  BuildFreeList(t);
  int32_t codeSize = 9;

  int32_t prev = ReadBits(codeSize);
  // The first code has no predecessor, so only a literal can stand there.
  if (prev < 0 || prev > 255) Fail(E_BAD_BLOCK);
  uint8_t prevFirst = static_cast<uint8_t>(prev);
  PutByte(prevFirst);

  for (;;) {
    int32_t code = ReadBits(codeSize);
    if (code < 0) break;
    if (code == 256) {
      int32_t control = ReadBits(codeSize);
      if (control < 0) break;
      if (control == 1) {
        if (codeSize == kMaxCodeSize) Fail(E_BAD_BLOCK);
        ++codeSize;
      } else if (control == 2) {
        PartialClear(t);
      } else {
        Fail(E_BAD_BLOCK);
      }
      continue;
    }
    if (code > kMaxCode) Fail(E_BAD_BLOCK);

    int32_t sp = 0;
    int32_t walk = code;
    if (code > 256 && t.Prefix[static_cast<size_t>(code)] < 0) {
      // Not yet defined: the code being defined by this very step (previous string + its first byte).
      t.Stack[static_cast<size_t>(sp++)] = prevFirst;
      walk = prev;
    }
    while (walk > 256) {
      int32_t p = t.Prefix[static_cast<size_t>(walk)];
      // A free code inside a chain is damage: it has no string.
      if (p < 0) Fail(E_BAD_BLOCK);
      if (sp >= kMaxCode) {
        FlushOutput();
        Fail(E_STACK_OVERFLOW);
      }
      t.Stack[static_cast<size_t>(sp++)] = t.Suffix[static_cast<size_t>(walk)];
      walk = p;
    }
    if (walk == 256) Fail(E_BAD_BLOCK);
    uint8_t first = static_cast<uint8_t>(walk);
    PutByte(first);
    while (sp > 0) PutByte(t.Stack[static_cast<size_t>(--sp)]);

    if (t.FreeNext < t.FreeCount) {
      int32_t c = t.FreeList[static_cast<size_t>(t.FreeNext++)];
      t.Prefix[static_cast<size_t>(c)] = prev;
      t.Suffix[static_cast<size_t>(c)] = first;
      if (prev > 256) ++t.Users[static_cast<size_t>(prev)];
    }
    prev = code;
    prevFirst = first;
  }
}

// --- unreduce --------------------------------------------------------------------------------

namespace {

int32_t FollowerIndexBits(int32_t Count) {
  if (Count <= 2) return 1;
  if (Count <= 4) return 2;
  if (Count <= 8) return 3;
  if (Count <= 16) return 4;
  if (Count <= 32) return 5;
  return 6;
}

}  // namespace

void Unreduce(int32_t Factor) {
  TOldMethodsState& s = OldState;
  if (Factor < 1 || Factor > 4) Fail(E_UNSUPPORTED_METHOD);
  auto& sets = *s.Followers;
  s.WindowSize = 4096;

  for (int32_t x = 255; x >= 0; --x) {
    int32_t n = ReadBits(6);
    if (n < 0) return;
    // A set holds at most 32 followers; a larger count cannot come from a sound encoder.
    if (n > kFollowerMax) Fail(E_BAD_BLOCK);
    TFollowerSet& set = sets[static_cast<size_t>(x)];
    set.Count = static_cast<uint8_t>(n);
    for (int32_t i = 0; i < n; ++i) {
      int32_t b = ReadBits(8);
      if (b < 0) return;
      set.Bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(b);
    }
  }

  const int32_t mask = 0xFF >> Factor;
  int32_t last = 0;
  int32_t state = 0;
  int32_t v = 0;
  int32_t length = 0;
  // The padding bits of the last byte could decode as one more byte: stop at the member's size.
  while (s.Produced < s.Member.UnpackedSize) {
    const TFollowerSet& set = sets[static_cast<size_t>(last)];
    int32_t byte;
    if (set.Count == 0) {
      byte = ReadBits(8);
    } else {
      int32_t flag = ReadBits(1);
      if (flag < 0) break;
      if (flag == 0) {
        int32_t index = ReadBits(FollowerIndexBits(set.Count));
        if (index < 0) break;
        // An index past the set's count reads a follower never stored.
        if (index >= set.Count) Fail(E_BAD_BLOCK);
        byte = set.Bytes[static_cast<size_t>(index)];
      } else {
        byte = ReadBits(8);
      }
    }
    if (byte < 0) break;
    last = byte;

    switch (state) {
      case 0:
        if (byte == kDle)
          state = 1;
        else
          PutWindowByte(static_cast<uint8_t>(byte));
        break;
      case 1:
        if (byte == 0) {
          PutWindowByte(kDle);
          state = 0;
        } else {
          v = byte;
          length = v & mask;
          state = length == mask ? 2 : 3;
        }
        break;
      case 2:
        length += byte;
        state = 3;
        break;
      default: {
        int32_t distance = (v >> (8 - Factor)) * 256 + byte + 1;
        CopyFromWindow(distance, length + 3);
        state = 0;
        break;
      }
    }
  }
}

// --- explode ---------------------------------------------------------------------------------

namespace {

struct TSfEntry {
  int32_t Length;
  int32_t Value;
};

// Reads a tree description and builds the tree; false (25293 reported) when the codes are
// ambiguous or the description defines more values than the tree takes.
bool ReadTree(TSfTree& Tree, int32_t Leaves) {
  int32_t c = ReadBits(8);
  if (c < 0) return false;
  std::vector<TSfEntry> entries;
  entries.reserve(static_cast<size_t>(Leaves));
  bool tooMany = false;
  for (int32_t i = 0; i <= c; ++i) {
    int32_t b = ReadBits(8);
    if (b < 0) return false;
    int32_t len = (b & 0x0F) + 1;
    int32_t rep = (b >> 4) + 1;
    for (int32_t r = 0; r < rep; ++r) {
      if (static_cast<int32_t>(entries.size()) == Leaves) {
        tooMany = true;
        break;
      }
      entries.push_back({len, static_cast<int32_t>(entries.size())});
    }
  }
  Tree.Leaves = Leaves;
  Tree.Node.assign(static_cast<size_t>(2 * Leaves), {-1, -1});
  auto ambiguous = [] {
    OldState.Zip->ReportError(OldState.Zip->CurrentFileName(), "", "0", E_AMBIGUOUS_TREE);
    return false;
  };
  if (tooMany) return ambiguous();

  std::stable_sort(entries.begin(), entries.end(),
                   [](const TSfEntry& a, const TSfEntry& b) { return a.Length < b.Length; });
  uint32_t code = 0;
  uint32_t increment = 0;
  int32_t lastLength = 0;
  int32_t nextInner = Tree.Root() - 1;
  for (size_t i = entries.size(); i-- > 0;) {
    const TSfEntry& e = entries[i];
    code = (code + increment) & 0xFFFFu;
    if (e.Length != lastLength) {
      lastLength = e.Length;
      increment = 1u << (16 - lastLength);
    }
    uint32_t bits = code >> (16 - e.Length);
    int32_t node = Tree.Root();
    for (int32_t k = e.Length - 1; k > 0; --k) {
      int32_t side = static_cast<int32_t>((bits >> k) & 1u);
      int32_t& link = Tree.Node[static_cast<size_t>(node)][static_cast<size_t>(side)];
      if (link < 0) {
        // Inner nodes are numbered down from below the root and must stay above the leaves.
        if (nextInner < Leaves) return ambiguous();
        link = nextInner--;
      } else if (link < Leaves) {
        return ambiguous();
      }
      node = link;
    }
    int32_t& final = Tree.Node[static_cast<size_t>(node)][bits & 1u];
    if (final >= 0) return ambiguous();
    final = e.Value;
  }
  return true;
}

// -1 when the input ends.
int32_t DecodeSymbol(const TSfTree& Tree) {
  int32_t node = Tree.Root();
  while (node >= Tree.Leaves) {
    int32_t bit = ReadBits(1);
    if (bit < 0) return -1;
    node = Tree.Node[static_cast<size_t>(node)][static_cast<size_t>(bit)];
    if (node < 0) Fail(E_AMBIGUOUS_TREE);
  }
  return node;
}

}  // namespace

void Explode() {
  TOldMethodsState& s = OldState;
  TExplodeTables& t = *s.Trees;
  const bool bigWindow = (s.Member.Flags & kFlagBigWindow) != 0;
  const bool literalTree = (s.Member.Flags & kFlagLiteralTree) != 0;
  const int32_t lowBits = bigWindow ? 7 : 6;
  const int32_t minMatch = literalTree ? 3 : 2;
  s.WindowSize = bigWindow ? 8192 : 4096;

  if (literalTree && !ReadTree(t.Literal, 256)) return;
  if (!ReadTree(t.Length, 64)) return;
  if (!ReadTree(t.Distance, 64)) return;
  s.Window.fill(0);
  s.WindowPos = 0;

  // Nothing decoded from bits past the end of the input is written.
  while (s.Produced < s.Member.UnpackedSize && !s.EndOfInput) {
    int32_t flag = ReadBits(1);
    if (flag < 0) break;
    if (flag == 1) {
      int32_t lit = literalTree ? DecodeSymbol(t.Literal) : ReadBits(8);
      if (lit < 0) break;
      PutWindowByte(static_cast<uint8_t>(lit));
      continue;
    }
    int32_t low = ReadBits(lowBits);
    if (low < 0) break;
    int32_t high = DecodeSymbol(t.Distance);
    if (high < 0) break;
    int32_t length = DecodeSymbol(t.Length);
    if (length < 0) break;
    if (length == 63) {
      int32_t more = ReadBits(8);
      if (more < 0) break;
      length += more;
    }
    length += minMatch;
    int32_t distance = (low + (high << lowBits)) & (s.WindowSize - 1);
    CopyFromWindow(distance + 1, length);
  }
}

// --- member set-up and output ----------------------------------------------------------------

void FlushOutput() {
  TOldMethodsState& s = OldState;
  if (s.OutCount == 0 || !s.Zip) return;
  int32_t n = s.OutCount;
  // Emptied first: a refusal raises, and the caller's last flush must not write these again.
  s.OutCount = 0;
  int32_t written = s.Zip->OutputHook(s.Output, s.Out.data(), 1, n, 32, false);
  if (written != n) Fail(E_WRITE_ERROR);
  s.Zip->BytesLeft -= n;
  s.Zip->DoProgress(s.Zip->ArchiveTotal, s.Member.UnpackedSize, s.Produced);
}

bool OldMethodsBegin(TZipCommon& Zip, TStream32& Archive, TStream32* Output, const TOldMember& Member) {
  OldMethodsEnd();
  TOldMethodsState& s = OldState;
  s.Zip = &Zip;
  s.Archive = &Archive;
  s.Output = Output;
  s.Member = Member;
  s.Encrypted = (Member.Flags & kFlagEncrypted) != 0;
  s.InPos = s.InCount = 0;
  s.PackedLeft = std::max<int64_t>(Member.PackedSize, 0);
  s.EndOfInput = false;
  s.BitBuf = 0;
  s.BitCount = 0;
  s.OutCount = 0;
  s.Produced = 0;
  s.Window.fill(0);
  s.WindowSize = 4096;
  s.WindowPos = 0;
  try {
    if (Member.Method == 1)
      s.Shrink = std::make_unique<TShrinkTables>();
    else if (Member.Method >= 2 && Member.Method <= 5)
      s.Followers = std::make_unique<std::array<TFollowerSet, 256>>();
    else if (Member.Method == 6)
      s.Trees = std::make_unique<TExplodeTables>();
    else
      return false;
  } catch (const std::bad_alloc&) {
    OldMethodsEnd();
    return false;
  }
  return true;
}

void OldMethodsEnd() {
  OldState.Shrink.reset();
  OldState.Followers.reset();
  OldState.Trees.reset();
}

int64_t OldMethodsBytesProduced() { return OldState.Produced; }

bool DecodeOldMember(TZipCommon& Zip, TStream32& Archive, TStream32* Output, const TOldMember& Member) {
  if (!OldMethodsBegin(Zip, Archive, Output, Member)) return false;
  struct TEnd {
    ~TEnd() { OldMethodsEnd(); }
  } end;
  try {
    if (Member.Method == 1)
      Unshrink();
    else if (Member.Method <= 5)
      Unreduce(Member.Method - 1);
    else
      Explode();
  } catch (const TOldStop&) {
    // Cancelled: RaiseError reported and returned; the member just ends.
  } catch (...) {
    try {
      FlushOutput();
    } catch (...) {
    }
    throw;
  }
  try {
    FlushOutput();
  } catch (const TOldStop&) {
  }
  return true;
}
