#pragma once
// Disk and volume services. Placeholder classes: the volume services replace this file, keeping
// these two names (every archive component owns one TDiskManager).
#include "archive/qrnGbls.h"

class TDiskCommon : public TObject {};
class TDiskManager : public TDiskCommon {};
