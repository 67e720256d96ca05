// Cost of the replication layer, each beside its floor in the same run:
// packing a participant-like object beside a minimal hand-written encoder of
// the same bytes (bench/hand_wire.h), into a buffer the caller keeps and into
// a new vector, and beside msgpack-c packing the same values as a map of
// slot number to value (given its strings as bytes already, so it is spared
// the narrowing ours does); unpacking beside a hand-written decoder; packing
// and unpacking a 60 KiB string beside memcpy of as many bytes; and one Sync
// of a listening host with 32 loopback guests and 1000 changed objects beside
// handing the same packets straight to the peers' ENet links.
//
// Each iteration times a batch of ours, then a batch of the floor; per-call
// times are medians over the batches, so that a batch preempted by another
// process counts against neither side. Counters: "ratio" = our time / the
// floor's; "memcpy_speed" = our speed as a fraction of memcpy's. Outputs are
// compared with the floor's or a byte-at-a-time reference; a difference
// fails the run. Run: build/bench/bench_replication
#include <benchmark/benchmark.h>
#include <msgpack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "bench/hand_wire.h"
#include "replication/host.h"
#include "replication/replication.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

const THandParticipant& ParticipantValues() {
  static const THandParticipant values = [] {
    THandParticipant p;
    p.text[0] = u"GUEST";
    p.text[1] = u"ann";
    p.number[0] = 1;
    p.number[1] = 42;
    p.number[2] = 7;
    return p;
  }();
  return values;
}

TGNetObjectRef Participant() {
  const THandParticipant& p = ParticipantValues();
  auto obj = TGNetObject::Create(1, OBJ_CREATED, nullptr, nullptr);
  for (int i = 0; i < 2; ++i) obj->SetString(i, p.text[i]);
  for (int i = 0; i < 3; ++i) obj->SetInt(2 + i, p.number[i]);
  return obj;
}

