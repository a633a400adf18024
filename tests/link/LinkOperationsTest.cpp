// The queue of operations on the link: one at a time, in order, and a newer operation of a kind standing
// for one of the same kind that still waits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Frame.h"
#include "link/LinkOperations.h"
#include "tests/link/LinkTestRig.h"

namespace {

TEST(LinkOperationQueue, ANewerOperationOfAKindReplacesTheOneStillWaitingAndGoesLast) {
  TWatchedLinkRig rig;
  rig.AddUnit(1);
  ResetLinkOperations();
  static const int selection = 0;  // the kind: any address that stays put
  std::vector<std::string> ran;
  auto paced = [&](std::string name) {
    return [&ran, name] {
      ran.push_back(name);
      LinkState.Address = 1;
      RunCommand(cmdIdentify);
    };
  };
  rig.Tk.At(10'000, [&] {
    RunLinkOperation(&selection, paced("node 1"));
    RunLinkOperation(paced("plus"));
    RunLinkOperation(&selection, paced("node 2"));
    RunLinkOperation(&selection, paced("node 3"));
    EXPECT_EQ(QueuedLinkOperations(), 2);
  });
  RunLinkOperation(paced("first"));
  rig.Tk.RunUntilIdle();
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "plus", "node 3"}));
  EXPECT_FALSE(LinkOperationRunning());
}

}  // namespace
