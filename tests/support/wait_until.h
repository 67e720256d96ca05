// Bounded polling for tests: wait for a condition instead of sleeping.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Calls `step` (which may do work, e.g. pump a host) and tests `condition`
// until it holds or `timeoutMs` passed. Returns whether it held.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000,
                      const std::function<void()>& step = nullptr) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (step) step();
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
