#include "app/room_window.h"

#include <memory>
#include <optional>

#include "app/discussion_log.h"
#include "app/program_state.h"
#include "app/room_reach.h"
#include "app/save_location.h"
#include "app/saved_log.h"
#include "lobby/lobby_client.h"
#include "sound/sound.h"
#include "ui/background.h"
#include "ui/event_loop.h"
#include "ui/event_queue.h"
#include "ui/gadget.h"
#include "ui/gui.h"
#include "ui/requester.h"
#include "ui/timer.h"

namespace {

struct TRoomGadgets {
  TGadgetRef window, logArea, saveButton, copyButton, muteButton, redList, redButton, redBar;
  TGadgetRef blueList, blueButton, blueBar, inputField, sendButton, undecidedButton;
  TGadgetRef countdownLabel, leaveButton, changeSubjectButton, extendButton, helpLabel;
  TGadgetRef connectionLight, connectionLabel;
  TGadgetRef undecidedList, roomLabel;
};

void Place(const TGadgetRef& g, int l, int r, int t, int b) { g->SetLayout(l, r, t, b); }

// The centre column holds, under the Undecided button, the undecided
// participants (as the side lists stand under theirs), then the room's name
// heading the discussion.
constexpr int UNDECIDED_LIST_HEIGHT = 56;
constexpr int ROOM_LABEL_HEIGHT = 20;
constexpr int COLUMN_GAP = 4;
constexpr int LOG_TOP = 100 + UNDECIDED_LIST_HEIGHT + COLUMN_GAP + ROOM_LABEL_HEIGHT + COLUMN_GAP;

// The room's name as its heading shows it.
TString RoomHeading(const TString& roomName) { return u"Room: " + roomName; }

TRoomGadgets BuildWindow(const TString& title, const TString& roomName) {
  TRoomGadgets g;
  g.window = MakeWindow(title, 0, 0, 800, 600, nullptr,
                        WIN_CENTRED | WIN_CLIENT_RECT | WIN_SIZABLE | WIN_TITLED);
  g.window->SetMinimumSize(800, 480);
  const TGadgetRef& w = g.window;
  int cw = w->ClientWidth(), ch = w->ClientHeight();
  g.logArea = MakeTextArea(210, LOG_TOP, cw - 420, ch - 90 - LOG_TOP, w,
                           TXA_WORDWRAP | TXA_READONLY | TXA_KEEPVIEW);
  Place(g.logArea, 1, 1, 1, 1);
  g.saveButton = MakeButton(u"Save...", cw - 300, ch - 80, 90, 24, w, BTN_PUSHLIKE);
  Place(g.saveButton, 0, 1, 0, 1);
  g.copyButton = MakeButton(u"Copy", cw - 400, ch - 80, 90, 24, w, BTN_PUSHLIKE);
  Place(g.copyButton, 0, 1, 0, 1);
  g.muteButton = MakeButton(u"Mute", 210, ch - 80, 90, 24, w, BTN_CHECK | BTN_PUSHLIKE);
  Place(g.muteButton, 1, 0, 0, 1);
  g.redList = MakeListBox(10, 100, 190, ch - 160, w, 0);
  Place(g.redList, 1, 0, 1, 1);
  g.redList->SetColor(255, 191, 191);
  g.redList->SetEnabled(0);
  g.redButton = MakeButton(u"RED", 10, 70, cw / 2 - 110, 24, w, BTN_RADIO | BTN_PUSHLIKE);
  Place(g.redButton, 1, 2, 1, 0);
  g.redButton->SetTextColor(255, 0, 0);
  g.redBar = MakePanel(10, 40, cw / 2 - 10, 20, w, 0, u"");
  Place(g.redBar, 1, 2, 1, 0);
  g.redBar->SetColor(255, 0, 0);
  g.blueList = MakeListBox(cw - 200, 100, 190, ch - 160, w, 0);
  Place(g.blueList, 0, 1, 1, 1);
  g.blueList->SetColor(191, 191, 255);
  g.blueList->SetEnabled(0);
  g.blueButton = MakeButton(u"BLUE", cw / 2 + 100, 70, cw / 2 - 110, 24, w, BTN_RADIO | BTN_PUSHLIKE);
  Place(g.blueButton, 2, 1, 1, 0);
  g.blueButton->SetTextColor(0, 0, 255);
  g.blueBar = MakePanel(cw / 2, 40, cw / 2 - 10, 20, w, 0, u"");
  Place(g.blueBar, 2, 1, 1, 0);
  g.blueBar->SetColor(0, 0, 255);
  g.inputField = MakeTextField(10, ch - 50, cw - 120, 20, w, 0);
  Place(g.inputField, 1, 1, 0, 1);
  g.inputField->SetEnabled(0);
  g.sendButton = MakeButton(u"Send", cw - 100, ch - 50, 90, 24, w, BTN_OK);
  Place(g.sendButton, 0, 1, 0, 1);
  g.sendButton->SetEnabled(0);
  g.undecidedButton =
      MakeButton(u"Undecided", cw / 2 - 90, 70, 180, 24, w, BTN_RADIO | BTN_PUSHLIKE);
  Place(g.undecidedButton, 2, 2, 1, 0);
  g.undecidedButton->SetSelected(1);
  g.countdownLabel = MakeLabel(u"", 170, 14, cw - 490, 20, w, LBL_CENTRE);
  Place(g.countdownLabel, 1, 1, 1, 0);
  g.leaveButton = MakeButton(u"Leave Room", 10, 10, 150, 24, w, BTN_CANCEL);
  Place(g.leaveButton, 1, 0, 1, 0);
  g.changeSubjectButton = MakeButton(u"Change Subject", cw - 160, 10, 150, 24, w, BTN_PUSHLIKE);
  Place(g.changeSubjectButton, 0, 1, 1, 0);
  g.extendButton = MakeButton(u"Extend Time", cw - 320, 10, 150, 24, w, BTN_PUSHLIKE);
  Place(g.extendButton, 0, 1, 1, 0);
  g.helpLabel = MakeLabel(TRoom::CommandHelp(), 10, ch - 26, cw - 230, 20, w, 0);
  Place(g.helpLabel, 1, 1, 0, 1);
  g.connectionLight = MakePanel(cw - 120, ch - 22, 10, 10, w, PNL_SUNKEN, u"");
  Place(g.connectionLight, 0, 1, 0, 1);
  g.connectionLight->SetColor(0, 255, 0);
  g.connectionLabel = MakeLabel(u"Connection: ", cw - 220, ch - 26, 100, 20, w, LBL_RIGHT);
  Place(g.connectionLabel, 0, 1, 0, 1);
  g.undecidedList = MakeListBox(210, 100, cw - 420, UNDECIDED_LIST_HEIGHT, w, 0);
  Place(g.undecidedList, 1, 1, 1, 0);
  g.undecidedList->SetColor(230, 230, 230);
  g.undecidedList->SetEnabled(0);
  g.roomLabel = MakeLabel(RoomHeading(roomName), 210, 100 + UNDECIDED_LIST_HEIGHT + COLUMN_GAP,
                          cw - 420, ROOM_LABEL_HEIGHT, w, LBL_CENTRE);
  Place(g.roomLabel, 1, 1, 1, 0);
  return g;
}

// The room's view on real gadgets.
class TRoomWindowView : public TRoomView {
 public:
  explicit TRoomWindowView(TRoomGadgets& g) : g_(g) {}

