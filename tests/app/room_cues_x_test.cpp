// The room's cue sounds end to end: a real room window on an X display, the
// real mixer writing through ALSA's file plugin into a file, and the tick and
// the attention sound found sample for sample in what was written; with the
// attention sound, the window's mark for the task bar.
#include <gtest/gtest.h>

#include <FL/x.H>

#include <fstream>
#include <iterator>

#include "app/program_state.h"
#include "app/room_protocol.h"
#include "app/room_window.h"
#include "sound/mix_driver.h"
#include "sound/sound.h"
#include "tests/replication/net_support.h"
#include "tests/support/fl_find.h"
#include "tests/support/x_client.h"
#include "ui/event_queue.h"
#include "ui/gadget.h"
#include "ui/gui.h"

namespace {

std::string g_dir, g_alsaFile;

std::vector<int16_t> ReadWords(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  std::vector<int16_t> words(bytes.size() / 2);
  for (size_t i = 0; i < words.size(); ++i)
    words[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return words;
}

std::vector<int16_t> SoundWords(const std::shared_ptr<TSound>& sound) {
  auto* sample = static_cast<TMixSound*>(sound.get())->Sample().get();
  auto* words = reinterpret_cast<const int16_t*>(sample->samples);
  return std::vector<int16_t>(words, words + 2 * sample->length);
}

long FirstSounding(const std::vector<int16_t>& words) {
  for (size_t i = 0; i < words.size(); ++i)
    if (words[i]) return static_cast<long>(i & ~size_t(1));
  return -1;
}

// Whether the output holds `sound` from its first sounding frame on, whole.
bool Played(const std::vector<int16_t>& heard, const std::vector<int16_t>& sound) {
  long at = FirstSounding(heard), from = FirstSounding(sound);
  if (at < 0 || from < 0) return false;
  long count = static_cast<long>(sound.size()) - from;
  if (static_cast<long>(heard.size()) < at + count) return false;
  return std::equal(sound.begin() + from, sound.end(), heard.begin() + at);
}

class RoomCues : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/colloquor-cues-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    g_dir = pattern;
    g_alsaFile = g_dir + "/alsa.raw";
    std::ofstream(g_dir + "/asound.conf")
        << "pcm.!default {\n  type file\n  slave.pcm \"quiet\"\n  file \"" << g_alsaFile
        << "\"\n  format \"raw\"\n}\npcm.quiet {\n  type null\n}\n";
    setenv("ALSA_CONFIG_PATH", (g_dir + "/asound.conf").c_str(), 1);
    RegisterEmbeddedSounds();
    InitGui();
    InitSound();
    auto* mixer = dynamic_cast<TMixAudioDriver*>(FindAudioDriver(kDefaultAudioDriverName));
    ASSERT_NE(mixer, nullptr);
    mixer->SetDevicePaths("/nonexistent/dsp", "default");
    TProgramState& program = Program();
    program.dingSound = CurrentAudioDriver().LoadSound(u"incbin::ding.ogg", 0);
    program.tickSound = CurrentAudioDriver().LoadSound(u"incbin::tick.ogg", 0);
    ASSERT_TRUE(program.dingSound && program.tickSound);
  }
  static void TearDownTestSuite() {
    ShutdownAudio();
    std::system(("rm -rf '" + g_dir + "'").c_str());
  }

  void SetUp() override {
    TProgramState& program = Program();
    program.localPlayer = std::make_shared<TPlayer>();
    program.localPlayer->name = u"Tester";
    program.localPlayer->ip = u"10.1.1.1";
    program.localPlayer->rank = u"HOST";
    program.netHost = NewReplicationHost();
    port = ListenOnFreePort(program.netHost);
    ASSERT_NE(port, 0);
    window = std::make_unique<TRoomWindow>();
  }
  void TearDown() override {
    window->Room().Leave(ROOM_BACK_TO_BROWSER);
    window->Close();
    CloseReplicationHost(Program().netHost);
    client.CloseOwnWindow();
  }

  // What the mixer writes from now on, once `blocks` blocks have gone out.
  std::vector<int16_t> Listen(const std::function<void()>& play, int blocks = 120) {
    ShutdownAudio();
    std::remove(g_alsaFile.c_str());
    auto* mixer = dynamic_cast<TMixAudioDriver*>(&CurrentAudioDriver());
    EXPECT_NE(mixer, nullptr);
    if (!mixer) return {};
    play();
    uint64_t target = mixer->BlocksWritten() + blocks;
    EXPECT_TRUE(WaitUntil([&] { return mixer->BlocksWritten() >= target; }, 10000));
    ShutdownAudio();
    return ReadWords(g_alsaFile);
  }

