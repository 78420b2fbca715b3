#include "fault_plan.h"

namespace snip::fuzz {

FaultScope::FaultScope(FaultPlan* plan) {
  if (plan->kind == FaultKind::None) return;
  snip::SetFileFaultHook([plan](FileOp op, const std::string& path, int64_t position, size_t n) -> int64_t {
    bool read = op == FileOp::Read;
    bool write = op == FileOp::Write;
    bool mine = plan->kind == FaultKind::ReadFails ? read : write;
    if (!mine || plan->fired) return static_cast<int64_t>(n);
    if (plan->seen++ != plan->at) return static_cast<int64_t>(n);
    if (plan->kind == FaultKind::WriteShort && n == 0) return 0;
    plan->fired = true;
    plan->path = path;
    plan->position = position;
    plan->size = n;
    if (plan->kind == FaultKind::WriteShort) return static_cast<int64_t>(n / 2);
    return -1;
  });
}

std::string Describe(const FaultPlan& plan) {
  static const char* const kinds[] = {"no fault", "read fails", "write fails", "write comes up short"};
  return std::string(kinds[static_cast<int>(plan.kind)]) + " (operation " + std::to_string(plan.at) + ", " +
         std::to_string(plan.size) + " bytes at " + std::to_string(plan.position) + " of " + plan.path + ")";
}

FaultScope::~FaultScope() { snip::SetFileFaultHook(nullptr); }

}  // namespace snip::fuzz
