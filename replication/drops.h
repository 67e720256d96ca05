// Why a host refused a received packet or left a packet unsent (or let a
// connection go), one counter per reason, so that a test or a log can say
// which rule applied. The guard's reasons are the application's to choose
// (replication/guard.h).
//
// Nothing a peer sends ends the process: its packet is checked, dropped when
// a rule refuses it, and counted here. Adding a reason is one line in
// GNET_DROP_REASONS; the enum, the counters and the names follow from it.
// Plain data, no I/O; counts only grow.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "replication/wire.h"

// X(name): one reason per line, in a stable order.
#define GNET_DROP_REASONS(X)                                                              \
  X(TooShort)            /* shorter than the 2-byte header */                             \
  X(TooLong)             /* longer than the largest message anybody sends */              \
  X(UnknownState)        /* a state other than 1, 2, 3 or 5 in the header */              \
  X(InvalidSlotType)     /* a slot item of type 0 or 7 */                                 \
  X(Truncated)           /* a slot item running past the end */                           \
  X(CreationOfIdZero)    /* id 0 names no object */                                       \
  X(RepeatedCreation)    /* the sender announced an id it has not closed */               \
  X(NoFreeId)            /* a creation while all 4095 ids are in use here */              \
  X(UpdateOfUnmappedId)  /* an update for no object the sender owns */                    \
  X(CloseOfUnmappedId)   /* a close for no object the sender owns */                      \
  X(AbsentAddressee)     /* a message for an id that names nothing here */                \
  X(StaleConnection)     /* a packet from a connection this host no longer holds */       \
  X(ArrivedWhileClosing) /* a packet received while the host was closing */               \
  X(SendToDepartingPeer) /* a send to a connection already going away */                  \
  X(UnnamedAddressee)    /* a message whose addressee the receiver has no id for */       \
  X(OversizedReplica)    /* a replica grown past one message, not announced to a newcomer */ \
  X(NetworkFailure)      /* the network refused a service call; ENet retries what it held */ \
  X(RoomFull)            /* a connection past the most a listening host holds, let go */   \
  X(Forbidden)           /* the host's guard: not this peer's to send */                  \
  X(OverQuota)           /* the host's guard: past this peer's share (objects, lengths) */ \
  X(TooFast)             /* the host's guard: past this peer's rate */

enum class TDropReason {
#define GNET_DROP_REASON_ENUMERATOR(name) name,
  GNET_DROP_REASONS(GNET_DROP_REASON_ENUMERATOR)
#undef GNET_DROP_REASON_ENUMERATOR
};

#define GNET_DROP_REASON_ONE(name) +1
constexpr size_t GNET_DROP_REASON_COUNT = 0 GNET_DROP_REASONS(GNET_DROP_REASON_ONE);
#undef GNET_DROP_REASON_ONE

// The reason's name as written above, e.g. "NoFreeId" (for logs).
const char* DropReasonName(TDropReason reason);

// The reason for a packet the wire check refused; `verdict` is not Ok.
TDropReason DropReasonOf(TPacketVerdict verdict);

class TDropCounts {
 public:
  void Add(TDropReason reason, int64_t count = 1) { _counts[static_cast<size_t>(reason)] += count; }
  int64_t Count(TDropReason reason) const { return _counts[static_cast<size_t>(reason)]; }
  // All reasons together.
  int64_t Total() const;

 private:
  std::array<int64_t, GNET_DROP_REASON_COUNT> _counts{};
};
