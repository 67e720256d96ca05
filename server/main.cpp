// colloquor-lobby: the lobby web service that lists the hosted debate rooms.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "server/lobby_server.h"

namespace {

const char kUsage[] =
    "Usage: colloquor-lobby [--address ADDR] [--port PORT] [--max-rooms N]\n"
    "\n"
    "Serves the room lobby of Colloquor over HTTP: GET /gnet/gnet.php with\n"
    "opt=ping, add, ref, rem or list. Rooms not renewed for 600 s expire;\n"
    "one room per address and game key, at most 32 per address.\n"
    "\n"
    "  --address ADDR   address to listen on (default 0.0.0.0, every interface)\n"
    "  --port PORT      TCP port to listen on (default 80; 0 picks a free port)\n"
    "  --max-rooms N    most rooms held at once (default 10000)\n"
    "  --help           show this text\n"
    "\n"
    "Prints \"listening on ADDR:PORT\" once ready, then one line per request\n"
    "on standard output. SIGINT or SIGTERM stops it.\n";

bool ParseNumber(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// 0: go on; otherwise the exit status.
int ParseArguments(int argc, char** argv, TLobbyServerOptions& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    long value = 0;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return -1;
    }
    if (i + 1 >= argc) {
      std::cerr << "colloquor-lobby: " << arg << (arg.rfind("--", 0) == 0 ? " needs a value\n" : ": unknown argument\n") << kUsage;
      return 2;
    }
    const char* next = argv[++i];
    if (arg == "--address") {
      options.address = next;
    } else if (arg == "--port" && ParseNumber(next, 0, 65535, value)) {
      options.port = static_cast<int>(value);
    } else if (arg == "--max-rooms" && ParseNumber(next, 1, 1000000, value)) {
      options.maxRooms = static_cast<size_t>(value);
    } else {
      std::cerr << "colloquor-lobby: bad argument: " << arg << " " << next << "\n" << kUsage;
      return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  TLobbyServerOptions options;
  int status = ParseArguments(argc, argv, options);
  if (status != 0) return status < 0 ? 0 : status;

  // Block the stop signals in every thread; one thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  TLobbyServer server(options, SteadyMilliSecs, std::cout);
  if (!server.Bind()) {
    std::cerr << "colloquor-lobby: cannot listen on " << options.address << ":" << options.port
              << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  std::cout << "listening on " << options.address << ":" << server.Port() << std::endl;
  std::thread([&server, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
  }).detach();
  bool served = server.Serve();
  return served ? 0 : 1;
}
