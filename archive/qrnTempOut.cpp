#include "archive/qrnTempOut.h"

#include <algorithm>

#include "archive/qrnBase.h"
#include "platform/files.h"
#include "platform/hooks.h"

namespace {

constexpr int64_t kTempCopyChunk = 100000;

std::string FolderOf(const std::string& Name) {
  const size_t p = Name.rfind('/');
  return p == std::string::npos ? std::string(".") : Name.substr(0, p + 1);
}

std::string OpenName(TZipCommon* Owner, uint16_t Mode, const std::string& FileName, const std::string& TempDir) {
  if (Mode != platform::kModeCreate) return FileName;
  return Owner->MakeTempFileName(TempDir);
}

int64_t CopyChunks(TStream32& To, TStream32* Source, int64_t Count, bool* Cancel) {
  if (Count == 0) {
    Source->SetPosition(0);
    Count = Source->Size();
  }
  const int64_t requested = Count;
  TTransferBuffer buf(static_cast<size_t>(std::min(std::max<int64_t>(Count, 1), kTempCopyChunk)));
  while (Count > 0 && !(Cancel != nullptr && *Cancel)) {
    const int32_t n = static_cast<int32_t>(std::min(kTempCopyChunk, Count));
    platform::ProcessMessages();
    Source->ReadBuffer(buf.data(), n);
    To.WriteBuffer(buf.data(), n);
    Count -= n;
  }
  return requested;
}

// The publishing of an output that its owner neither published nor cancelled, from a
// destructor: nothing may leave it. A failure that the move has not reported yet is reported.
template <typename Move>
void PublishForgotten(TZipCommon* Owner, const std::string& FinalName, Move move) noexcept {
  try {
    move();
  } catch (const E_RAISE&) {
    // Reported through OnError when raised.
  } catch (const std::exception& e) {
    Owner->ReportError(FinalName, e.what(), "0", E_WRITE_ERROR);
  } catch (...) {
    Owner->ReportError(FinalName, "", "0", E_WRITE_ERROR);
  }
}

// Passes on the failure of a move that is being handled. A full disk is reported here, once,
// and goes on as an error already reported; any other failure goes on as it is, for the
// caller to report.
[[noreturn]] void RethrowMoveFailure(TZipCommon* Owner, bool Full) {
  try {
    throw;
  } catch (const E_RAISE&) {
    throw;
  } catch (...) {
    if (!Full) throw;
  }
  Owner->ReportError(Owner->ArchiveFile(), "", "0", E_DISK_FULL);
  Throw_E_RAISE(ErrorMessage(E_DISK_FULL));
}

}  // namespace

bool SameDrive(const std::string& A, const std::string& B) {
  const int64_t a = platform::DeviceOf(A);
  return a >= 0 && a == platform::DeviceOf(B);
}

// --- TTempFileStream -------------------------------------------------------------------------

TTempFileStream::TTempFileStream(TZipCommon* AOwner, uint16_t AMode, const std::string& FileName,
                                 const std::string& TempDir)
    : TTempFileStream(AOwner, AMode, FileName, OpenName(AOwner, AMode, FileName, TempDir), 0) {}

TTempFileStream::TTempFileStream(TZipCommon* AOwner, uint16_t AMode, const std::string& FileName,
                                 const std::string& Opened, int)
    : TFileStream32(Opened, AMode), Owner(AOwner), TempName(Opened), IsTemporary(AMode == platform::kModeCreate),
      Mode(AMode) {
  if (IsTemporary) FinalName = FileName;
  // Nobody else writes the new archive, and a failed write fails the run that builds it.
  if (IsTemporary) SetWriteBehind(true);
}

TTempFileStream::~TTempFileStream() {
  if (!FMoveTried && std::uncaught_exceptions() <= FUncaught) PublishForgotten(Owner, FinalName, [this] { MoveToFinal(); });
  CloseHandle();
  if (IsTemporary && !TempName.empty()) platform::DeleteFile(TempName);
}

int32_t TTempFileStream::Read(void* Buffer, int32_t Count) {
  const int32_t n = TFileStream32::Read(Buffer, Count);
  Owner->BytesLeft -= Count;
  Owner->ReportTempMoveProgress(this);
  return n;
}

int64_t TTempFileStream::CopyFrom(TStream32* Source, int64_t Count) {
  ActiveProgressHandler = OwnProgressHandler;
  return CopyChunks(*this, Source, Count, OwnCancel);
}

void TTempFileStream::MoveToFinal() {
  if (!IsTemporary || Mode == 0 || FinalName.empty() || FMoveTried) return;
  FMoveTried = true;
  Owner->FireTmpFileMoveBegin(FinalName, TempName);
  try {
    const bool same = SameDrive(TempName, FolderOf(FinalName));
    const int64_t size = Size();
    FlushWrites();
    if (!platform::FlushFile(FHandle)) throw EWriteError("Error writing to file");
    if (same && !Close()) throw EWriteError("Error writing to file");
    Owner->MoveTempFile(this, FinalName, size, same, TempName);
  } catch (...) {
    const bool full = platform::LastErrorIsDiskFull();
    Owner->FireTmpFileMoveEnd();
    RethrowMoveFailure(Owner, full);
  }
  Owner->FireTmpFileMoveEnd();
}

// --- TTempMemStream --------------------------------------------------------------------------

TTempMemStream::TTempMemStream(TZipCommon* AOwner, uint16_t AMode, const std::string& FileName)
    : Owner(AOwner), IsTemporary(AMode == platform::kModeCreate), Mode(AMode) {
  if (IsTemporary)
    FinalName = FileName;
  else
    GivenName = FileName;
}

TTempMemStream::~TTempMemStream() {
  if (!FMoveTried && std::uncaught_exceptions() <= FUncaught) PublishForgotten(Owner, FinalName, [this] { MoveToFinal(); });
}

int32_t TTempMemStream::Read(void* Buffer, int32_t Count) {
  const int32_t n = TMemoryStream32::Read(Buffer, Count);
  Owner->BytesLeft -= Count;
  Owner->ReportTempMoveProgress(this);
  return n;
}

int64_t TTempMemStream::CopyFrom(TStream32* Source, int64_t Count) {
  ActiveProgressHandler = OwnProgressHandler;
  return CopyChunks(*this, Source, Count, OwnCancel);
}

void TTempMemStream::MoveToFinal() {
  if (!IsTemporary || Mode == 0 || FinalName.empty() || FMoveTried) return;
  FMoveTried = true;
  // The file that becomes FinalName is made first, beside it: the old archive stays whole
  // until the new one is complete.
  const std::string staging = platform::MakeTempFile(FolderOf(FinalName), "qrn");
  if (staging.empty()) Throw_EFOpenError(ErrorMessage(E_OPEN_ERROR));
  try {
    Owner->FireTmpFileMoveBegin(FinalName, "", this);
    Owner->FileTotal = Owner->ArchiveTotal = Owner->BytesLeft = Size();
    SetPosition(0);
    Owner->CopyOverFinal(*this, FinalName, Size(), staging);
  } catch (...) {
    const bool full = platform::LastErrorIsDiskFull();
    platform::DeleteFile(staging);
    RethrowMoveFailure(Owner, full);
  }
  Owner->FireTmpFileMoveEnd(this);
}
