// Writes seed inputs for the fuzz targets: packets exactly as the
// replication layer sends them (recorded by in-memory links), wrapped in the
// inputs' records (fuzz_input.h). Besides a guest's short visit at the
// replication level, what a room's guests (or a guest room's host) send:
// participant objects of every role, a subject, "MSG" and "ORDER" messages
// to the room's participants, the rooms' own actions, and strings as long
// as one message holds. Usage: fuzz_seeds <directory>
#include <cstdio>
#include <string>

#include "replication/replication.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/replication/memory_transport.h"

namespace {

bool Write(const std::string& path, const Bytes& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && ok;
}

// Everything a guest sends in a short visit, and what a host relays.
std::vector<Bytes> Traffic() {
  auto guest = NewReplicationHost();
  TRecordedPeer toHost = AddRecordedPeer(*guest);
  auto player = NewReplicatedObject(guest);
  SetSlotString(player, 0, u"GUEST");
  SetSlotString(player, 1, u"ann");
  SetSlotInt(player, 2, -1);
  SetSlotInt(player, 3, 300);
  SetSlotFloat(player, 4, 1.5f);
  auto subject = NewReplicatedObject(guest);
  SetSlotString(subject, 0, u"SUBJECT");
  SetSlotString(subject, 1, TString(600, u'x'));
  SyncReplication(guest);
  SetSlotInt(player, 3, 70000);
  SyncReplication(guest);

  // The host numbers its replicas after its own object, id 1.
  auto host = NewReplicationHost();
  auto hostObject = NewReplicatedObject(host);
  TRecordedPeer fromGuest = AddRecordedPeer(*host);
  for (const auto& packet : toHost.Sent()) host->ReceivePacket(fromGuest.peer, packet.data(), packet.size());
  auto note = NewMessageObject(guest);
  SetSlotString(note, 0, u"MSG");
  SetSlotString(note, 1, u"hello");
  SetSlotInt(note, 2, 1);
  // The guest learns of the host's object, then greets it. (A made-up
  // replica outside the guest's id map would be refused, and the seeds
  // would lack a message.)
  Bytes announce = FrameMsg(OBJ_CREATED, hostObject->_id, {});
  guest->ReceivePacket(toHost.peer, announce.data(), announce.size());
  SendMessageObject(note, guest->ObjectsCreated().back());
  CloseReplicatedObject(subject);
  SyncReplication(guest);
  return toHost.Sent();
}

// A process talking to a room target's room: it learns the room's objects
// by their ids there, and what it sends becomes records of one input.
class TSender {
 public:
  explicit TSender(uint8_t control) : _control(control) {}

  // The room's object `id`, made known here so that messages can reach it.
  TGNetObjectRef Learn(int32_t id) {
    Bytes announce = FrameMsg(OBJ_CREATED, id, {});
    _host->ReceivePacket(_link.peer, announce.data(), announce.size());
    return _host->ObjectsCreated().back();
  }
  TGNetObjectRef Participant(const TString& role, const TString& name, const TString& address,
                             int32_t age) {
    auto obj = NewReplicatedObject(_host);
    SetSlotString(obj, 0, role);
    SetSlotString(obj, 1, name);
    SetSlotInt(obj, 2, 0);
    SetSlotString(obj, 3, address);
    SetSlotInt(obj, 4, age);
    return obj;
  }
  void Send(const TString& kind, const TString& text, int32_t style, const TGNetObjectRef& to) {
    auto msg = NewMessageObject(_host);
    SetSlotString(msg, 0, kind);
    SetSlotString(msg, 1, text);
    SetSlotInt(msg, 2, style);
    SendMessageObject(msg, to);
  }
  // What left since the previous call, as records; `extra` control bits on
  // the last one (a tick, say).
  void Take(uint8_t extra = 0) {
    SyncReplication(_host);
    std::vector<Bytes>& sent = _link.record->sent;
    for (size_t i = 0; i < sent.size(); ++i)
      AppendFuzzRecord(_input, _control | (i + 1 == sent.size() ? extra : 0), sent[i]);
    sent.clear();
  }
  // A room's own action (fuzz_room.cpp's Act) with `text` as its input.
  void Act(int action, const std::string& text) {
    AppendFuzzRecord(_input, static_cast<uint8_t>(action << FUZZ_ACTION_SHIFT | FUZZ_SYNC),
                     Bytes(text.begin(), text.end()));
  }
  Bytes& Input() { return _input; }
  TGNetHostRef Host() const { return _host; }

