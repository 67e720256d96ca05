// The room browser as a real dialog on an X display, listing the rooms of a
// real colloquor-lobby on 127.0.0.1, driven with real clicks and keys. No
// local network here (the tests name a system bus that does not exist); the
// e2e tests list local rooms.
#include "tests/support/gadget_fixture.h"

#include <FL/Fl_Browser.H>
#include <FL/Fl_Button.H>
#include <FL/fl_draw.H>
#include <X11/keysym.h>

#include <enet/enet.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "lobby/lobby_client.h"
#include "lobby/room_browser.h"
#include "tests/lobby/lobby_process.h"
#include "tests/support/dialog_script.h"

namespace {

testing::Environment* const environment =
    testing::AddGlobalTestEnvironment(new TLobbyEnvironment);
TLobbyProcess*& lobby = TLobbyEnvironment::lobby;

class TNoLocalNetwork : public testing::Environment {
 public:
  // Read by the D-Bus library when the first connection is made.
  void SetUp() override {
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/colloquor-test-bus", 1);
  }
};
testing::Environment* const noLocalNetwork =
    testing::AddGlobalTestEnvironment(new TNoLocalNetwork);

const char kTitle[] = "Server List: ColloquorRC2b";
const char kPortNote[] = "Creating a room asks your router";

// Nobody listens on the listed rooms' port here: without patience their
// rooms would leave the list while a test looks at them.
TRoomBrowserOptions Patient() {
  TRoomBrowserOptions options;
  options.silenceMs = 600000;
  return options;
}

Fl_Window* BrowserWindow() {
  for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
    if (w->label() && std::string(w->label()) == kTitle && w->shown()) return w;
  return nullptr;
}

// The first widget under `group` (at any depth) that `match` accepts.
Fl_Widget* FindWidget(Fl_Group* group, const std::function<bool(Fl_Widget*)>& match) {
  for (int i = 0; group && i < group->children(); ++i) {
    Fl_Widget* child = group->child(i);
    if (match(child)) return child;
    if (Fl_Widget* found = FindWidget(child->as_group(), match)) return found;
  }
  return nullptr;
}

Fl_Browser* RoomList() {
  return static_cast<Fl_Browser*>(FindWidget(
      BrowserWindow(), [](Fl_Widget* w) { return dynamic_cast<Fl_Browser*>(w) != nullptr; }));
}

Fl_Widget* Labelled(const char* label) {
  return FindWidget(BrowserWindow(), [label](Fl_Widget* w) {
    return dynamic_cast<Fl_Button*>(w) && w->label() && std::string(w->label()) == label;
  });
}

// The rows as shown, without the gadget layer's format prefix.
std::vector<std::string> Rows() {
  std::vector<std::string> rows;
  Fl_Browser* list = RoomList();
  for (int i = 1; list && i <= list->size(); ++i) {
    std::string text = list->text(i);
    rows.push_back(text.compare(0, 2, "@.") == 0 ? text.substr(2) : text);
  }
  return rows;
}

class RoomBrowserTest : public GadgetTest {
 protected:
  void SetUp() override {
    GadgetTest::SetUp();
    for (const char* source : {"127.0.0.2", "127.0.0.3", "127.0.0.4"})
      for (const char* game : {"ColloquorRC2b", "ColloquorRC2"})
        lobby->Get(std::string("opt=rem&game=") + game, source);
  }
  static void Announce(const char* game, const char* room, const char* source) {
    ASSERT_EQ(lobby->Get(std::string("opt=add&game=") + game + "&server=" + room, source), "OK\n");
  }

