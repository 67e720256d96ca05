// When the kernel is told to hold new connections until their requests
// arrive, and when to stop.
#include <gtest/gtest.h>

#include "server/accept_deferral.h"

namespace {

// Accepts `count` connections, every `earlyEvery`th one early (0: none);
// how often the setting changed.
int AcceptMany(TAcceptDeferral& deferral, size_t count, size_t earlyEvery) {
  int changes = 0;
  for (size_t i = 1; i <= count; ++i)
    changes += deferral.Accepted(earlyEvery == 0 || i % earlyEvery != 0);
  return changes;
}

}  // namespace

TEST(AcceptDeferral, HoldsOnlyWhileConnectionsComeBeforeTheirRequests) {
  struct TCase {
    const char* what;
    size_t earlyEvery;
    bool holds;
  };
  const size_t rareEnough = DEFERRAL_SAMPLE / (DEFERRAL_EARLY - 1) + 1;
  for (const TCase& c : {TCase{"requests always there", 0, false},
                         TCase{"a few early ones", rareEnough, false},
                         TCase{"all early", 1, true},
                         TCase{"every fourth early", DEFERRAL_SAMPLE / DEFERRAL_EARLY, true}}) {
    TAcceptDeferral deferral;
    EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, c.earlyEvery), c.holds ? 1 : 0) << c.what;
    EXPECT_EQ(deferral.Holding(), c.holds) << c.what;
  }
}

TEST(AcceptDeferral, HoldingEndsAfterASpanForANewSample) {
  TAcceptDeferral deferral;
  AcceptMany(deferral, DEFERRAL_SAMPLE, 1);
  ASSERT_TRUE(deferral.Holding());
  // While holding, every connection comes with its request.
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SPAN - 1, 0), 0);
  EXPECT_TRUE(deferral.Accepted(true));
  EXPECT_FALSE(deferral.Holding());
  // The clients have calmed down: the next sample does not hold again.
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, 0), 0);
  EXPECT_FALSE(deferral.Holding());
  // They have not: it holds again.
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, 1), 1);
  EXPECT_TRUE(deferral.Holding());
}
