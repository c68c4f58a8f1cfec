// Archives that libarchive (bsdtar) and Python's zipfile make at test time must extract here to
// the source tree. Both record the read-only state only in the Unix mode bits, which a reader
// of Windows attributes does not take, so that bit is not compared; bsdtar also marks folders
// by their trailing '/' alone, and both stream with data descriptors.
#include <gtest/gtest.h>

#include "tests/interop/extract_fixture.h"

using namespace extractfixture;

namespace {

// Non-ASCII names beside the usual tree: Python flags them UTF-8 (bit 11).
Tree MakeSourceWithNames(const std::string& root) {
  MakeSource(root);
  Put(root + "/Документы/Отчёт №1.txt", Text(2000));
  Put(root + "/日本語.txt", "japanese");
  Put(root + "/café – ü.txt", "accents");
  SetTime(root + "/Документы/Отчёт №1.txt", 1600000001);
  SetTime(root + "/日本語.txt", 1600000003);
  SetTime(root + "/café – ü.txt", 1600000005);
  return Snapshot(root);
}

void ExpectExtractsToSource(const Folder& d, const Tree& source) {
  Reader r(d / "a.zip", d / "out", "pw");
  ExpectIntact(r, source, d / "out", {.readOnly = false});
}

struct BsdtarCase {
  const char* name;
  const char* options;
};

void PrintTo(const BsdtarCase& c, std::ostream* os) { *os << c.name; }

class BsdtarExtract : public ::testing::TestWithParam<BsdtarCase> {};

TEST_P(BsdtarExtract, GivesBackTheSourceTree) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  ASSERT_EQ(Shell("cd " + Q(d / "src") + " && bsdtar --format zip " + GetParam().options + " -cf " + Q(d / "a.zip") +
                  " *"),
            0);
  ExpectExtractsToSource(d, source);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BsdtarExtract,
                         ::testing::Values(BsdtarCase{"Deflated", ""},
                                           BsdtarCase{"Stored", "--options zip:compression=store"},
                                           BsdtarCase{"Zip64", "--options zip:zip64"},
                                           BsdtarCase{"Enciphered",
                                                      "--options zip:encryption=traditional --passphrase pw"}),
                         [](const auto& info) { return std::string(info.param.name); });

// "bsdtar -cf a.zip -C src ." names every entry "./...", the folder itself included.
TEST(BsdtarExtractNames, DotPrefixedNamesLandInTheTarget) {
  Folder d;
  const Tree source = MakeSource(d / "src");
  ASSERT_EQ(Shell("bsdtar --format zip -cf " + Q(d / "a.zip") + " -C " + Q(d / "src") + " ."), 0);
  ExpectExtractsToSource(d, source);
}

// Python writes files through ZipFile.open, to a file (sizes in the local headers) or to a pipe
// (data descriptors after every member), with Zip64 local records when forced; folders through
// ZipFile.write.
const char* kPythonWriter =
    "import os,shutil,sys,zipfile\n"
    "src,out,method,stream,zip64=sys.argv[1],sys.argv[2],sys.argv[3],sys.argv[4]=='1',sys.argv[5]=='1'\n"
    "comp=zipfile.ZIP_DEFLATED if method=='deflate' else zipfile.ZIP_STORED\n"
    "f=sys.stdout.buffer if stream else open(out,'wb')\n"
    "with zipfile.ZipFile(f,'w',comp) as z:\n"
    "  for root,dirs,files in os.walk(src):\n"
    "    dirs.sort()\n"
    "    for n in dirs: p=os.path.join(root,n); z.write(p,os.path.relpath(p,src))\n"
    "    for n in sorted(files):\n"
    "      p=os.path.join(root,n)\n"
    "      i=zipfile.ZipInfo.from_file(p,os.path.relpath(p,src)); i.compress_type=comp\n"
    "      with open(p,'rb') as r, z.open(i,'w',force_zip64=zip64) as w: shutil.copyfileobj(r,w)\n";

struct PythonCase {
  const char* name;
  const char* method;
  bool stream;
  bool zip64 = false;
};

void PrintTo(const PythonCase& c, std::ostream* os) { *os << c.name; }

class PythonExtract : public ::testing::TestWithParam<PythonCase> {};

TEST_P(PythonExtract, GivesBackTheSourceTreeWithUtf8Names) {
  const PythonCase& c = GetParam();
  Folder d;
  const Tree source = MakeSourceWithNames(d / "src");
  const std::string args = Q(d / "src") + " " + Q(d / "a.zip") + " " + c.method + (c.stream ? " 1" : " 0") +
                           (c.zip64 ? " 1" : " 0");
  if (c.stream)
    ASSERT_EQ(Python(d, kPythonWriter, args, d / "a.zip"), 0);
  else
    ASSERT_EQ(Python(d, kPythonWriter, args), 0);
  // The names must really carry bit 11, and streamed members a data descriptor.
  ASSERT_EQ(Python(d,
                   "import sys,zipfile\n"
                   "z=zipfile.ZipFile(sys.argv[1])\n"
                   "i={x.filename:x for x in z.infolist()}\n"
                   "ok=i['日本語.txt'].flag_bits&0x800 and (not int(sys.argv[2]) or i['text.txt'].flag_bits&8)\n"
                   "sys.exit(0 if ok else 1)\n",
                   Q(d / "a.zip") + (c.stream ? " 1" : " 0")),
            0);
  ExpectExtractsToSource(d, source);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PythonExtract,
                         ::testing::Values(PythonCase{"Deflated", "deflate", false},
                                           PythonCase{"Stored", "store", false},
                                           PythonCase{"StreamedDeflated", "deflate", true},
                                           PythonCase{"StreamedStored", "store", true},
                                           PythonCase{"Zip64", "deflate", false, true},
                                           PythonCase{"StreamedZip64", "deflate", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