  // Waits until the dialog is on screen with its rows and its last gadget
  // (the window shows while the rest is still being made), then focuses it.
  Script::Step Shown(size_t rows) {
    return [this, rows] {
      Fl_Window* window = BrowserWindow();
      XSync(fl_display, False);
      if (!window || !client.Viewable(fl_xid(window)) || Rows().size() != rows) return false;
      if (!FindWidget(window, [](Fl_Widget* w) {
            return w->label() && std::string(w->label()).rfind(kPortNote, 0) == 0;
          }))
        return false;
      browserXid = fl_xid(window);
      client.Focus(browserXid);
      return true;
    };
  }
  Script::Step Do(std::function<void()> action) {
    return [action] {
      action();
      return true;
    };
  }
  // Moves the pointer onto the widget (at dx, dy, or its middle) and clicks.
  void Click(Fl_Widget* widget, int count = 1, int dx = -1, int dy = -1) {
    ASSERT_NE(widget, nullptr);
    int x, y;
    client.RootPosition(browserXid, x, y);
    client.MoveTo(x + widget->x() + (dx < 0 ? widget->w() / 2 : dx),
                  y + widget->y() + (dy < 0 ? widget->h() / 2 : dy));
    client.Sync();
    client.Click(1, count);
  }
  void ClickRow(int index, int count = 1) {
    Fl_Browser* list = RoomList();
    const int lineHeight = list->textsize() + 2;
    Click(list, count, 20, 4 + index * lineHeight + lineHeight / 2);
  }
  // A click that comes while the window is still settling can be lost: the
  // two steps below click again after a second (clicks that far apart never
  // make a double click) until the dialog has acted on one.

  // Double-clicks the row until the dialog returns.
  Script::Step DoubleClickRow(int row) {
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    return [this, row, last] {
      auto now = std::chrono::steady_clock::now();
      if (now - *last < std::chrono::seconds(1)) return false;
      *last = now;
      ClickRow(row, 2);
      return false;
    };
  }
  // Clicks the row until it is selected.
  Script::Step SelectRow(int row) {
    auto last = std::make_shared<std::chrono::steady_clock::time_point>();
    return [this, row, last] {
      if (RoomList() && RoomList()->value() == row + 1) return true;
      auto now = std::chrono::steady_clock::now();
      if (now - *last < std::chrono::seconds(1)) return false;
      *last = now;
      ClickRow(row);
      return false;
    };
  }

  Window browserXid = 0;
};

}  // namespace

