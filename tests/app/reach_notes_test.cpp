// The lines a hosted room writes about how it can be reached: each outcome
// once, when known, again only when it turns; the lobby's failure told with
// whether the local network still finds the room.
#include <gtest/gtest.h>

#include "app/reach_notes.h"

namespace {

using TLines = std::vector<TString>;
constexpr auto WAITING = TLocalRoomPublisher::PUBLISH_WAITING;
constexpr auto PUBLISHED = TLocalRoomPublisher::PUBLISH_DONE;
constexpr auto NO_DAEMON = TLocalRoomPublisher::PUBLISH_UNAVAILABLE;

TReachNews News(std::optional<TLobbyAnswer> lobby, TLocalRoomPublisher::TState published,
                TForwardState forward, const std::string& outside = "") {
  TReachNews news;
  news.lobby = lobby;
  news.published = published;
  news.forward.state = forward;
  news.forward.externalAddress = outside;
  return news;
}

}  // namespace

TEST(ReachNotes, EachOutcomeOnceWhenKnown) {
  struct {
    const char* what;
    std::vector<TReachNews> steps;
    std::vector<TLines> expected;  // what each step writes
  } cases[] = {
      {"a lobby that takes the room goes unmentioned; the router maps the port",
       {News(std::nullopt, WAITING, FORWARD_TRYING), News(LOBBY_OK, WAITING, FORWARD_TRYING),
        News(LOBBY_OK, PUBLISHED, FORWARD_ACTIVE, "11.231.0.1"),
        News(LOBBY_OK, PUBLISHED, FORWARD_ACTIVE, "11.231.0.1")},
       {{},
        {},
        {u"Port 42000 forwarded by your router; guests outside your network join at 11.231.0.1"},
        {}}},
      {"an unreachable lobby waits for the local network's answer",
       {News(LOBBY_UNREACHABLE, WAITING, FORWARD_TRYING),
        News(LOBBY_UNREACHABLE, PUBLISHED, FORWARD_FAILED),
        News(LOBBY_UNREACHABLE, PUBLISHED, FORWARD_FAILED)},
       {{},
        {u"The room could not be announced to the lobby at lobby.example:80; people on your "
         u"local network can still find it",
         u"Guests outside your network may not reach you: forward UDP port 42000"},
        {}}},
      {"a lobby that refused, and no avahi-daemon",
       {News(LOBBY_REFUSED, NO_DAEMON, FORWARD_TRYING)},
       {{u"The lobby at lobby.example:80 refused to list the room (check that ColloquorRC2b is "
         u"fully up to date), and it could not be announced on your local network; guests can "
         u"still join it by this machine's address"}}},
      {"forwarding that turns is told again; a retry in between is not",
       {News(LOBBY_OK, PUBLISHED, FORWARD_FAILED), News(LOBBY_OK, PUBLISHED, FORWARD_TRYING),
        News(LOBBY_OK, PUBLISHED, FORWARD_ACTIVE), News(LOBBY_OK, PUBLISHED, FORWARD_REMOVED)},
       {{u"Guests outside your network may not reach you: forward UDP port 42000"},
        {},
        {u"Port 42000 forwarded by your router"},
        {}}},
      {"a router whose own outside address is private is behind another one",
       {News(LOBBY_OK, PUBLISHED, FORWARD_ACTIVE, "192.168.0.2")},
       {{u"Port 42000 forwarded by your router, but its outside address 192.168.0.2 is behind "
         u"another router: guests outside your network may not reach you"}}},
  };
  for (const auto& c : cases) {
    TReachNotes notes(u"lobby.example:80", u"ColloquorRC2b");
    ASSERT_EQ(c.steps.size(), c.expected.size()) << c.what;
    for (size_t i = 0; i < c.steps.size(); ++i)
      EXPECT_EQ(notes.Take(c.steps[i]), c.expected[i]) << c.what << ", step " << i;
  }
}
