// colloquor-lobby: the lobby web service that lists the hosted debate rooms.
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
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
    "on standard output. SIGINT or SIGTERM stops it, with a last line saying so.\n"
    "Refuses to start when another process holds the port.\n";

bool ParseNumber(const char* text, long low, long high, long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtol(text, &end, 10);
  return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

// The options that take a value: name and how the value is stored.
struct TOption {
  const char* name;
  bool (*store)(const char* value, TLobbyServerOptions& options);
};

const TOption kOptions[] = {
    {"--address",
     [](const char* value, TLobbyServerOptions& options) {
       options.address = value;
       return *value != '\0';
     }},
    {"--port",
     [](const char* value, TLobbyServerOptions& options) {
       long number = 0;
       if (!ParseNumber(value, 0, 65535, number)) return false;
       options.port = static_cast<int>(number);
       return true;
     }},
    {"--max-rooms",
     [](const char* value, TLobbyServerOptions& options) {
       long number = 0;
       if (!ParseNumber(value, 1, 1000000, number)) return false;
       options.maxRooms = static_cast<size_t>(number);
       return true;
     }},
};

int Refuse(const std::string& problem) {
  std::cerr << "colloquor-lobby: " << problem << "\n" << kUsage;
  return 2;
}

// 0: go on; otherwise the exit status.
int ParseArguments(int argc, char** argv, TLobbyServerOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return -1;
    }
    const TOption* option = nullptr;
    for (const TOption& known : kOptions)
      if (arg == known.name) option = &known;
    if (!option) return Refuse("unknown option: " + arg);
    if (i + 1 >= argc) return Refuse(arg + " needs a value");
    const char* value = argv[++i];
    if (!option->store(value, options)) return Refuse("bad value for " + arg + ": " + value);
  }
  return 0;
}

// Every connection holds a descriptor; allow as many as the hard limit does.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
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
  RaiseDescriptorLimit();

  TLobbyServer server(options, SteadyMilliSecs, std::cout);
  if (!server.Bind()) {
    std::cerr << "colloquor-lobby: cannot listen on " << options.address << ":" << options.port
              << ": " << server.BindError() << "\n";
    return 1;
  }
  std::cout << "listening on " << options.address << ":" << server.Port() << std::endl;
  std::atomic<int> stopSignal{0};
  std::thread([&server, &stopSignal, stopSignals] {
    int signal = 0;
    sigwait(&stopSignals, &signal);
    stopSignal = signal;
    server.Stop();
  }).detach();
  server.Serve();
  std::cout << "stopped on " << (stopSignal == SIGINT ? "SIGINT" : "SIGTERM") << std::endl;
  return 0;
}
