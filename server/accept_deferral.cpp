#include "server/accept_deferral.h"

bool TAcceptDeferral::Accepted(bool requestThere) {
  ++_accepted;
  if (_holding) {
    if (_accepted < DEFERRAL_SPAN) return false;
    _holding = false;
    _accepted = 0;
    return true;
  }
  if (!requestThere) ++_early;
  if (_accepted < DEFERRAL_SAMPLE) return false;
  _holding = _early >= DEFERRAL_EARLY;
  _accepted = 0;
  _early = 0;
  return _holding;
}
