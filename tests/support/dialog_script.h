#pragma once

#include <FL/Fl.H>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "ui/event.h"

// Drives a dialog that runs its own loop: a toolkit time-out runs the current
// step every 10 ms until it reports done, then the next one. A script that
// stalls for 10 s ends the dialog with a terminate request instead of hanging.
class Script {
 public:
  using Step = std::function<bool()>;
  explicit Script(std::vector<Step> steps) : steps_(std::move(steps)) {
    Fl::add_timeout(0.01, Tick, this);
  }
  ~Script() { Fl::remove_timeout(Tick, this); }
  bool finished() const { return next_ == steps_.size(); }

 private:
  static void Tick(void* data) {
    auto* script = static_cast<Script*>(data);
    if (script->finished()) return;
    if (script->steps_[script->next_]()) {
      ++script->next_;
      script->ticks_ = 0;
    } else if (++script->ticks_ > 1000) {
      ADD_FAILURE() << "script stalled at step " << script->next_;
      TEvent::Create(AppTerminate)->Emit();
      return;
    }
    Fl::repeat_timeout(0.01, Tick, data);
  }
  std::vector<Step> steps_;
  size_t next_ = 0;
  int ticks_ = 0;
};
