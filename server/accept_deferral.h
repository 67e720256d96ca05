// Whether the kernel should hold new connections until their first bytes
// arrive (TCP_DEFER_ACCEPT) before an event loop is woken to accept them.
//
// Waking for the handshake pays while connections come one at a time: the
// loop's wake-up overlaps the client sending its request, which is there by
// the time the loop reads. When many clients connect at once, each busy
// with others, the loop accepts connections before their requests: each then
// costs a read that finds nothing, two epoll changes and a second wake-up.
// Then holding them in the kernel is cheaper. The policy watches whether
// accepted connections had their request at once and answers the setting;
// while holding, it lets a sample through unheld now and then to see whether
// holding still pays.
//
// Pure logic without I/O or clock; one per listening socket, its callers
// serialise.
#pragma once

#include <cstddef>

// Connections judged at a time without holding, and how many of them must
// have come before their request to start holding.
constexpr size_t DEFERRAL_SAMPLE = 32;
constexpr size_t DEFERRAL_EARLY = DEFERRAL_SAMPLE / 4;
// Connections accepted while holding before the next sample.
constexpr size_t DEFERRAL_SPAN = 1024;
// Seconds a silent connection is held before it is accepted anyway.
constexpr int DEFERRAL_SECONDS = 1;

class TAcceptDeferral {
 public:
  // One accepted connection; `requestThere`: whether bytes of its request
  // were waiting when it was first read. True when Holding() changed.
  bool Accepted(bool requestThere);
  bool Holding() const { return _holding; }

 private:
  bool _holding = false;
  size_t _accepted = 0;  // in the current sample or span
  size_t _early = 0;     // accepted before their request, in the sample
};