 private:
  uint8_t _control;
  TGNetHostRef _host = NewReplicationHost();
  TRecordedPeer _link = AddRecordedPeer(*_host);
  Bytes _input;
};

// A hostile guest that behaves, then claims what only the host may.
Bytes RoomGuest() {
  TSender mallory(FUZZ_SYNC);
  auto host = mallory.Learn(FUZZ_HOST_PARTICIPANT_ID);
  auto guest = mallory.Learn(FUZZ_GUEST_PARTICIPANT_ID);
  auto me = mallory.Participant(u"GUEST", u"Mallory", u"10.0.0.9", 3);
  mallory.Take(FUZZ_TICK);
  SetSlotInt(me, 2, -1);
  mallory.Take(FUZZ_TICK);
  for (const auto& to : {host, guest}) mallory.Send(u"MSG", u"Mallory: hello", -1, to);
  mallory.Send(u"MSG", u"** Mallory requests a time extension ", 4, host);
  mallory.Take();
  mallory.Act(1, "/userlist");
  mallory.Act(1, "/ban mallory");
  mallory.Send(u"ORDER", u"KICK", 0, guest);
  mallory.Send(u"ORDER", u"SIDE", 1, guest);
  mallory.Send(u"MSG", u"Debater1*: the host speaks", 6, guest);
  mallory.Send(u"ORDER", u"KICK", 0, host);
  mallory.Take(FUZZ_TICK);
  auto boss = mallory.Participant(u"HOST", FUZZ_HOST_NAME, FUZZ_GUEST_ADDRESS, 99999);
  auto subject = NewReplicatedObject(mallory.Host());
  SetSlotString(subject, 0, u"SUBJECT");
  SetSlotString(subject, 1, u"red");
  SetSlotString(subject, 2, u"blue");
  SetSlotInt(subject, 3, 10);
  mallory.Participant(u"DEV", FUZZ_GUEST_NAME, u"", 99999);
  mallory.Take(FUZZ_TICK);
  CloseReplicatedObject(boss);
  mallory.Take(FUZZ_TICK);
  return mallory.Input();
}

// The guest room's host, as a hostile host would talk to it: the guest's
// own participant is the first object it made, and the ids of the host's
// participant and subject are taken there.
Bytes GuestsHost() {
  constexpr int32_t kGuestOwnId = 1;
  TSender host(FUZZ_TO_GUEST | FUZZ_SYNC);
  auto guest = host.Learn(kGuestOwnId);
  for (int32_t id : {FUZZ_HOST_PARTICIPANT_ID, FUZZ_SUBJECT_ID}) host.Learn(id + 1);
  auto boss = host.Participant(u"HOST", u"Boss", u"10.0.0.7", 7);
  host.Participant(u"GUEST", FUZZ_GUEST_NAME, FUZZ_GUEST_ADDRESS, 99999);
  host.Take(FUZZ_TICK);
  host.Send(u"MSG", u"\n\n** NEW TOPIC **\n\n", 4, guest);
  host.Send(u"ORDER", u"SIDE", 0, guest);
  host.Send(u"MSG", u"locked", 6, guest);
  host.Take(FUZZ_TICK);
  host.Act(2, "hello from the guest");
  host.Act(4, "\x02");
  host.Send(u"ORDER", u"KICK", 0, guest);
  host.Take(FUZZ_TICK);
  host.Act(7, "");
  CloseReplicatedObject(boss);
  host.Take(FUZZ_TICK | FUZZ_DROP);
  return host.Input();
}

// A guest's lines past the host's burst, each second's in one serve, so
// that the host's guard sends its notice within the serve that showed some;
// then the other hostile guest, at the honest guest's network address,
// reports that guest's address as its own, and neither leaves in time.
// Regression: the target took the lines shown after the notice's own sync
// for lines no rule writes (it went by the latest sync's messages).
Bytes Flood() {
  TSender mallory(0);
  auto host = mallory.Learn(FUZZ_HOST_PARTICIPANT_ID);
  mallory.Participant(u"GUEST", u"Mallory", u"10.0.0.9", 3);
  mallory.Take(FUZZ_SYNC);
  for (int second = 0; second < 3; ++second) {
    for (int line = 0; line < 15; ++line)
      mallory.Send(u"MSG", u"Mallory: line " + FromBytes(std::to_string(line)), -1, host);
    mallory.Take(FUZZ_SYNC | FUZZ_TICK);
  }
  TSender other(FUZZ_OTHER_PEER | FUZZ_SYNC);
  other.Participant(u"GUEST", FUZZ_GUEST_NAME, FUZZ_GUEST_ADDRESS, 1);
  other.Take();
  Bytes input = mallory.Input();
  input.insert(input.end(), other.Input().begin(), other.Input().end());
  for (int second = 0; second < 7; ++second) AppendFuzzRecord(input, FUZZ_TICK | FUZZ_SYNC, {});
  return input;
}

// Strings as long as one message holds: a participant's name, a line.
Bytes LongStrings() {
  TSender sender(FUZZ_SYNC);
  auto host = sender.Learn(FUZZ_HOST_PARTICIPANT_ID);
  sender.Participant(u"GUEST", TString(65000, u'n'), FUZZ_GUEST_ADDRESS, 1);
  sender.Take(FUZZ_TICK);
  sender.Send(u"MSG", TString(60000, u't'), 4, host);
  sender.Take(FUZZ_TICK);
  return sender.Input();
}

// A replica grown past one message by two updates, then a newcomer, whom
// the host cannot tell of it whole.
Bytes OversizedReplica() {
  TSender sender(FUZZ_SYNC);
  auto obj = sender.Participant(u"GUEST", u"Grower", FUZZ_GUEST_ADDRESS, 1);
  sender.Take();
  SetSlotString(obj, 1, TString(60000, u'g'));
  sender.Take();
  SetSlotString(obj, 3, TString(60000, u'a'));
  sender.Take(FUZZ_TICK);
  AppendFuzzRecord(sender.Input(), FUZZ_DROP | FUZZ_OTHER_PEER | FUZZ_SYNC, {});
  return sender.Input();
}

// One string item filling a whole message.
Bytes LongestString() {
  TSender sender(0);
  auto obj = NewReplicatedObject(sender.Host());
  SetSlotString(obj, 1, TString(GNET_MAX_DATA - 3, u's'));
  sender.Take(FUZZ_TICK);
  return sender.Input();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  std::string dir = argv[1];
  std::vector<Bytes> traffic = Traffic();
  Bytes visit;
  bool ok = true;
  for (size_t i = 0; i < traffic.size(); ++i) {
    Bytes single;
    AppendFuzzRecord(single, 0, traffic[i]);
    ok = ok && Write(dir + "/packet-" + std::to_string(i), single);
    AppendFuzzRecord(visit, i + 1 == traffic.size() ? FUZZ_SYNC : 0, traffic[i]);
  }
  // The other peer creates too, then leaves.
  AppendFuzzRecord(visit, FUZZ_DROP | FUZZ_OTHER_PEER, traffic[0]);
  ok = ok && Write(dir + "/visit", visit) && Write(dir + "/room-guest", RoomGuest()) &&
       Write(dir + "/guests-host", GuestsHost()) && Write(dir + "/long-strings", LongStrings()) &&
       Write(dir + "/longest-string", LongestString()) && Write(dir + "/flood", Flood()) &&
       Write(dir + "/oversized-replica", OversizedReplica());
  return ok ? 0 : 1;
}
