// Cost of the replication layer: packing and unpacking slots beside a plain
// memcpy of as many bytes, and one Sync of a listening host with 32 loopback
// guests and 1000 changed objects beside handing the same packets straight
// to the peers' ENet links (the floor). Run: build/bench/bench_replication
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "replication/host.h"
#include "replication/replication.h"

namespace {

TGNetObjectRef Participant() {
  auto obj = TGNetObject::Create(1, OBJ_CREATED, nullptr, nullptr);
  obj->SetString(0, u"GUEST");
  obj->SetString(1, u"ann");
  obj->SetInt(2, 1);
  obj->SetInt(3, 42);
  obj->SetInt(4, 7);
  return obj;
}

TGNetObjectRef BigString() {
  auto obj = TGNetObject::Create(1, OBJ_CREATED, nullptr, nullptr);
  obj->SetString(0, TString(60 * 1024, u'q'));
  return obj;
}

void PackSlots(benchmark::State& state, TGNetObjectRef (*make)()) {
  auto obj = make();
  size_t bytes = obj->PackSlots(GNET_ALL_SLOTS).size();
  for (auto _ : state) benchmark::DoNotOptimize(obj->PackSlots(GNET_ALL_SLOTS));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void UnpackSlots(benchmark::State& state, TGNetObjectRef (*make)()) {
  auto data = make()->PackSlots(GNET_ALL_SLOTS);
  auto obj = TGNetObject::Create(1, OBJ_SYNCED, nullptr, nullptr);
  for (auto _ : state) {
    obj->UnpackSlots(data);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

void Memcpy(benchmark::State& state, TGNetObjectRef (*make)()) {
  auto data = make()->PackSlots(GNET_ALL_SLOTS);
  std::vector<uint8_t> copy(data.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), data.size());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

BENCHMARK_CAPTURE(PackSlots, participant, Participant);
BENCHMARK_CAPTURE(UnpackSlots, participant, Participant);
BENCHMARK_CAPTURE(Memcpy, participant, Participant);
BENCHMARK_CAPTURE(PackSlots, string60k, BigString);
BENCHMARK_CAPTURE(UnpackSlots, string60k, BigString);
BENCHMARK_CAPTURE(Memcpy, string60k, BigString);

constexpr int kGuests = 32;
constexpr int kObjects = 1000;

// A listening host with 32 guests on loopback and 1000 objects they all know.
struct TGroup {
  TGNetHostRef host;
  std::vector<TGNetHostRef> guests;
  TGNetObjectList objects;
  int32_t value = 0;

  TGroup() {
    host = NewReplicationHost();
    ListenReplication(host, 0);
    int port = host->LocalPort();
    for (int i = 0; i < kGuests; ++i) {
      guests.push_back(NewReplicationHost());
      std::atomic<bool> done{false};
      std::thread pump([&] {
        while (!done) SyncReplication(host);
      });
      ConnectReplication(guests.back(), u"127.0.0.1", port, 5000);
      done = true;
      pump.join();
    }
    for (int i = 0; i < kObjects; ++i) {
      objects.push_back(NewReplicatedObject(host));
      objects.back()->SetString(0, u"GUEST");
    }
    Settle();
  }
  // Every guest has taken in everything sent so far (bounded).
  void Settle() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      SyncReplication(host);
      for (const auto& guest : guests) SyncReplication(guest);
      bool sending = host->Peers().size() < kGuests;
      for (const auto& peer : host->Peers()) sending = sending || peer->IsSending();
      if (!sending || std::chrono::steady_clock::now() > deadline) return;
    }
  }
  void ChangeEveryObject() {
    ++value;
    for (const auto& obj : objects) obj->SetInt(1, value);
  }
};

TGroup& Group() {
  static TGroup group;
  return group;
}

void BM_SyncListeningHost(benchmark::State& state) {
  TGroup& group = Group();
  for (auto _ : state) {
    state.PauseTiming();
    group.ChangeEveryObject();
    state.ResumeTiming();
    SyncReplication(group.host);
    state.PauseTiming();
    group.Settle();
    state.ResumeTiming();
  }
  state.counters["packets"] = benchmark::Counter(kObjects * kGuests * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

// The floor: the same 1000 packets, each framed once, to the same 32 peers,
// straight through their links (ENet) without the host's logic.
void BM_ENetSendFloor(benchmark::State& state) {
  TGroup& group = Group();
  std::vector<std::vector<uint8_t>> packets;
  for (const auto& obj : group.objects) {
    obj->SetInt(1, 1);
    packets.push_back(FrameMsg(OBJ_MODIFIED, obj->_id, obj->PackSlots(obj->_modified)));
  }
  SyncReplication(group.host);
  group.Settle();
  const TGNetPeerList& peers = group.host->Peers();
  if (peers.empty()) {
    state.SkipWithError("no guest connected");
    return;
  }
  for (auto _ : state) {
    for (const auto& bytes : packets) {
      std::unique_ptr<TLinkPacket> packet = peers[0]->NewPacket(bytes.size());
      std::memcpy(packet->Data(), bytes.data(), bytes.size());
      for (const auto& peer : peers) peer->SendPacket(*packet);
    }
    group.host->PollNetwork();  // sends what is queued
    state.PauseTiming();
    group.Settle();
    state.ResumeTiming();
  }
  state.counters["packets"] = benchmark::Counter(kObjects * kGuests * static_cast<double>(state.iterations()),
                                                 benchmark::Counter::kIsRate);
}

// Fixed iterations: every one also waits, untimed, for 32 guests to take in
// 1000 packets each.
BENCHMARK(BM_SyncListeningHost)->Unit(benchmark::kMicrosecond)->Iterations(40);
BENCHMARK(BM_ENetSendFloor)->Unit(benchmark::kMicrosecond)->Iterations(40);

}  // namespace