// 60 KiB of varied characters, some above 255.
TString BigText() {
  TString text(60 * 1024, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(32 + i * 7 % 400);
  return text;
}

TGNetObjectRef BigString() {
  auto obj = TGNetObject::Create(1, OBJ_CREATED, nullptr, nullptr);
  obj->SetString(0, BigText());
  return obj;
}

// The string's item as a byte-at-a-time narrowing writes it.
Bytes BigStringReference() {
  const std::string bytes = ToBytes(BigText());
  Bytes item(3 + bytes.size());
  item[0] = 0x60;
  item[1] = static_cast<uint8_t>(bytes.size() >> 8);
  item[2] = static_cast<uint8_t>(bytes.size());
  std::memcpy(item.data() + 3, bytes.data(), bytes.size());
  return item;
}

// Our pack into a buffer the caller keeps.
void PackInto(const TGNetObject& obj, Bytes& out) { obj.PackSlots(GNET_ALL_SLOTS, out); }

double Median(std::vector<double>& values) {
  auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Runs `ours` and `floor` `batch` times each per iteration and sets the
// median per-call times and their ratio.
template <class Ours, class Floor>
void Beside(benchmark::State& state, int batch, Ours&& ours, Floor&& floor) {
  std::vector<double> oursTimes, floorTimes;
  for (auto _ : state) {
    auto t0 = Clock::now();
    for (int i = 0; i < batch; ++i) ours();
    auto t1 = Clock::now();
    for (int i = 0; i < batch; ++i) floor();
    auto t2 = Clock::now();
    oursTimes.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / batch);
    floorTimes.push_back(std::chrono::duration<double, std::nano>(t2 - t1).count() / batch);
  }
  if (oursTimes.empty()) return;
  const double oursNs = Median(oursTimes), floorNs = Median(floorTimes);
  state.counters["ours_ns"] = oursNs;
  state.counters["floor_ns"] = floorNs;
  state.counters["ratio"] = oursNs / floorNs;
}

void PackParticipantBesideHandEncoder(benchmark::State& state) {
  auto obj = Participant();
  const THandParticipant& values = ParticipantValues();
  Bytes ours, hand(HandPackedSize(values));
  Beside(
      state, 256,
      [&] {
        PackInto(*obj, ours);
        benchmark::DoNotOptimize(ours.data());
        benchmark::ClobberMemory();
      },
      [&] {
        benchmark::DoNotOptimize(HandPack(values, hand.data()));
        benchmark::ClobberMemory();
      });
  if (ours != hand) state.SkipWithError("the packed bytes differ from the hand encoder's");
}

// The messages of a sync own their bytes: both sides make a new vector.
void PackParticipantNewVectorBesideHandEncoder(benchmark::State& state) {
  auto obj = Participant();
  const THandParticipant& values = ParticipantValues();
  Bytes ours, hand;
  Beside(
      state, 256,
      [&] {
        ours = obj->PackSlots(GNET_ALL_SLOTS);
        benchmark::DoNotOptimize(ours.data());
        benchmark::ClobberMemory();
      },
      [&] {
        Bytes bytes(HandPackedSize(values));
        HandPack(values, bytes.data());
        hand = std::move(bytes);
        benchmark::DoNotOptimize(hand.data());
        benchmark::ClobberMemory();
      });
  if (ours != hand) state.SkipWithError("the packed bytes differ from the hand encoder's");
}

void PackParticipantBesideMsgpack(benchmark::State& state) {
  auto obj = Participant();
  const THandParticipant& values = ParticipantValues();
  const std::string text[2] = {ToBytes(values.text[0]), ToBytes(values.text[1])};
  msgpack_sbuffer buffer;
  msgpack_sbuffer_init(&buffer);
  msgpack_packer packer;
  msgpack_packer_init(&packer, &buffer, msgpack_sbuffer_write);
  Bytes ours;
  Beside(
      state, 256,
      [&] {
        PackInto(*obj, ours);
        benchmark::DoNotOptimize(ours.data());
        benchmark::ClobberMemory();
      },
      [&] {
        msgpack_sbuffer_clear(&buffer);
        msgpack_pack_map(&packer, 5);
        for (int i = 0; i < 2; ++i) {
          msgpack_pack_uint8(&packer, static_cast<uint8_t>(i));
          msgpack_pack_str(&packer, text[i].size());
          msgpack_pack_str_body(&packer, text[i].data(), text[i].size());
        }
        for (int i = 0; i < 3; ++i) {
          msgpack_pack_uint8(&packer, static_cast<uint8_t>(2 + i));
          msgpack_pack_int32(&packer, values.number[i]);
        }
        benchmark::DoNotOptimize(buffer.data);
        benchmark::ClobberMemory();
      });
  msgpack_sbuffer_destroy(&buffer);
}

void UnpackParticipantBesideHandDecoder(benchmark::State& state) {
  const Bytes data = Participant()->PackSlots(GNET_ALL_SLOTS);
  auto obj = TGNetObject::Create(1, OBJ_SYNCED, nullptr, nullptr);
  THandParticipant hand;
  bool handOk = true;
  Beside(
      state, 256,
      [&] {
        obj->UnpackSlots(data);
        benchmark::ClobberMemory();
      },
      [&] {
        handOk = HandUnpack(data.data(), data.size(), hand) && handOk;
        benchmark::ClobberMemory();
      });
  const THandParticipant& values = ParticipantValues();
  bool same = handOk;
  for (int i = 0; i < 2; ++i) same = same && obj->GetString(i) == values.text[i] && hand.text[i] == values.text[i];
  for (int i = 0; i < 3; ++i) same = same && obj->GetInt(2 + i) == values.number[i] && hand.number[i] == values.number[i];
  if (!same) state.SkipWithError("an unpacked value differs");
}

void SetMemcpySpeed(benchmark::State& state) {
  if (state.counters.count("ratio")) state.counters["memcpy_speed"] = 1.0 / state.counters["ratio"];
}

void PackStringBesideMemcpy(benchmark::State& state) {
  auto obj = BigString();
  Bytes ours;
  PackInto(*obj, ours);
  Bytes copy(ours.size());
  Beside(
      state, 4,
      [&] {
        PackInto(*obj, ours);
        benchmark::DoNotOptimize(ours.data());
        benchmark::ClobberMemory();
      },
      [&] {
        std::memcpy(copy.data(), ours.data(), ours.size());
        benchmark::ClobberMemory();
      });
  SetMemcpySpeed(state);
  if (ours != BigStringReference()) state.SkipWithError("the packed bytes differ from the reference");
}

void UnpackStringBesideMemcpy(benchmark::State& state) {
  const Bytes data = BigStringReference();
  auto obj = TGNetObject::Create(1, OBJ_SYNCED, nullptr, nullptr);
  Bytes copy(data.size());
  Beside(
      state, 4,
      [&] {
        obj->UnpackSlots(data);
        benchmark::ClobberMemory();
      },
      [&] {
        std::memcpy(copy.data(), data.data(), data.size());
        benchmark::ClobberMemory();
      });
  SetMemcpySpeed(state);
  if (obj->GetString(0) != FromBytes(ToBytes(BigText()))) state.SkipWithError("the unpacked string differs");
}

BENCHMARK(PackParticipantBesideHandEncoder);
BENCHMARK(PackParticipantNewVectorBesideHandEncoder);
BENCHMARK(PackParticipantBesideMsgpack);
BENCHMARK(UnpackParticipantBesideHandDecoder);
BENCHMARK(PackStringBesideMemcpy);
BENCHMARK(UnpackStringBesideMemcpy);

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
