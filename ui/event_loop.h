// The loop every screen of the program runs (the text prompt, the room
// browser, the room): wait on the process-wide event queue and hand each
// event to the screen's handler until the handler returns a result.
//
// Main thread only. The handler may open modal dialogs, which wait on the
// same queue; the event it was handed stays valid until it returns.
#pragma once

#include <optional>
#include <utility>

#include "ui/event_queue.h"

// `handle(const TEvent&)` returns a std::optional: empty to wait for the next
// event, a value to end the loop with it. Returns that value.
template <typename THandler>
auto RunEventLoop(THandler&& handle) {
  for (;;) {
    TEventQueue::Wait();
    // Held here: a dialog inside the handler makes newer events current.
    const TEventRef event = TEventQueue::Current();
    if (auto result = handle(*event)) return *std::move(result);
  }
}
