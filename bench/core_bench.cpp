// Cost of the event path: emitting one event through the hook chain into the
// queue and taking it out again.
#include <benchmark/benchmark.h>

#include "ui/event_queue.h"

static void BM_EmitAndPoll(benchmark::State& state) {
  InitEvents();
  auto source = std::make_shared<TObject>();
  for (auto _ : state) {
    TEvent::Create(KeyDown, source, 1)->Emit();
    benchmark::DoNotOptimize(TEventQueue::Poll());
  }
}
BENCHMARK(BM_EmitAndPoll);
