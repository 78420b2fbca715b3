// A planned file fault for the engine fuzz targets: the n-th read or write
// of a run fails or comes up short, and the plan records whether it fired.
#pragma once

#include <cstdint>
#include <string>

#include "app/file_io.h"

namespace snip::fuzz {

enum class FaultKind { None, ReadFails, WriteFails, WriteShort };

struct FaultPlan {
  FaultKind kind = FaultKind::None;
  int at = 0;  // which operation of that kind, from 0
  // Filled in while the run goes.
  int seen = 0;
  bool fired = false;
  std::string path;
  int64_t position = 0;
  size_t size = 0;
};

// What fired, for messages.
std::string Describe(const FaultPlan& plan);

// Installs the plan as the file fault hook until destroyed.
class FaultScope {
 public:
  explicit FaultScope(FaultPlan* plan);
  ~FaultScope();
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};

}  // namespace snip::fuzz