TEST_F(RoomBrowserTest, ListsTheGamesRoomsAndJoinsTheSelectedOne) {
  Announce("ColloquorRC2b", "first_room", "127.0.0.2");
  Announce("ColloquorRC2", "older_game", "127.0.0.3");
  Announce("ColloquorRC2b", "second_room", "127.0.0.4");
  std::vector<std::string> rows;
  Script script({Shown(2), Do([&] { rows = Rows(); }), SelectRow(1),
                 Do([&] { Click(Labelled("Join Room")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"127.0.0.4");
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(rows, (std::vector<std::string>{"first_room", "second_room"}));
  EXPECT_EQ(BrowserWindow(), nullptr);  // freed before returning
}

// The dialog reads as one piece: every gadget inside the client area, none
// overlapping another, the buttons in one column right of the list in the
// order they are read (Cancel at the foot), and every label fitting its gadget.
TEST_F(RoomBrowserTest, GadgetsFitTheWindowInOneColumnBesideTheList) {
  struct TPlaced {
    std::string name;
    int x, y, w, h;
    bool labelFits;
  };
  auto place = [](const char* name, Fl_Widget* w) {
    if (!w) return TPlaced{name, 0, 0, 0, 0, false};
    int textW = (w->align() & FL_ALIGN_WRAP) ? w->w() : 0, textH = 0;
    fl_font(w->labelfont(), w->labelsize());
    if (w->label()) fl_measure(w->label(), textW, textH, 0);
    return TPlaced{name, w->x(), w->y(), w->w(), w->h(), textW <= w->w() && textH <= w->h()};
  };
  std::vector<TPlaced> placed;  // top to bottom within the button column
  int windowW = 0, windowH = 0;
  Script script({Shown(0), Do([&] {
                   windowW = BrowserWindow()->w();
                   windowH = BrowserWindow()->h();
                   Fl_Widget* note = FindWidget(BrowserWindow(), [](Fl_Widget* w) {
                     return w->label() && std::string(w->label()).rfind(kPortNote, 0) == 0;
                   });
                   for (const char* button :
                        {"Join Room", "Refresh List", "Create Room", "Join by Address..."})
                     placed.push_back(place(button, Labelled(button)));
                   placed.push_back(place("port note", note));
                   placed.push_back(place("Cancel", Labelled("Cancel")));
                   placed.push_back(place("room list", RoomList()));
                 }),
                 Do([&] { client.Press(XK_Escape); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"CANCEL");
  ASSERT_EQ(placed.size(), 7u);
  const TPlaced& list = placed.back();
  for (size_t i = 0; i < placed.size(); ++i) {
    const TPlaced& a = placed[i];
    EXPECT_TRUE(a.w > 0 && a.h > 0 && a.x >= 0 && a.y >= 0 && a.x + a.w <= windowW &&
                a.y + a.h <= windowH)
        << a.name << " lies outside the window";
    EXPECT_TRUE(a.labelFits) << a.name << "'s label is cut";
    for (size_t j = i + 1; j < placed.size(); ++j) {
      const TPlaced& b = placed[j];
      EXPECT_TRUE(a.x + a.w <= b.x || b.x + b.w <= a.x || a.y + a.h <= b.y || b.y + b.h <= a.y)
          << a.name << " overlaps " << b.name;
    }
    if (&a == &list) continue;
    EXPECT_GE(a.x, list.x + list.w) << a.name << " is not right of the list";
    EXPECT_EQ(a.x, placed[0].x) << a.name << " leaves the column";
    if (i > 0) {
      EXPECT_GE(a.y, placed[i - 1].y + placed[i - 1].h) << a.name << " is out of order";
    }
  }
  EXPECT_EQ(placed[0].y, list.y);  // the column starts level with the list
  const TPlaced& cancel = placed[5];
  EXPECT_GT(cancel.y, windowH / 2);  // at the foot, apart from the others
  EXPECT_LE(cancel.y + cancel.h, list.y + list.h);
}

TEST_F(RoomBrowserTest, ADoubleClickJoinsAndReturnDoesTooWithARowSelected) {
  Announce("ColloquorRC2b", "only_room", "127.0.0.2");
  {
    Script doubleClick({Shown(1), DoubleClickRow(0)});
    EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"127.0.0.2");
  }

  Script returnKey({Shown(1), SelectRow(0), Do([&] { client.Press(XK_Return); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"127.0.0.2");
  EXPECT_TRUE(returnKey.finished());
}

TEST_F(RoomBrowserTest, RefreshShowsOnlyWhatTheLobbyStillListsAndCreateRoomHosts) {
  Announce("ColloquorRC2b", "leaving", "127.0.0.2");
  Announce("ColloquorRC2b", "staying", "127.0.0.3");
  std::vector<std::string> after;
  int selectionAfter = -1;
  Script script({Shown(2), SelectRow(0),
                 Do([&] { lobby->Get("opt=rem&game=ColloquorRC2b", "127.0.0.2"); }),
                 Do([&] { Click(Labelled("Refresh List")); }),
                 [] { return Rows().size() == 1; },
                 Do([&] {
                   after = Rows();
                   selectionAfter = RoomList()->value();
                 }),
                 Do([&] { Click(Labelled("Create Room")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"HOST");
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(after, std::vector<std::string>{"staying"});
  EXPECT_EQ(selectionAfter, 0);  // the previous selection is gone
}

TEST_F(RoomBrowserTest, CancelTheCloseBoxAndTerminateAllCancel) {
  // Join Room with no row selected does nothing: the dialog stays for the
  // Cancel that follows. (The dialog reads the selection when it handles the
  // press, so no row may be selected afterwards in this check.)
  Announce("ColloquorRC2b", "unchosen", "127.0.0.2");
  Script button({Shown(1), Do([&] { Click(Labelled("Join Room")); }),
                 Do([&] { Click(Labelled("Cancel")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"CANCEL");
  EXPECT_TRUE(button.finished());

  Script closeBox({Shown(1), Do([&] { client.RequestClose(browserXid); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"CANCEL");
  EXPECT_TRUE(closeBox.finished());

  Script terminate({Shown(1), Do([] { TEvent::Create(AppTerminate)->Emit(); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"CANCEL");
  EXPECT_TRUE(terminate.finished());
}

TEST_F(RoomBrowserTest, WhileTheLobbyIsSilentTheDialogRunsSaysSoAndAsksOnlyOnce) {
  Announce("ColloquorRC2b", "late_room", "127.0.0.2");
  auto logged = [](const std::string& request) {
    const std::string log = lobby->Log(), line = request + " HTTP/1.0";
    size_t count = 0;
    for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
    return count;
  };
  auto asking = [] {
    return FindWidget(BrowserWindow(), [](Fl_Widget* w) {
             return w->label() && std::string(w->label()) == u8"Asking the lobby\u2026";
           }) != nullptr;
  };
  const size_t listsBefore = logged("opt=list"), pingsBefore = logged("opt=ping");
  lobby->Freeze();
  struct TThaw {
    ~TThaw() { lobby->Thaw(); }
  } thawAtTheEnd;
  bool askedWhileSilent = false, askingAfter = true;
  // The script's steps run inside the dialog's loop: they run at all only
  // because the dialog does not wait for the lobby.
  Script script({Shown(0), Do([&] { askedWhileSilent = asking(); }),
                 Do([&] { Click(Labelled("Refresh List")); }),
                 Do([&] { Click(Labelled("Refresh List")); }), Do([] { lobby->Thaw(); }),
                 [] { return Rows().size() == 1; }, Do([&] { askingAfter = asking(); }),
                 Do([&] { Click(Labelled("Create Room")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"HOST");
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(askedWhileSilent);
  EXPECT_FALSE(askingAfter);
  // Refresh pressed while the request ran added none: the lobby logged one.
  lobby->Get("opt=ping");
  EXPECT_TRUE(WaitUntil([&] { return logged("opt=ping") > pingsBefore; }));
  EXPECT_EQ(logged("opt=list") - listsBefore, 1u);
}

TEST_F(RoomBrowserTest, ALobbyThatCannotBeReachedIsNamedInWords) {
  Announce("ColloquorRC2b", "late_room", "127.0.0.2");
  const std::string expected = "The lobby at " + lobby->Address() + " could not be reached.";
  auto statusLine = [&expected]() -> Fl_Widget* {
    return FindWidget(BrowserWindow(), [&expected](Fl_Widget* w) {
      return w->label() && std::string(w->label()) == expected;
    });
  };
  TLobbyLimits saved = LobbyLimits();
  LobbyLimits().stepMs = 300;
  LobbyLimits().answerMs = 600;
  lobby->Freeze();
  struct TRestore {
    TLobbyLimits limits;
    ~TRestore() {
      lobby->Thaw();
      LobbyLimits() = limits;
    }
  } restore{saved};
  bool fits = false;
  Script script({Shown(0), [&] { return statusLine() != nullptr; },
                 Do([&] {
                   Fl_Widget* line = statusLine();
                   int w = line->w(), h = 0;
                   fl_font(line->labelfont(), line->labelsize());
                   fl_measure(line->label(), w, h, 0);
                   fits = w <= line->w() && h <= line->h();
                   lobby->Thaw();
                   LobbyLimits() = restore.limits;
                 }),
                 Do([&] { Click(Labelled("Refresh List")); }),
                 [&] { return Rows().size() == 1 && statusLine() == nullptr; },
                 Do([&] { Click(Labelled("Cancel")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, Patient()), u"CANCEL");
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(fits) << "the line is cut";
}

// The lobby keeps a room for minutes after its host went away unannounced.
TEST_F(RoomBrowserTest, ARoomWhoseHostIsGoneLeavesTheListWithinSeconds) {
  // A room host on 127.0.0.2 only, served on a thread of its own until told.
  enet_initialize();
  ENetAddress address{};
  enet_address_set_host_ip(&address, "127.0.0.2");
  ENetHost* host = enet_host_create(&address, 32, 1, 0, 0);
  ASSERT_NE(host, nullptr);
  ENetAddress bound{};
  enet_socket_get_address(host->socket, &bound);
  std::atomic<bool> serving{true};
  std::atomic<int> connects{0};
  std::thread server([&] {
    ENetEvent event;
    while (serving)
      if (enet_host_service(host, &event, 10) > 0 && event.type == ENET_EVENT_TYPE_CONNECT)
        ++connects;
    enet_host_destroy(host);
  });
  Announce("ColloquorRC2b", "hosted_room", "127.0.0.2");
  Announce("ColloquorRC2b", "abandoned_room", "127.0.0.3");
  TRoomBrowserOptions options;
  options.roomPort = bound.port;
  options.silenceMs = 1500;
  Script script({Shown(2),
                 [] { return Rows() == std::vector<std::string>{"hosted_room"}; },
                 Do([&] { serving = false; }), [] { return Rows().empty(); },
                 Do([&] { Click(Labelled("Cancel")); })});
  EXPECT_EQ(RoomBrowser(u"ColloquorRC2b", nullptr, options), u"CANCEL");
  serving = false;
  server.join();
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(connects, 0) << "the room's host saw the probe as a guest";
}
