// When the kernel is told to hold new connections until their requests
// arrive, and when to stop.
#include <gtest/gtest.h>

#include "server/accept_deferral.h"

namespace {

// Accepts `count` connections, every `earlyEvery`th one before its request
// (0: none); how often the setting changed.
int AcceptMany(TAcceptDeferral& deferral, size_t count, size_t earlyEvery) {
  int changes = 0;
  for (size_t i = 1; i <= count; ++i)
    changes += deferral.Accepted(earlyEvery == 0 || i % earlyEvery != 0);
  return changes;
}

}  // namespace

TEST(AcceptDeferral, HoldsWhileConnectionsComeBeforeTheirRequestsThenSamplesAgain) {
  const size_t tooFew = DEFERRAL_SAMPLE / (DEFERRAL_EARLY - 1) + 1;
  for (size_t earlyEvery : {size_t{0}, tooFew, DEFERRAL_SAMPLE / DEFERRAL_EARLY, size_t{1}}) {
    TAcceptDeferral deferral;
    const bool holds = earlyEvery != 0 && earlyEvery != tooFew;
    EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, earlyEvery), holds ? 1 : 0) << earlyEvery;
    EXPECT_EQ(deferral.Holding(), holds) << earlyEvery;
  }
  TAcceptDeferral deferral;
  AcceptMany(deferral, DEFERRAL_SAMPLE, 1);
  // Held connections come with their requests; after a span it lets a
  // sample through, holding again only if the clients are still busy.
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SPAN, 0), 1);
  EXPECT_FALSE(deferral.Holding());
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, 0), 0);
  EXPECT_EQ(AcceptMany(deferral, DEFERRAL_SAMPLE, 1), 1);
  EXPECT_TRUE(deferral.Holding());
}
