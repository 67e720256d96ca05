// A plain TCP listener on 127.0.0.1 for lobby tests where the exact bytes or
// a misbehaving server matter. Each connection's request (up to the empty
// line) is recorded, then the test's behaviour runs on the connection, then
// whatever else the client sends is recorded until it closes. Every wait is
// bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/read_until_closed.h"

class TRawServer {
 public:
  using Behaviour = std::function<void(int fd)>;

  TRawServer() {
    Listen(0);
    _thread = std::thread([this] { Run(); });
  }
  ~TRawServer() {
    _stop = true;
    _thread.join();
    if (_listener >= 0) close(_listener);
  }

  int Port() const { return _port; }
  void Set(Behaviour behaviour) {
    std::lock_guard<std::mutex> lock(_mutex);
    _behaviour = std::move(behaviour);
  }
  // The behaviour for requests that contain `part` (say "opt=ping"); the
  // one given to Set serves the others.
  void SetFor(const std::string& part, Behaviour behaviour) {
    std::lock_guard<std::mutex> lock(_mutex);
    _routes.emplace_back(part, std::move(behaviour));
  }
  // Everything each connection sent, in order of arrival.
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests;
  }
  void ClearRequests() {
    std::lock_guard<std::mutex> lock(_mutex);
    _requests.clear();
  }
  // Closing the listener makes connects fail; Resume takes the port again.
  void Pause() {
    std::lock_guard<std::mutex> lock(_mutex);
    close(_listener);
    _listener = -1;
  }
  bool Resume() {
    std::lock_guard<std::mutex> lock(_mutex);
    return Listen(_port);
  }

  // --- behaviours ---
  static Behaviour Answer(const std::string& bytes) {
    return [bytes](int fd) { SendAll(fd, bytes); };
  }
  // Says nothing until the client gives up.
  static Behaviour Silent() {
    return [](int fd) { WaitClosed(fd, 30000); };
  }
  // Sends `head`, then `byte` without end (64 MiB at most) until the client closes.
  static Behaviour Endless(const std::string& head, char byte) {
    return [head, byte](int fd) {
      if (!SendAll(fd, head)) return;
      std::string chunk(64 * 1024, byte);
      for (int i = 0; i < 1024 && SendAll(fd, chunk); ++i) {
      }
    };
  }
  // Sends `head`, then one byte every `everyMs` until the client closes (60 s at most).
  static Behaviour Drip(const std::string& head, int everyMs) {
    return [head, everyMs](int fd) {
      if (!SendAll(fd, head)) return;
      for (int i = 0; i < 60000 / everyMs; ++i) {
        if (WaitClosed(fd, everyMs) || !SendAll(fd, "a")) return;
      }
    };
  }

  static bool SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // True once the client has closed (or reset) within timeoutMs; what it
  // sends meanwhile is dropped.
  static bool WaitClosed(int fd, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                      deadline - std::chrono::steady_clock::now())
                      .count();
      pollfd entry{fd, POLLIN, 0};
      if (left <= 0 || poll(&entry, 1, static_cast<int>(left)) <= 0) return false;
      char buffer[512];
      if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
    }
  }

 private:
  bool Listen(int port) {
    _listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(_listener, 16) != 0)
      return false;
    socklen_t length = sizeof address;
    getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length);
    _port = ntohs(address.sin_port);
    return true;
  }

  int AcceptOne() {
    std::lock_guard<std::mutex> lock(_mutex);
    if (_listener < 0) return -1;
    pollfd entry{_listener, POLLIN, 0};
    if (poll(&entry, 1, 0) <= 0) return -1;
    return accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
  }

  // The request up to and including the empty line (2 s at most).
  static std::string ReadRequest(int fd) {
    std::string bytes;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (bytes.find("\r\n\r\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 50) <= 0) continue;
      char byte;
      if (recv(fd, &byte, 1, 0) != 1) break;
      bytes.push_back(byte);
    }
    return bytes;
  }

  // What the client sends until it closes (2 s at most).
  static std::string ReadRest(int fd) { return ReadUntilClosed(fd, 2000); }

  void Run() {
    while (!_stop) {
      int fd = AcceptOne();
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      std::string request = ReadRequest(fd);
      Behaviour behaviour;
      {
        std::lock_guard<std::mutex> lock(_mutex);
        behaviour = _behaviour;
        for (const auto& route : _routes)
          if (request.find(route.first) != std::string::npos) behaviour = route.second;
      }
      if (behaviour) behaviour(fd);
      shutdown(fd, SHUT_WR);
      request += ReadRest(fd);
      close(fd);
      std::lock_guard<std::mutex> lock(_mutex);
      _requests.push_back(request);
    }
  }

  std::mutex _mutex;
  int _listener = -1;
  int _port = 0;
  std::atomic<bool> _stop{false};
  Behaviour _behaviour;
  std::vector<std::pair<std::string, Behaviour>> _routes;
  std::vector<std::string> _requests;
  std::thread _thread;
};
