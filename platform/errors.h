#pragma once
// The runtime's error classes, shared by the engine, the GUI layer and the programs. They live
// here, outside the engine, so that the GUI layer can raise them without linking the engine.
#include <stdexcept>
#include <string>

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
// A failed open, read, write, flush or close of a text file. ErrorCode is the errno, 0 when the
// failure was not the system's (text the code page cannot hold).
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  EInOutError(const std::string& message, int errorCode) : std::runtime_error(message), ErrorCode(errorCode) {}
  int ErrorCode = 0;
};
// A text that does not read as a date or time in the fixed formats.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A settings store operation that failed (a value that could not be written, a value that is not
// a string).
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
