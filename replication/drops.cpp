#include "replication/drops.h"

#include "core/error.h"

namespace {

#define GNET_DROP_REASON_NAME(name) #name,
constexpr const char* kNames[] = {GNET_DROP_REASONS(GNET_DROP_REASON_NAME)};
#undef GNET_DROP_REASON_NAME

}  // namespace

const char* DropReasonName(TDropReason reason) { return kNames[static_cast<size_t>(reason)]; }

TDropReason DropReasonOf(TPacketVerdict verdict) {
  switch (verdict) {
    case TPacketVerdict::TooShort: return TDropReason::TooShort;
    case TPacketVerdict::TooLong: return TDropReason::TooLong;
    case TPacketVerdict::UnknownState: return TDropReason::UnknownState;
    case TPacketVerdict::InvalidSlotType: return TDropReason::InvalidSlotType;
    case TPacketVerdict::Truncated: return TDropReason::Truncated;
    case TPacketVerdict::Ok: break;
  }
  throw TRuntimeError("GNet error");  // an accepted packet has no drop reason
}

int64_t TDropCounts::Total() const {
  int64_t total = 0;
  for (int64_t count : _counts) total += count;
  return total;
}
