// What the room browser lists and joins, as plain rules: reading an address
// typed or listed, which address a participant shows a room, and which rooms
// are listed.
#include <gtest/gtest.h>

#include "lobby/room_address.h"
#include "lobby/room_list.h"
#include "lobby/socket.h"
#include "tests/lobby/lobby_rooms.h"

namespace {

TLocalRoom LocalRoom(const std::string& name, const std::string& address) {
  return {name, address, 42000, true, true};
}

int32_t Ip(const char* dotted) { return ParseDottedIp(dotted); }

}  // namespace

TEST(ParseRoomAddress, ReadsHostAndPortAndRefusesWhatCannotBeJoined) {
  struct {
    const char16_t* text;
    std::string host;
    int port;
    bool valid;
  } cases[] = {
      {u"10.0.0.5", "10.0.0.5", 42000, true},
      {u"  bob.example:4200 ", "bob.example", 4200, true},
      {u"host:65535", "host", 65535, true},
      {u"host:65536", "host", 65536, false},
      {u"host:0", "host", 0, false},
      {u"host:", "host", 42000, false},
      {u"host:12x", "host", 42000, false},
      {u"host:999999999999", "host", 42000, false},  // no overflow
      {u":42000", "", 42000, false},
      {u"", "", 42000, false},
      {u"two words", "two words", 42000, false},
      {u"a:b:1", "a:b", 1, false},  // IPv6 is not taken
  };
  for (const auto& c : cases) {
    TRoomAddress address = ParseRoomAddress(c.text, 42000);
    EXPECT_EQ(address.valid, c.valid) << ToBytes(c.text);
    if (!c.valid) continue;
    EXPECT_EQ(address.host, c.host) << ToBytes(c.text);
    EXPECT_EQ(address.port, c.port) << ToBytes(c.text);
  }
  // What the browser hands on reads back as it was meant.
  for (int port : {42000, 4200}) {
    TRoomAddress back = ParseRoomAddress(RoomAddressText("h.example", port, 42000), 42000);
    EXPECT_TRUE(back.valid && back.host == "h.example" && back.port == port) << port;
  }
  EXPECT_EQ(RoomAddressText("10.0.0.5", 42000, 42000), u"10.0.0.5");
}

TEST(ParticipantAddress, SetsMachinesApartAsTheHostSeesThem) {
  const TString lobbySeen = u"198.51.100.7";
  const int32_t lan = Ip("192.168.1.20");
  struct {
    const char* what;
    TString lobby;
    int32_t host;
    TString expected;
  } cases[] = {
      {"hosting, the lobby answered", lobbySeen, 0, lobbySeen},
      {"hosting without a lobby", u"", 0, u"192.168.1.20"},
      {"a host across the internet", lobbySeen, Ip("203.0.113.9"), lobbySeen},
      {"across the internet without a lobby", u"", Ip("203.0.113.9"), u"192.168.1.20"},
      {"a host on the local network", lobbySeen, Ip("192.168.1.30"), u"192.168.1.20"},
      {"a host behind the same router", lobbySeen, Ip("198.51.100.7"), u"192.168.1.20"},
      {"a host on this machine", lobbySeen, Ip("127.0.0.1"), u"192.168.1.20"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParticipantAddress(c.lobby, c.host, lan), c.expected) << c.what;
  EXPECT_EQ(ParticipantAddress(u"", 0, 0), u"");
}

TEST(ShownRooms, SilentHostsLeaveAndARoomBehindThisRouterIsListedOnce) {
  const TString own = u"198.51.100.7";  // where the lobby sees this machine
  std::vector<TLocalRoom> local = {LocalRoom("Bob Room", "192.168.1.30")};
  const TListedRoom bobLocal{u"Bob Room", u"192.168.1.30", 42000, true, false};
  const TListedRoom far{u"Far_Room", u"203.0.113.2", 42000, false, true};
  struct {
    const char* what;
    std::vector<TGNetServerRef> lobby;
    TString ownAddress;
    std::vector<TListedRoom> expected;
  } cases[] = {
      {"a silent host's room leaves",
       {LobbyRoom(u"Gone_Room", u"203.0.113.1"), LobbyRoom(u"Far_Room", u"203.0.113.2")},
       own,
       {far, bobLocal}},
      {"a local room seen through this machine's router is listed once",
       {LobbyRoom(u"Bob_Room", own.c_str())},
       own,
       {bobLocal}},
      {"a room behind this router that is not found here stays",
       {LobbyRoom(u"Eve_Room", own.c_str())},
       own,
       {{u"Eve_Room", own, 42000, false, true}, bobLocal}},
      {"without knowing this machine's address nothing is taken for a second sighting",
       {LobbyRoom(u"Bob_Room", own.c_str())},
       u"",
       {{u"Bob_Room", own, 42000, false, true}, bobLocal}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShownRooms(c.lobby, {u"203.0.113.1"}, local, c.ownAddress, 42000), c.expected)
        << c.what;
}
