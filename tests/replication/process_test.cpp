// Replication between real processes: guests in processes of their own
// talking through this process's listening host, and a listening host in
// another process that goes away.
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/replication/net_support.h"

extern char** environ;

namespace {

// A child running replication_peer, its stdout readable through a pipe.
class TChild {
 public:
  explicit TChild(std::vector<std::string> args) {
    args.insert(args.begin(), REPLICATION_PEER_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) _pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    _out = fds[0];
  }
  ~TChild() {
    if (_pid > 0 && !_exited) {
      kill(_pid, SIGKILL);
      waitpid(_pid, nullptr, 0);
    }
    if (_out >= 0) close(_out);
  }
  // True once the child has exited; its status is then in `status`.
  bool Exited() {
    if (!_exited && _pid > 0 && waitpid(_pid, &_status, WNOHANG) == _pid) _exited = true;
    return _exited;
  }
  int ExitCode() const { return _exited && WIFEXITED(_status) ? WEXITSTATUS(_status) : -1; }
  // One line of output, waiting at most `timeoutMs`.
  std::string ReadLine(int timeoutMs) {
    std::string line;
    char c;
    pollfd p{_out, POLLIN, 0};
    while (poll(&p, 1, timeoutMs) == 1 && read(_out, &c, 1) == 1 && c != '\n') line += c;
    return line;
  }

 private:
  pid_t _pid = -1;
  int _out = -1;
  int _status = 0;
  bool _exited = false;
};

}  // namespace

TEST(Processes, GuestsInOtherProcessesMeetAndLeaveThroughTheHost) {
  auto host = NewReplicationHost();
  int port = ListenOnFreePort(host);
  ASSERT_NE(port, 0);
  TChild ann({"guest", std::to_string(port), "ann", "bob"});
  TChild bob({"guest", std::to_string(port), "bob", "ann"});
  TPump pump({host});
  ASSERT_TRUE(pump.Until([&] { return ann.Exited() && bob.Exited(); }, 30000));
  EXPECT_EQ(ann.ExitCode(), 0) << "ann";
  EXPECT_EQ(bob.ExitCode(), 0) << "bob";
  ASSERT_TRUE(pump.Until([&] { return host->Peers().empty() && host->Objects().empty(); }));
  EXPECT_EQ(pump.Log(host).created.size(), 2u);
  EXPECT_TRUE(pump.Log(host).messages.empty());  // both greetings were forwarded
}

TEST(Processes, AHostProcessThatLeavesClosesItsReplicasHere) {
  TChild listener({"listen"});
  int port = std::atoi(listener.ReadLine(10000).c_str());
  ASSERT_GT(port, 0);
  auto guest = NewReplicationHost();
  ASSERT_EQ(ConnectReplication(guest, u"127.0.0.1", port, 10000), 1);
  auto own = NewReplicatedObject(guest);
  SetSlotString(own, 1, u"me");
  TPump pump({guest});
  ASSERT_TRUE(pump.Until([&] { return FindBySlot(guest, 1, u"host") != nullptr; }));
  auto hostObj = FindBySlot(guest, 1, u"host");
  auto note = NewMessageObject(guest);
  SetSlotString(note, 1, u"bye");
  SendMessageObject(note, hostObj);
  ASSERT_TRUE(pump.Until([&] { return listener.Exited() && guest->Objects().size() == 1; }, 30000));
  EXPECT_EQ(listener.ExitCode(), 0);
  EXPECT_TRUE(pump.Log(guest).Saw(pump.Log(guest).closed, hostObj));
  EXPECT_EQ(guest->Objects(), TGNetObjectList{own});
}
