#include "app/termination.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

#include "ui/event_queue.h"

namespace {

sigset_t TerminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

void EmitTerminate(void*, void*) { TEvent::Create(AppTerminate)->Emit(); }

void WaitForSignals(sigset_t set) {
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) == 0) PostAsyncOp(EmitTerminate, nullptr, nullptr);
  }
}

}  // namespace

void InstallTerminationSignals() {
  sigset_t set = TerminationSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread(WaitForSignals, set).detach();
}
