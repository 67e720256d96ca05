// The bytes of the answers one connection still has to send, in order: text
// of its own (answer heads, short bodies) and long bodies shared with the
// lobby service's cache, which go out without being copied. Pure data, no
// I/O: the event loop gathers the front into iovecs for one sendmsg and
// consumes what the kernel took. One connection's, used by its loop's thread.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Bodies up to this many bytes are copied behind their head, so a short
// answer stays one piece of text.
constexpr size_t SHARED_BODY_MIN_BYTES = 1024;

class TAnswerQueue {
 public:
  // The text at the end of the queue, to append to (a new piece after a
  // shared body).
  std::string& Text();
  // Appends a body: copied when short, else shared (the caller must not
  // change it afterwards; the service's bodies are immutable).
  void Append(const std::shared_ptr<const std::string>& body);
  // Bytes not yet sent.
  size_t Size() const;
  bool Empty() const { return Size() == 0; }
  // Points up to `max` iovecs at the unsent bytes from the front; how many.
  // Valid until the queue changes.
  int Gather(iovec* pieces, int max) const;
  // Drops `bytes` (at most Size()) from the front, once sent.
  void Consume(size_t bytes);

 private:
  struct TPiece {
    std::string text;
    std::shared_ptr<const std::string> shared;  // when set, the piece's bytes
    const std::string& Bytes() const { return shared ? *shared : text; }
  };
  std::vector<TPiece> _pieces;
  size_t _sentOfFirst = 0;  // bytes of _pieces[0] already sent
};
