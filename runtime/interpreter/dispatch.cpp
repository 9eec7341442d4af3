#include "runtime/interpreter/dispatch.h"

#include <cstdio>
#include <cstdlib>

namespace interp {

namespace {

std::string named(int16_t op) {
  const cpl::OpcodeInfo* info = cpl::findOpcode(op);
  const std::string name = info && !info->keyword.empty() ? std::string(info->keyword) : "(label)";
  return "opcode " + std::to_string(op) + " " + name;
}

DispatchTable build(std::span<const FamilyHandlers> families) {
  DispatchTable t{};
  for (const FamilyHandlers& f : families)
    for (const HandlerEntry& h : f.handlers)
      if (h.opcode >= 0 && h.opcode < cpl::kOpcodeCount)
        t[h.opcode] = DispatchEntry{h.run, h.reportsOwnTypes};
  return t;
}

}  // namespace

std::vector<FamilyHandlers> interpreterFamilies() {
  return {{cpl::OpcodeFamily::kControl, controlHandlers()},
          {cpl::OpcodeFamily::kAssign, assignHandlers()},
          {cpl::OpcodeFamily::kStringDate, stringDateHandlers()},
          {cpl::OpcodeFamily::kDatabase, databaseHandlers()}};
}

std::vector<std::string> checkDispatch(std::span<const FamilyHandlers> families) {
  std::vector<std::string> problems;
  std::array<int, cpl::kOpcodeCount> seen{};
  for (const FamilyHandlers& f : families)
    for (const HandlerEntry& h : f.handlers) {
      const cpl::OpcodeInfo* info = cpl::findOpcode(h.opcode);
      if (!info) {
        problems.push_back("handler for opcode " + std::to_string(h.opcode) +
                           ", which is not in the list");
        continue;
      }
      if (!h.run) problems.push_back(named(h.opcode) + ": handler is null");
      if (!info->executed)
        problems.push_back(named(h.opcode) + ": handler for an opcode the list does not execute");
      if (info->family != f.family)
        problems.push_back(named(h.opcode) + ": handler in another family's file");
      if (++seen[h.opcode] == 2) problems.push_back(named(h.opcode) + ": registered twice");
    }
  for (const cpl::OpcodeInfo& info : cpl::kOpcodes)
    if (info.executed && seen[info.code] == 0)
      problems.push_back(named(info.code) + ": executed but no handler");
  return problems;
}

const DispatchTable& dispatchTable() {
  static const DispatchTable table = [] {
    const std::vector<FamilyHandlers> families = interpreterFamilies();
    const std::vector<std::string> problems = checkDispatch(families);
    if (!problems.empty()) {
      for (const std::string& p : problems)
        std::fprintf(stderr, "interpreter dispatch table: %s\n", p.c_str());
      std::abort();
    }
    return build(families);
  }();
  return table;
}

}  // namespace interp