  // Once the window is built: the discussion is written into its log area.
  void AttachLog() { log_.emplace(g_.logArea); }
  const TDiscussionLog& Discussion() const { return *log_; }

  void AppendLog(const TString& text, TLogStyle style) override { log_->Append(text, style); }
  // With another application in front, the window is also marked for the
  // task bar (muted or not) until it gets the focus back.
  void AttentionSound() override {
    if (ActiveGadget()) return;
    g_.window->SetAttention(1);
    if (!Muted() && Program().dingSound) PlaySound(Program().dingSound);
  }
  void CountdownSound() override {
    if (!Muted() && Program().tickSound) PlaySound(Program().tickSound);
  }
  void LockInputs() override {
    for (const TGadgetRef* g : {&g_.inputField, &g_.sendButton, &g_.redButton, &g_.blueButton,
                                &g_.undecidedButton, &g_.extendButton, &g_.changeSubjectButton})
      (*g)->SetEnabled(0);
  }
  void SelectSide(int32_t side) override {
    g_.redButton->SetSelected(side == SIDE_RED);
    g_.undecidedButton->SetSelected(side == SIDE_UNDECIDED);
    g_.blueButton->SetSelected(side == SIDE_BLUE);
  }
  void EnableInput(bool enabled, bool focus) override {
    g_.inputField->SetEnabled(enabled);
    g_.sendButton->SetEnabled(enabled);
    if (focus) g_.inputField->Activate(ACT_FOCUS);
  }
  void EnableExtend(bool enabled) override { g_.extendButton->SetEnabled(enabled); }
  void EnableChangeSubject(bool enabled) override { g_.changeSubjectButton->SetEnabled(enabled); }
  // The tick shows everything anew every second; what did not change is not
  // handed to the toolkit again, so an idle room draws nothing.
  void ShowSubject(const TString& red, const TString& blue, const TString& countdown) override {
    if (Changed(shown_.subject, {red, blue, countdown})) {
      g_.redButton->SetText(red);
      g_.blueButton->SetText(blue);
      g_.countdownLabel->SetText(countdown);
    }
  }
  void ShowParticipants(const std::vector<TString>& reds, const std::vector<TString>& undecided,
                        const std::vector<TString>& blues) override {
    ShowList(g_.redList, shown_.reds, reds);
    ShowList(g_.undecidedList, shown_.undecided, undecided);
    ShowList(g_.blueList, shown_.blues, blues);
  }
  void ShowConnection(bool heard) override {
    if (!Changed(shown_.light, {heard ? 1 : 0})) return;
    if (heard)
      g_.connectionLight->SetColor(0, 255, 0);
    else
      g_.connectionLight->SetColor(255, 0, 0);
  }
  void ShowBars(int32_t reds, int32_t blues, int32_t count) override {
    int32_t cw = g_.window->ClientWidth();
    TBarWidths widths = BarWidths(cw, reds, blues, count);
    if (!Changed(shown_.bars, {cw, widths.red, widths.blue})) return;
    g_.redBar->SetShape(10, 40, widths.red, 20);
    g_.blueBar->SetShape(cw - 10 - widths.blue, 40, widths.blue, 20);
  }
  void Notice(const TString& text) override { Notify(text, 0); }
  void ShowUserName(const TString& name) override {
    g_.window->SetText(Program().gameName + u": " + name);
  }

