// Reading a test socket until its peer closes, with a bound on the wait.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <string>

// Everything `fd` receives until the peer closes or `timeoutMs` passed.
inline std::string ReadUntilClosed(int fd, int timeoutMs) {
  std::string bytes;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 50) <= 0) continue;
    char buffer[4096];
    ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}
