// The replication transport in memory, for driving hosts without a network:
// a link that records what its peer sends (and can be told its connection is
// going away), and an endpoint that hands out the events a test scripts.
#pragma once

#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "replication/host.h"
#include "replication/transport.h"

using Bytes = std::vector<uint8_t>;

// What a recording link saw; shared with the test, since the peer owns the link.
struct TLinkRecord {
  std::vector<Bytes> sent;
  int packetsMade = 0;  // packets this link framed (for itself or others)
  bool connected = true;
  bool disconnectRequested = false;
  bool endedNow = false;  // DisconnectNow
  TNetAddress address;
};

class TRecordingLink : public TPeerLink {
 public:
  explicit TRecordingLink(std::shared_ptr<TLinkRecord> record) : _record(std::move(record)) {}
  TConnectionId Connection() const override { return {_record.get(), 0}; }
  TNetAddress Address() const override { return _record->address; }
  bool IsConnected() const override { return _record->connected; }
  bool IsSending() const override { return false; }
  std::unique_ptr<TLinkPacket> NewPacket(size_t size) override {
    ++_record->packetsMade;
    return TPeerLink::NewPacket(size);
  }
  void Send(TLinkPacket& packet) override {
    _record->sent.emplace_back(packet.Data(), packet.Data() + packet.Size());
  }
  void Disconnect() override { _record->disconnectRequested = true; }
  void DisconnectNow() override { _record->endedNow = true; }

 private:
  std::shared_ptr<TLinkRecord> _record;
};

// A peer of `host` over a recording link.
struct TRecordedPeer {
  TGNetPeerRef peer;
  std::shared_ptr<TLinkRecord> record;
  const std::vector<Bytes>& Sent() const { return record->sent; }
};

inline TRecordedPeer AddRecordedPeer(TGNetHost& host, uint32_t ip = 0) {
  auto record = std::make_shared<TLinkRecord>();
  record->address.ip = ip;
  return {host.AddPeer(std::make_unique<TRecordingLink>(record)), record};
}

// Hands out the events pushed into `events`, in order; sends nothing itself.
class TScriptedEndpoint : public TNetEndpoint {
 public:
  explicit TScriptedEndpoint(std::shared_ptr<std::deque<TNetEvent>> events) : _events(std::move(events)) {}
  int Port() const override { return 0; }
  void Poll() override {}
  size_t Pending() const override { return _events->size(); }
  bool Next(TNetEvent& event) override {
    if (_events->empty()) return false;
    event = std::move(_events->front());
    _events->pop_front();
    return true;
  }
  size_t DropPending() override {
    size_t received = 0;
    for (const auto& event : *_events) received += event.kind == TNetEvent::TKind::Received;
    _events->clear();
    return received;
  }
  void Wait(int32_t) override {}
  void Flush() override {}

 private:
  std::shared_ptr<std::deque<TNetEvent>> _events;
};

inline TNetEvent ReceivedEvent(TConnectionId from, const Bytes& bytes) {
  TNetEvent event;
  event.kind = TNetEvent::TKind::Received;
  event.connection = from;
  event.packet = std::make_unique<TBytesPacket>(bytes.size());
  if (!bytes.empty()) std::memcpy(event.packet->Data(), bytes.data(), bytes.size());
  return event;
}
