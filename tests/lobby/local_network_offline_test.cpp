// The local-network modules where there is nothing to find: no system bus
// (so no avahi-daemon) and no router. Run in a namespace with only a loopback
// device (tests/support/in_netns.sh).
#include <gtest/gtest.h>

#include <cstdlib>

#include "lobby/local_room_browser.h"
#include "lobby/local_room_publisher.h"
#include "lobby/port_forward.h"
#include "tests/support/wait_until.h"

namespace {

class NothingToFind : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Read by the D-Bus library when the first connection is made.
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/colloquor-test-bus", 1);
  }
};

TEST_F(NothingToFind, WithoutADaemonPublishingAndBrowsingSayUnavailable) {
  TLocalRoomPublisher publisher("Bob Room", 42000, "ColloquorRC2b");
  TLocalRoomBrowser browser("ColloquorRC2b");
  EXPECT_TRUE(WaitUntil([&] {
    return publisher.Status().state == TLocalRoomPublisher::PUBLISH_UNAVAILABLE &&
           browser.State() == TLocalRoomBrowser::BROWSE_UNAVAILABLE;
  }));
  EXPECT_TRUE(browser.Rooms().empty());
}

TEST_F(NothingToFind, WithoutARouterForwardingFailsAndEndsCleanly) {
  if (std::getenv("COLLOQUOR_SHARED_NET"))
    GTEST_SKIP() << "needs a private network namespace: a router here could answer";
  TPortForward forward(42000);
  EXPECT_TRUE(WaitUntil([&] { return forward.Status().state == FORWARD_FAILED; }, 30000));
  EXPECT_TRUE(forward.Remove(5000));
  EXPECT_EQ(forward.Status().state, FORWARD_REMOVED);
}

}  // namespace
