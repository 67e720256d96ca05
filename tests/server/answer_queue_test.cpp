// The queue of a connection's unsent answers under partial sends.
#include <gtest/gtest.h>

#include "server/answer_queue.h"

TEST(AnswerQueue, PartialSendsDeliverEveryByteInOrderLongBodiesUncopied) {
  const auto longBody = std::make_shared<const std::string>(3 * SHARED_BODY_MIN_BYTES, 'L');
  for (size_t chunk : {size_t{1}, size_t{7}, SHARED_BODY_MIN_BYTES + 3, size_t{1} << 20}) {
    for (int maxPieces : {1, 2, 16}) {
      TAnswerQueue queue;
      queue.Text() += "head1|";
      queue.Append(longBody);
      queue.Text() += "head2|";
      queue.Append(std::make_shared<const std::string>("short\n"));
      queue.Append(longBody);
      iovec pieces[16];
      ASSERT_GE(queue.Gather(pieces, maxPieces), 1);
      if (maxPieces > 1) {
        EXPECT_EQ(pieces[1].iov_base, longBody->data());
      }
      // Send `chunk` bytes at a time, as a kernel taking part would; then
      // the emptied queue takes the next answer.
      std::string sent;
      for (const char* next : {"", "next"}) {
        queue.Text() += next;
        while (!queue.Empty()) {
          const int count = queue.Gather(pieces, maxPieces);
          size_t taken = 0;
          for (int i = 0; i < count && taken < chunk; ++i) {
            const size_t part = std::min(chunk - taken, pieces[i].iov_len);
            sent.append(static_cast<const char*>(pieces[i].iov_base), part);
            taken += part;
          }
          queue.Consume(taken);
        }
      }
      EXPECT_EQ(sent, "head1|" + *longBody + "head2|short\n" + *longBody + "next")
          << chunk << " " << maxPieces;
    }
  }
}
