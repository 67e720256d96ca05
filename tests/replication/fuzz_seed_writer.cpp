// Writes seed inputs for replication_fuzz: packets exactly as the layer
// sends them (recorded by in-memory links), wrapped in the fuzz input's
// records. Usage: replication_fuzz_seeds <directory>
#include <cstdio>
#include <string>

#include "replication/replication.h"
#include "tests/replication/memory_transport.h"

namespace {

void Record(Bytes& out, uint8_t control, const Bytes& packet) {
  out.push_back(control);
  out.push_back(static_cast<uint8_t>(packet.size() >> 8));
  out.push_back(static_cast<uint8_t>(packet.size()));
  out.insert(out.end(), packet.begin(), packet.end());
}

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  std::string dir = argv[1];
  std::vector<Bytes> traffic = Traffic();
  Bytes visit;
  for (size_t i = 0; i < traffic.size(); ++i) {
    Bytes single;
    Record(single, 0, traffic[i]);
    if (!Write(dir + "/packet-" + std::to_string(i), single)) return 1;
    Record(visit, static_cast<uint8_t>(i + 1 == traffic.size() ? 0x80 : 0), traffic[i]);
  }
  Record(visit, 0x41, traffic[0]);  // the other peer creates too, then leaves
  return Write(dir + "/visit", visit) ? 0 : 1;
}
