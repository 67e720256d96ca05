// A real colloquor-lobby process on 127.0.0.1, on a free port it picks
// itself, with its request log in a file; and plain HTTP requests to it from
// any loopback address (the lobby keys rooms by the caller's address).
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/wait_until.h"
#include "tests/support/read_until_closed.h"

extern char** environ;

class TLobbyProcess {
 public:
  explicit TLobbyProcess(const char* binary) {
    char path[] = "/tmp/colloquor-lobby-log-XXXXXX";
    int fd = mkstemp(path);
    _logPath = path;
    char* argv[] = {const_cast<char*>(binary), const_cast<char*>("--address"),
                    const_cast<char*>("127.0.0.1"), const_cast<char*>("--port"),
                    const_cast<char*>("0"), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, 1);
    if (posix_spawn(&_pid, binary, &actions, nullptr, argv, environ) != 0) _pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    close(fd);
    WaitUntil([this] { return ReadPort(); }, 10000);
  }
  ~TLobbyProcess() {
    if (_pid > 0) {
      kill(_pid, SIGTERM);
      int status;
      if (!WaitUntil([&] { return waitpid(_pid, &status, WNOHANG) == _pid; }, 15000)) {
        kill(_pid, SIGKILL);
        waitpid(_pid, &status, 0);
      }
    }
    std::remove(_logPath.c_str());
  }

  int Port() const { return _port; }
  // Holds the lobby still (the system still accepts connections for it, and
  // nothing is answered) until Thaw. Returns once every thread of it has
  // stopped: the signal alone takes effect later, and a request sent
  // meanwhile could still be answered.
  void Freeze() const {
    kill(_pid, SIGSTOP);
    WaitUntil([this] { return Stopped(); }, 5000);
  }
  void Thaw() const { kill(_pid, SIGCONT); }
  std::string Address() const { return "127.0.0.1:" + std::to_string(_port); }
  std::string Log() const {
    std::ifstream file(_logPath);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  // GET /gnet/gnet.php?<query> from `source`; the answer's body, or "" when
  // none came within 5 s.
  std::string Get(const std::string& query, const char* source = "127.0.0.1") const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, source, &address.sin_addr);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    address.sin_port = htons(static_cast<uint16_t>(_port));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      std::string request = "GET /gnet/gnet.php?" + query + " HTTP/1.0\r\n\r\n";
      send(fd, request.data(), request.size(), MSG_NOSIGNAL);
      answer = ReadUntilClosed(fd, 5000);
    }
    close(fd);
    size_t body = answer.find("\r\n\r\n");
    return body == std::string::npos ? std::string() : answer.substr(body + 4);
  }

 private:
  bool ReadPort() {
    const std::string log = Log();
    const std::string prefix = "listening on 127.0.0.1:";
    size_t at = log.find(prefix);
    if (at == std::string::npos || log.find('\n', at) == std::string::npos) return false;
    _port = std::atoi(log.c_str() + at + prefix.size());
    return _port > 0;
  }

  // Every thread of the lobby is stopped ('T' in its /proc stat line).
  bool Stopped() const {
    const std::string tasks = "/proc/" + std::to_string(_pid) + "/task";
    DIR* folder = opendir(tasks.c_str());
    if (!folder) return false;
    bool stopped = true;
    while (dirent* entry = readdir(folder)) {
      if (entry->d_name[0] == '.') continue;
      std::ifstream stat(tasks + "/" + entry->d_name + "/stat");
      std::string line;
      std::getline(stat, line);
      size_t close = line.rfind(')');
      if (close == std::string::npos || close + 2 >= line.size() || line[close + 2] != 'T')
        stopped = false;
    }
    closedir(folder);
    return stopped;
  }

  pid_t _pid = 0;
  int _port = 0;
  std::string _logPath;
};

// One lobby for a whole test program, started before the first test and
// named in COLLOQUOR_LOBBY: register it with
//   testing::AddGlobalTestEnvironment(new TLobbyEnvironment)
// and reach it through TLobbyEnvironment::lobby.
class TLobbyEnvironment : public testing::Environment {
 public:
  static inline TLobbyProcess* lobby = nullptr;
  void SetUp() override {
    lobby = new TLobbyProcess(COLLOQUOR_LOBBY_BINARY);
    ASSERT_GT(lobby->Port(), 0) << "colloquor-lobby did not start";
    setenv("COLLOQUOR_LOBBY", lobby->Address().c_str(), 1);
  }
  void TearDown() override {
    delete lobby;
    lobby = nullptr;
  }
};