 private:
  template <class T>
  static bool Changed(std::vector<T>& shown, const std::vector<T>& now) {
    if (shown == now) return false;
    shown = now;
    return true;
  }
  static void ShowList(const TGadgetRef& list, std::vector<TString>& shown,
                       const std::vector<TString>& names) {
    if (!Changed(shown, names)) return;
    list->Clear();
    for (const TString& name : names) AppendItem(list, name, 0, -1, u"", nullptr);
  }
  bool Muted() const { return ButtonValue(g_.muteButton) != 0; }
  TRoomGadgets& g_;
  std::optional<TDiscussionLog> log_;
  struct {
    std::vector<TString> subject, reds, undecided, blues;
    std::vector<int32_t> light, bars;
  } shown_;
};

void SaveDiscussion(const TDiscussionLog& log) {
  TString path = RequestFile(u"Save discussion log", u"Text Files:txt", 1, FromBytes(DocumentsFolder()));
  if (path.empty()) return;
  if (!SaveLogFile(ToBytes(path).c_str(), log.Text()))
    Notify(u"The discussion log could not be saved to " + path + u".", 1);
}

int32_t SelectedSide(const TRoomGadgets& g) {
  if (ButtonValue(g.redButton)) return SIDE_RED;
  if (ButtonValue(g.blueButton)) return SIDE_BLUE;
  return SIDE_UNDECIDED;
}

// Renews the room's lobby entry without waiting: the answer is not used.
// It queues behind the lobby commands before it, and a later withdrawal
// behind it, so that it can neither overtake the announcement nor renew a
// room already withdrawn.
void RefreshLobbyEntry() {
  TProgramState& program = Program();
  TString game = program.gameName, room = program.roomName;
  program.lobbyCommands.Start<int>(
      [game, room](const TBackgroundTask&) { return LobbyRefresh(game, room); });
}
// Serves the room's network from the toolkit's own waiting, so that it goes
// on inside dialogs too: when the socket is readable, and on every tick of
// the second timer that fires inside a dialog's loop (ENet's retries and
// time-outs need a service even when nothing arrives, and the tick event
// itself waits in the queue until the dialog is closed; otherwise the tick
// serves right after). A serve handles a bounded share of what arrived; the
// rest is served at the toolkit's next turn, after it has drawn and handled
// its input, so that a flood of packets cannot freeze the window.
class TRoomServer : public TObject {
 public:
  TRoomServer(TRoom& room, const TGNetHostRef& host, TObjectRef window, TObjectRef timer)
      : room_(room), host_(host), window_(std::move(window)), timer_(std::move(timer)) {
    socket_ = ReplicationSocket(host_);
    Watch(true);
  }
  void Start() { THook::Add(EventHookId(), OnEvent, shared_from_this(), 0); }
  void Stop() {
    stopped_ = true;
    THook::Remove(EventHookId(), OnEvent, shared_from_this());
    Watch(false);
  }

