// One walk of the pending list: what is placed, what stays, and the order a gateway's
// requests keep when a sender comes free in the middle of the walk.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "delivery/PendingDispatch.h"
#include "list/NacNode.h"
#include "tests/common/RecordDump.h"

namespace {

class PendingDispatchTest : public ::testing::Test {
 protected:
  void TearDown() override { pending_.RemoveAll(false); }

  void Add(std::uint32_t address, const std::string& body) {
    auto* request = new CHttpData();
    request->address = address;
    request->body = body;
    pending_.AddTail(request, false);
  }
  std::vector<std::string> Left() {
    std::vector<std::string> bodies;
    for (const CHttpData* request : testing_support::Records<CHttpData>(pending_)) bodies.push_back(request->body);
    return bodies;
  }

  CHttpDataList& pending_ = GetPendingHttpDataList();
  std::atomic<int> end_{0};
};

// Gateway 1's reset finds every sender busy; one comes free before its rule is offered. The
// rule must wait behind the reset, while gateway 2, which never waited, goes on.
TEST_F(PendingDispatchTest, AGatewaysLaterRequestsWaitBehindOneThatFoundNoSender) {
  Add(1, "reset 1");
  Add(2, "rule 2a");
  Add(1, "rule 1");
  Add(2, "rule 2b");
  bool senderFree = false;
  std::vector<std::string> placed;
  DispatchPending(pending_, end_, [&](std::unique_ptr<CHttpData>& copy) {
    const bool take = copy->address == 2 || senderFree;
    senderFree = true;
    if (take) placed.push_back(copy->body);
    return take;
  });
  EXPECT_EQ(placed, (std::vector<std::string>{"rule 2a", "rule 2b"}));
  EXPECT_EQ(Left(), (std::vector<std::string>{"reset 1", "rule 1"}));

  DispatchPending(pending_, end_, [&](std::unique_ptr<CHttpData>& copy) {
    placed.push_back(copy->body);
    return true;
  });
  EXPECT_EQ(placed, (std::vector<std::string>{"rule 2a", "rule 2b", "reset 1", "rule 1"}));
  EXPECT_TRUE(Left().empty());
}

// A copy that cannot be placed (it threw) stays, and holds its gateway's later requests; a
// set end flag stops the walk with the rest untouched.
TEST_F(PendingDispatchTest, AFailedPlacingHoldsItsGatewayAndTheEndFlagStopsTheWalk) {
  Add(1, "a");
  Add(1, "b");
  Add(2, "c");
  DispatchPending(pending_, end_, [&](std::unique_ptr<CHttpData>& copy) -> bool {
    if (copy->body == "a") throw std::bad_alloc();
    end_ = copy->body == "c" ? 1 : 0;
    return true;
  });
  EXPECT_EQ(Left(), (std::vector<std::string>{"a", "b"}));
  Add(3, "d");
  DispatchPending(pending_, end_, [](std::unique_ptr<CHttpData>&) { return true; });
  EXPECT_EQ(Left(), (std::vector<std::string>{"a", "b", "d"}));
}

}  // namespace
