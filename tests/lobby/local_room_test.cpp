// The local network's pure rules: TXT records, instance names, and how local
// rooms join the lobby's list.
#include <gtest/gtest.h>

#include <random>

#include <avahi-common/domain.h>

#include "lobby/local_room.h"
#include "tests/lobby/lobby_rooms.h"

namespace {

TLocalRoom LocalRoom(const std::string& name, const std::string& address, int port = 42000,
                     bool sameGame = true) {
  return {name, address, port, sameGame, false};
}

}  // namespace

TEST(LocalRoomTxt, TheGameKeyIsReadBackFromTheRecord) {
  EXPECT_EQ(TxtGame(LocalRoomTxt("ColloquorRC2b")), "ColloquorRC2b");
}

TEST(LocalRoomTxt, ReadsTheFirstGameKeyWhateverItsCase) {
  struct {
    std::vector<std::string> txt;
    std::string game;
  } cases[] = {
      {{"GAME=ColloquorRC2b"}, "ColloquorRC2b"},
      {{"other=1", "game=a", "game=b"}, "a"},  // only the first occurrence counts
      {{"game=a=b"}, "a=b"},
      {{"game"}, ""},  // a key without a value
      {{"=game=x", "gamer=x"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(TxtGame(c.txt), c.game) << c.txt.size();
}

TEST(LocalRoomInstanceName, KeepsTextAndCutsAtACharacterBoundary) {
  struct {
    std::string room, instance;
  } cases[] = {
      {"Bob Room", "Bob Room"},
      {"Caf\xc3\xa9 #1", "Caf\xc3\xa9 #1"},  // UTF-8 stays
      {"Caf\xe9", "Caf\xc3\xa9"},            // a lone Latin-1 byte becomes UTF-8
      {"a\tb\177c\302\205", "abc"},          // control characters go
      {std::string(70, 'x'), std::string(63, 'x')},
      {std::string(62, 'x') + "\xc3\xa9", std::string(62, 'x')},  // no half character
      {"\x01\x02", "Room"},
  };
  for (const auto& c : cases) EXPECT_EQ(LocalRoomInstanceName(c.room), c.instance) << c.room;
}

TEST(LocalRoomInstanceName, AnyBytesGiveANameTheDaemonAccepts) {
  // Text that is not valid UTF-8 would be refused on the daemon's D-Bus link.
  std::mt19937 random(16);
  for (int i = 0; i < 2000; ++i) {
    std::string bytes(random() % 90, '\0');
    for (char& byte : bytes) byte = static_cast<char>(random());
    std::string name = LocalRoomInstanceName(bytes);
    ASSERT_TRUE(avahi_is_valid_service_name(name.c_str())) << i;
  }
}

TEST(MergeRoomLists, OneRowPerAddressWithLocalNamesAndLobbyOrder) {
  std::vector<TGNetServerRef> lobby = {
      LobbyRoom(u"Zed_Room", u"10.0.0.9"),
      LobbyRoom(u"Bob_Room", u"10.0.0.5"),
      LobbyRoom(u"Bob_Room_old", u"10.0.0.5"),  // a stale entry of the same host
      nullptr,
  };
  std::vector<TLocalRoom> local = {
      LocalRoom("Bob Room #2", "10.0.0.5"),  // renamed after a clash, still the lobby's room
      LocalRoom("Cy Room", "10.0.0.7"),
      LocalRoom("Cy Room", "10.0.0.7"),  // the same room through a second interface
      LocalRoom("Al Room", "10.0.0.6"),
      LocalRoom("Other game", "10.0.0.8", 42000, false),
      LocalRoom("Zed on another port", "10.0.0.9", 42001),
  };
  std::vector<TListedRoom> expected = {
      {u"Zed_Room", u"10.0.0.9", 42000, false, true},
      {u"Bob Room #2", u"10.0.0.5", 42000, true, true},
      {u"Al Room", u"10.0.0.6", 42000, true, false},
      {u"Cy Room", u"10.0.0.7", 42000, true, false},
      {u"Zed on another port", u"10.0.0.9", 42001, true, false},
  };
  EXPECT_EQ(MergeRoomLists(lobby, local, 42000), expected);
}

TEST(MergeRoomLists, EitherSourceAlone) {
  EXPECT_TRUE(MergeRoomLists({}, {}, 42000).empty());
  EXPECT_EQ(MergeRoomLists({LobbyRoom(u"R", u"h.example")}, {}, 42000),
            (std::vector<TListedRoom>{{u"R", u"h.example", 42000, false, true}}));
  EXPECT_EQ(MergeRoomLists({}, {LocalRoom("R", "10.0.0.1")}, 42000),
            (std::vector<TListedRoom>{{u"R", u"10.0.0.1", 42000, true, false}}));
}