 private:
  using TWeakServer = std::weak_ptr<TObject>;
  static void OnFollowUp(void*, void* posted) {
    std::unique_ptr<TWeakServer> weak(static_cast<TWeakServer*>(posted));
    TObjectRef alive = weak->lock();
    if (!alive) return;
    auto* server = static_cast<TRoomServer*>(alive.get());
    server->followUpPosted_ = false;
    if (!server->stopped_) server->Serve();
  }
  static void OnReadable(int, void* server) { static_cast<TRoomServer*>(server)->Serve(); }
  static TObjectRef OnEvent(int, const TObjectRef& data, const TObjectRef& context) {
    auto* server = static_cast<TRoomServer*>(context.get());
    auto* event = dynamic_cast<TEvent*>(data.get());
    if (event && event->id == TimerTick && event->source == server->timer_ && !DriverBusy())
      server->Serve();
    return data;
  }
  void Watch(bool on) {
    if (socket_ < 0 || on == watching_) return;
    watching_ = on;
    if (on)
      WatchReadable(socket_, OnReadable, this);
    else
      UnwatchReadable(socket_);
  }
  void Serve() {
    room_.Serve();
    // A network failing before it reads leaves the socket readable: serve it
    // only on the timer's ticks until it works again.
    Watch(!ReplicationFailing(host_));
    if (ReplicationBacklog(host_) && !followUpPosted_ && room_.InRoom()) {
      followUpPosted_ = true;
      PostAsyncOp(OnFollowUp, nullptr, new TWeakServer(shared_from_this()));
    }
    if (!room_.InRoom() && !leftReported_) {
      leftReported_ = true;  // wake the room's loop, which ends the visit
      TEvent::Create(AppIdle, window_)->Emit();
    }
  }

  TRoom& room_;
  TGNetHostRef host_;
  TObjectRef window_, timer_;
  int socket_ = -1;
  bool watching_ = false;
  bool leftReported_ = false;
  bool stopped_ = false;
  bool followUpPosted_ = false;
};

// A host leaving closes the room for its guests: with guests in it, the
// user is asked first (Escape or the close box keeps the room). A
// termination request leaves without asking.
bool MayLeave(const TRoom& room) {
  if (!room.IsHost() || !room.HasGuests()) return true;
  return Confirm(LeaveQuestion(Program().visitName)) == 1;
}

}  // namespace

struct TRoomWindow::TImpl {
  TRoomGadgets g;
  TRoomWindowView view{g};
  TRoomContext context;
  TRoom room;
  TTimerRef secondTimer, lobbyTimer;
  std::shared_ptr<TRoomServer> server;
  bool closed = false;
  explicit TImpl(TProgramState& p)
      : context{*p.localPlayer, p.netHost, p.gameName, p.topicIndex},
        room(context, view) {}
};

