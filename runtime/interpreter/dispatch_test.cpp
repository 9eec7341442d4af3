#include "runtime/interpreter/dispatch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace interp {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The handlers the family files register and opcode_list.h agree: every
// opcode the list executes has its handler, in its family's file, once.
TEST(Dispatch, FamiliesCoverExactlyTheExecutedOpcodes) {
  EXPECT_THAT(checkDispatch(interpreterFamilies()), IsEmpty());
  const DispatchTable& table = dispatchTable();
  int executed = 0;
  for (const cpl::OpcodeInfo& op : cpl::kOpcodes) {
    EXPECT_EQ(table[op.code].run != nullptr, op.executed) << op.keyword;
    executed += op.executed;
  }
  // set, the arithmetic, if, conversions, string and date commands, the
  // database commands, the jumps, print and resetchan.
  EXPECT_EQ(executed, 53);
}

void handler(ScriptRun&) {}

TEST(Dispatch, DisagreementsAreNamed) {
  using F = cpl::OpcodeFamily;
  const HandlerEntry goto_[] = {{cpl::kGoto, handler}};
  const HandlerEntry twice[] = {{cpl::kGoto, handler}, {cpl::kGoto, handler}};
  const HandlerEntry notRun[] = {{cpl::kPlaytts, handler}};
  const HandlerEntry outside[] = {{104, handler}, {-1, handler}};
  const HandlerEntry null[] = {{cpl::kGoto, nullptr}};
  struct Case {
    const char* name;
    std::vector<FamilyHandlers> families;
    std::vector<std::string> want;
  } cases[] = {
      {"another family's file",
       {{F::kAssign, goto_}},
       {"opcode 66 goto: handler in another family's file"}},
      {"twice", {{F::kControl, twice}}, {"opcode 66 goto: registered twice"}},
      {"twice across files",
       {{F::kControl, goto_}, {F::kControl, goto_}},
       {"opcode 66 goto: registered twice"}},
      {"not executed",
       {{F::kLine, notRun}},
       {"opcode 83 playtts: handler for an opcode the list does not execute"}},
      {"outside the list",
       {{F::kControl, outside}},
       {"handler for opcode 104, which is not in the list",
        "handler for opcode -1, which is not in the list"}},
      {"null", {{F::kControl, null}}, {"opcode 66 goto: handler is null"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Only the faults of the case: the missing handlers of every other
    // executed opcode are left out here and counted below.
    std::vector<std::string> got;
    for (const std::string& p : checkDispatch(c.families))
      if (p.find("executed but no handler") == std::string::npos) got.push_back(p);
    EXPECT_EQ(got, c.want);
  }

  // Without the control file, its five commands have no handler.
  std::vector<FamilyHandlers> families = interpreterFamilies();
  families.erase(families.begin());
  EXPECT_THAT(checkDispatch(families),
              ElementsAre("opcode 66 goto: executed but no handler",
                          "opcode 73 print: executed but no handler",
                          "opcode 74 gotoout: executed but no handler",
                          "opcode 81 gotodef: executed but no handler",
                          "opcode 100 resetchan: executed but no handler"));
}

}  // namespace
}  // namespace interp