  // The room window's X window, once it is on the screen; 0 if it is not.
  Window ShownRoom() {
    Fl_Window* shown = FindShownWindow("ColloquorRC2b: Tester");
    if (!shown) return 0;
    XSync(fl_display, False);
    return client.WaitViewable(fl_xid(shown), [] { Fl::check(); }) ? fl_xid(shown) : 0;
  }

  int port = 0;
  std::unique_ptr<TRoomWindow> window;
  TXClient client;
};

}  // namespace

TEST_F(RoomCues, BelowFifteenSecondsEveryTickPlaysTheTickUnlessMuted) {
  std::vector<int16_t> heard = Listen([&] { window->Room().Tick(290, 0); });  // 10 s left
  EXPECT_TRUE(Played(heard, SoundWords(Program().tickSound)));
  heard = Listen([&] { window->Room().Tick(280, 0); });  // 20 s left
  EXPECT_EQ(FirstSounding(heard), -1);

  Window room = client.FindWindowByName("ColloquorRC2b: Tester");
  ASSERT_NE(room, 0u);
  Fl_Widget* mute = FindLabelled(FindShownWindow("ColloquorRC2b: Tester"), "Mute");
  ASSERT_NE(mute, nullptr);
  int x = 0, y = 0;
  client.RootPosition(room, x, y);
  client.MoveTo(x + mute->x() + mute->w() / 2, y + mute->y() + mute->h() / 2);
  client.Click();
  client.Sync();
  ASSERT_TRUE(WaitUntil([] { return TEventQueue::Poll() == GadgetAction; }, 5000));
  heard = Listen([&] { window->Room().Tick(291, 0); });
  EXPECT_EQ(FirstSounding(heard), -1);
}

TEST_F(RoomCues, ActivityRingsTheBellOnlyWhileAnotherApplicationIsInFront) {
  TGNetHostRef guest = NewReplicationHost();
  ASSERT_EQ(ConnectPumped(guest, Program().netHost, port), 1);
  TPump pump({guest});
  TGNetObjectRef hostPlayer;
  ASSERT_TRUE(WaitUntil([&] { return (hostPlayer = FindBySlot(guest, 1, u"Tester")) != nullptr; },
                        5000, [&] {
                          pump.Step();
                          window->Room().Tick(1, 0);
                        }));
  // The host passes on only lines of a guest in the room, under its name.
  TGNetObjectRef me = NewReplicatedObject(guest);
  SetSlotString(me, 0, u"GUEST");
  SetSlotString(me, 1, u"Visitor");
  SetSlotInt(me, 2, SIDE_RED);
  SetSlotString(me, 3, u"192.0.2.7");
  SetSlotInt(me, 4, 0);
  SyncReplication(guest);
  auto say = [&](const TString& text) {
    TGNetObjectRef msg = NewMessageObject(guest);
    SetSlotString(msg, 0, u"MSG");
    SetSlotString(msg, 1, u"Visitor: " + text);
    SetSlotInt(msg, 2, SIDE_RED);
    SendMessageObject(msg, hostPlayer);
    pump.Step();
  };

  Window room = ShownRoom();
  ASSERT_NE(room, 0u);
  client.WatchStateRequests();
  client.OpenOwnWindowWithFocus();
  ASSERT_TRUE(WaitUntil([] { return ActiveGadget() == nullptr; }, 5000));
  std::vector<int16_t> heard = Listen([&] {
    say(u"hello");
    // The message reaches the host at one of its next ticks.
    WaitUntil([&] { return !ReceivedMessages(Program().netHost).empty(); }, 5000,
              [&] { window->Room().Tick(2, 0); });
  });
  EXPECT_TRUE(Played(heard, SoundWords(Program().dingSound)));
  // Regression: the bell rang but nothing marked the window for the task bar,
  // and the desktop could not tell it was colloquor's (class "FLTK", no icon).
  std::string resName, resClass;
  EXPECT_TRUE(client.ClassHint(room, resName, resClass));
  EXPECT_EQ(resName + " " + resClass, "colloquor Colloquor");  // StartupWMClass in the entry
  EXPECT_EQ(client.FirstIconSize(room), 16);
  auto demands = [&] { return client.StateRequested(room, "_NET_WM_STATE_DEMANDS_ATTENTION"); };
  EXPECT_TRUE(WaitUntil([&] { return demands() == 1 && client.Urgent(room); }, 5000));
  client.Focus(room);
  EXPECT_TRUE(WaitUntil([&] { return demands() == 0 && !client.Urgent(room); }, 5000,
                        [] { TEventQueue::Poll(); }));
  CloseReplicationHost(guest);
}