TRoomWindow::TRoomWindow() : impl_(new TImpl(Program())) {
  TImpl& r = *impl_;
  r.room.Enter();
  r.g = BuildWindow(Program().gameName + u": " + Program().localPlayer->name, Program().visitName);
  r.view.AttachLog();
  r.secondTimer = TTimer::Create(1.0f);
  r.lobbyTimer = TTimer::Create(0.005f);
  r.room.Welcome();
  if (r.room.InRoom()) {
    r.server = std::make_shared<TRoomServer>(r.room, r.context.host, r.g.window, r.secondTimer);
    r.server->Start();
  }
}

TRoomWindow::~TRoomWindow() {
  if (impl_->server) impl_->server->Stop();  // Close does it, unless an error cut it short
}

bool TRoomWindow::InRoom() const { return impl_->room.InRoom(); }

TRoomOutcome TRoomWindow::Outcome() const { return impl_->room.Outcome(); }

TRoom& TRoomWindow::Room() { return impl_->room; }

void TRoomWindow::Dispatch(const TEvent& ev) {
  TImpl& r = *impl_;
  TRoomGadgets& g = r.g;
  TRoom& room = r.room;
  if (!room.InRoom()) return;  // left by what a serve brought; the loop ends
  const TObjectRef& source = ev.source;
  int32_t id = ev.id;
  if (source == g.window && id == WindowClose) {
    if (MayLeave(room)) room.Leave(ROOM_END_PROGRAM);
  } else if (source == g.window && id == WindowActivate) {
    g.inputField->Activate(ACT_FOCUS);
  } else if (source == r.secondTimer && id == TimerTick) {
    room.Tick(r.secondTimer->Ticks(), r.lobbyTimer ? r.lobbyTimer->Ticks() : 0);
    for (const TString& note : TakeReachNotes()) r.view.AppendLog(note, LOG_BOLD);
  } else if (source == r.lobbyTimer && id == TimerTick) {
    if (!Program().roomName.empty()) RefreshLobbyEntry();
  } else if ((source == g.redButton || source == g.undecidedButton || source == g.blueButton) &&
             id == GadgetAction) {
    room.ChangeSide(SelectedSide(g));
  } else if (source == g.inputField) {
    CapTextField(g.inputField, INPUT_LIMIT);
  } else if (source == g.sendButton && id == GadgetAction) {
    if (room.Send(g.inputField->GetText())) g.inputField->SetText(u"");
  } else if (source == g.leaveButton && id == GadgetAction) {
    if (MayLeave(room)) room.Leave(ROOM_BACK_TO_BROWSER);
  } else if (source == g.extendButton && id == GadgetAction) {
    room.ExtendTime();
  } else if (source == g.changeSubjectButton && id == GadgetAction) {
    room.ChangeSubject(r.secondTimer ? r.secondTimer->Ticks() : 0);
  } else if (source == g.saveButton && id == GadgetAction) {
    SaveDiscussion(r.view.Discussion());
  } else if (source == g.copyButton && id == GadgetAction) {
    g.logArea->Activate(ACT_COPY);
  } else if (id == AppTerminate) {
    room.Leave(ROOM_END_PROGRAM);
  }
}

void TRoomWindow::Close() {
  TImpl& r = *impl_;
  if (r.closed) return;
  r.closed = true;
  if (r.server) r.server->Stop();
  for (const TTimerRef& timer : {r.secondTimer, r.lobbyTimer})
    if (timer) timer->Stop();
  r.g.window->CleanUp();
  r.g = TRoomGadgets();
  r.room.Exit();
}

TRoomOutcome RunRoom() {
  TRoomWindow window;
  TRoomOutcome outcome = window.Outcome();
  if (window.InRoom()) {
    outcome = RunEventLoop([&window](const TEvent& event) -> std::optional<TRoomOutcome> {
      window.Dispatch(event);
      if (window.InRoom()) return std::nullopt;
      return window.Outcome();
    });
  }
  window.Close();
  return outcome;
}
