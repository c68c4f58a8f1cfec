#include "archive/qrnGbls.h"

void Throw_E_RAISE(const std::string& Message) { throw E_RAISE(Message); }
void Throw_EFOpenError(const std::string& Message) { throw EFOpenError(Message); }
