#pragma once
// The runtime's text files: CP1251 bytes on disk, UTF-8 text in the program. Every failed open,
// read, write, flush or close raises EInOutError naming the file; text that CP1251 cannot hold
// is refused the same way and never written as '?'.
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace platform {

class TextFile {
 public:
  explicit TextFile(std::string path);
  // A file still open is closed without writing what was not yet flushed; a replacing rewrite
  // that was not closed leaves the old file as it was.
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  const std::string& Path() const { return FPath; }
  bool IsOpen() const { return FFd >= 0; }

  void Reset();    // open for reading; a missing file is "File not found"
  void Rewrite();  // create, or empty an existing file
  // Rewrite by way of a temporary file in the same folder that Close renames over the file:
  // a reader sees the old file or the new one, never a part of it, and a failure before Close
  // completes leaves the old file whole.
  void RewriteReplacing();
  void Append();   // open an existing file for appending; a missing file is "File not found"
  // Append, creating the file when it is missing; true when this call created it (so exactly
  // one of several writers that race sees true).
  bool AppendCreating();

  bool Eof();
  char ReadChar();  // the next byte (CP1251); reading past the end raises EInOutError

  void Write(std::string_view utf8);
  void WriteLn(std::string_view utf8 = {});  // the text and CR LF
  void Flush();  // hands the buffered bytes to the system
  void Close();

 private:
  enum class Mode { Closed, Reading, Writing };
  [[noreturn]] void Fail(int error) const;
  void OpenForWriting(int flags, bool mustExist);
  void Discard();

  std::string FPath;
  std::string FTempPath;  // set while a replacing rewrite is open
  int FFd = -1;
  Mode FMode = Mode::Closed;
  std::string FBuffer;
  size_t FReadPos = 0;
};

// The text of an errno for the runtime's I/O error ("File not found", "Access denied", ...).
std::string IoErrorText(int error);

}  // namespace platform
