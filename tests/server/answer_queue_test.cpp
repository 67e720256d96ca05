// The queue of a connection's unsent answers: what a series of partial
// sends takes from it, piece by piece.
#include <gtest/gtest.h>

#include "server/answer_queue.h"

namespace {

// Everything Gather offers, taken `chunk` bytes per "send" as a kernel
// taking part of it would.
std::string SendInChunks(TAnswerQueue& queue, size_t chunk, int maxPieces) {
  std::string sent;
  while (!queue.Empty()) {
    iovec pieces[16];
    const int count = queue.Gather(pieces, maxPieces);
    size_t taken = 0;
    for (int i = 0; i < count && taken < chunk; ++i) {
      const size_t part = std::min(chunk - taken, pieces[i].iov_len);
      sent.append(static_cast<const char*>(pieces[i].iov_base), part);
      taken += part;
    }
    queue.Consume(taken);
  }
  return sent;
}

}  // namespace

TEST(AnswerQueue, PartialSendsDeliverEveryByteInOrder) {
  const auto longBody = std::make_shared<const std::string>(3 * SHARED_BODY_MIN_BYTES, 'L');
  const auto shortBody = std::make_shared<const std::string>("short\n");
  for (size_t chunk : {size_t{1}, size_t{7}, SHARED_BODY_MIN_BYTES + 3, size_t{1} << 20}) {
    for (int maxPieces : {1, 2, 16}) {
      TAnswerQueue queue;
      queue.Text() += "head1|";
      queue.Append(longBody);
      queue.Text() += "head2|";
      queue.Append(shortBody);
      queue.Append(longBody);
      const std::string expected = "head1|" + *longBody + "head2|short\n" + *longBody;
      ASSERT_EQ(queue.Size(), expected.size());
      EXPECT_EQ(SendInChunks(queue, chunk, maxPieces), expected) << chunk << " " << maxPieces;
      EXPECT_EQ(queue.Size(), 0u);
      // The emptied queue takes the next answer.
      queue.Text() += "next";
      EXPECT_EQ(SendInChunks(queue, chunk, maxPieces), "next");
    }
  }
}

TEST(AnswerQueue, LongBodiesAreSentFromTheSharedStringShortOnesJoinTheText) {
  const auto longBody = std::make_shared<const std::string>(SHARED_BODY_MIN_BYTES + 1, 'L');
  TAnswerQueue queue;
  queue.Text() += "head|";
  queue.Append(std::make_shared<const std::string>("short"));
  queue.Append(longBody);
  iovec pieces[4];
  ASSERT_EQ(queue.Gather(pieces, 4), 2);
  EXPECT_EQ(std::string(static_cast<const char*>(pieces[0].iov_base), pieces[0].iov_len),
            "head|short");
  EXPECT_EQ(pieces[1].iov_base, longBody->data());
}
