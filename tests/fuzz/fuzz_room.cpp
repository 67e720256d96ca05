// libFuzzer target over the room layer's handling of what arrives. A hosting
// room and a guest room (app/room_protocol.h), each over its replication
// host on an in-memory network, take the input's packets from two hostile
// guests (the host) or from their host's connection (the guest), and serve,
// tick and act as their windows would. Whatever the rooms and their hosts do
// on receipt runs as in the program: the replication layer's checks, the
// hosting room's guard (app/room_guard.h: the host's rules for what guests
// may send, their quotas, rates and deadlines), the inbox and the tick's
// census. The first hostile guest is elsewhere on the network, the second at
// the honest guest's address (another user behind it, or that guest back).
//
// The rooms read a clock of the target's own (fuzzClock, below), so that an
// input runs the same each time and a tick is a second to the guard too.
//
// The input is a run of records (fuzz_input.h). Control bits:
//   FUZZ_OTHER_PEER  which of the two hostile guests sends to the host;
//   FUZZ_TO_GUEST    the packet goes to the guest room instead;
//   FUZZ_ACTION_MASK 0 delivers the packet; else a room acts, the packet's
//                    bytes being its input (see Act);
//   FUZZ_TICK        a second passes and both rooms tick;
//   FUZZ_DROP        the sender's connection ends (a hostile guest then
//                    connects afresh);
//   FUZZ_SYNC        both rooms serve the network.
//
// Checked: no crash or sanitizer report; time and memory per input (by
// libFuzzer's -timeout and -rss_limit_mb); the views (bars match the lists,
// every log line is a received "MSG" text or the room's own, a rename only
// appends digits, no notice but the one rule's); the host stays in its
// room under its name; what guests keep at the host is within its rules (a
// participant each at most, never in the host's role, names and addresses
// within their limits). The longest strings the hosts received, the rooms
// held and showed are printed at exit, to show long inputs reach them.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>

#include "app/chat.h"
#include "app/room_protocol.h"
#include "app/room_rules.h"
#include "replication/wire.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/replication/memory_transport.h"

// The millisecond clock (core/clock.h) as the rooms and their hosts read it
// here: the link step hands them this instead of the system's (-Wl,--wrap).
// Each reading moves it on a millisecond, so that waiting for a time always
// ends; each tick moves it on a second. Every input starts at the same time.
constexpr int32_t FUZZ_CLOCK_START = 1000000;
int32_t fuzzClock = FUZZ_CLOCK_START;
extern "C" int32_t __wrap__Z9MilliSecsv() { return fuzzClock++; }

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "room fuzz: %s\n", what);
  std::abort();
}

// The longest strings met over the whole run, in characters.
struct TReach {
  size_t received = 0;  // in a packet that reached a host
  size_t held = 0;      // in a slot a room reads, on either host
  size_t line = 0;      // in a line a room showed
  ~TReach() {
    std::fprintf(stderr, "room fuzz: longest string received %zu, held %zu, shown in a line %zu\n",
                 received, held, line);
  }
};
TReach reach;

// The longest string of a packet that passes the wire check.
size_t LongestString(const Bytes& packet) {
  TGNetMsg msg;
  if (DecodePacket(packet.data(), packet.size(), msg) != TPacketVerdict::Ok) return 0;
  std::array<TGNetSlot, GNET_SLOT_COUNT> slots;
  uint32_t written = 0;
  UnpackSlotArray(msg.data.data(), msg.data.size(), slots.data(), written);
  size_t longest = 0;
  for (const TGNetSlot& slot : slots) longest = std::max(longest, slot.GetString().size());
  return longest;
}

bool StartsWith(const TString& text, const TString& start) {
  return text.compare(0, start.size(), start) == 0;
}

// The texts of the "MSG" messages a host let in, in the order they arrived:
// a guard that hears each arrival, after the room's own guard (the host's
// rules) has judged it; on a guest, which has none, it lets everything in.
// A room may sync twice before it shows what arrived (once more when its
// guard acted), so its view cannot go by the latest sync's messages.
class TListeningGuard : public TGNetGuard {
 public:
  void PeerConnected(int32_t peer, const TNetAddress& address) override {
    if (rules) rules->PeerConnected(peer, address);
  }
  void PeerDisconnected(int32_t peer) override {
    if (rules) rules->PeerDisconnected(peer);
  }
  TGuardRuling Judge(TGNetArrival& arrival) override {
    TGuardRuling ruling = rules ? rules->Judge(arrival) : TGuardRuling::Accepted();
    if (arrival.kind == TArrivalKind::Message && ruling.verdict != TGuardVerdict::Refuse &&
        arrival.slots[0].GetString() == u"MSG")
      heard.push_back(arrival.slots[SLOT_TEXT].GetString());
    return ruling;
  }

  std::shared_ptr<TGNetGuard> rules;
  std::vector<TString> heard;
};

// A room's window, recording instead of drawing, with the checks above.
class TCheckingView : public TRoomView {
 public:
  TCheckingView(const TPlayer& player, const TListeningGuard& listener)
      : player_(player), listener_(listener), shownName_(player.name) {}

  void AppendLog(const TString& text, TLogStyle) override {
    if (text.empty() || text.back() != u'\n') Fail("a log line without its line break");
    bool own = StartsWith(text, u"** ") || StartsWith(text, u"\n") ||
               StartsWith(text, ChatLine(player_.name, player_.rank, TString()));
    if (!own && !ShowsReceivedMessage(text)) Fail("a log line that no rule writes");
    reach.line = std::max(reach.line, text.size());
  }
  void AttentionSound() override {}
  void CountdownSound() override {}
  void LockInputs() override {}
  void SelectSide(int32_t) override {}
  void EnableInput(bool, bool) override {}
  void EnableExtend(bool) override {}
  void EnableChangeSubject(bool) override {}
  void ShowSubject(const TString&, const TString&, const TString&) override {}
  void ShowParticipants(const std::vector<TString>& reds, const std::vector<TString>& undecided,
                        const std::vector<TString>& blues) override {
    reds_ = reds.size();
    blues_ = blues.size();
    undecided_ = undecided.size();
  }
  void ShowConnection(bool) override {}
  void ShowBars(int32_t reds, int32_t blues, int32_t count) override {
    if (static_cast<size_t>(reds) != reds_ || static_cast<size_t>(blues) != blues_ ||
        reds_ + blues_ + undecided_ != static_cast<size_t>(count))
      Fail("the bars disagree with the lists");
  }
  void Notice(const TString& text) override {
    if (text != ONE_USER_PER_CONNECTION) Fail("a notice that no rule shows");
    ++notices;
  }
  void ShowUserName(const TString& name) override {
    bool digitsAppended = name.size() > shownName_.size() && StartsWith(name, shownName_) &&
                          std::all_of(name.begin() + shownName_.size(), name.end(),
                                      [](char16_t c) { return c >= u'0' && c <= u'9'; });
    if (!digitsAppended) Fail("a rename that does not append the lobby ticks");
    shownName_ = name;
  }

  int notices = 0;

 private:
  // A "MSG" line shows its text, then perhaps a stamp, then the line break;
  // messages are shown in the order they arrived (those to others are not).
  bool ShowsReceivedMessage(const TString& text) {
    static const size_t stampLength = Timestamp().size();
    const std::vector<TString>& heard = listener_.heard;
    for (size_t i = shownUpTo_; i < heard.size(); ++i) {
      const TString& body = heard[i];
      if (!StartsWith(text, body)) continue;
      size_t rest = text.size() - body.size();
      if (rest != 1 && !(rest == stampLength + 1 && text.compare(body.size(), 3, u"** ") == 0))
        continue;
      shownUpTo_ = i + 1;
      return true;
    }
    return false;
  }

  const TPlayer& player_;
  const TListeningGuard& listener_;
  TString shownName_;
  size_t reds_ = 0, blues_ = 0, undecided_ = 0;
  size_t shownUpTo_ = 0;  // in the listener's messages
};

// Network addresses (IPv4, most significant byte first): the honest
// guest's, and the first hostile guest's elsewhere.
constexpr uint32_t GUEST_IP = 0x0a000002;  // FUZZ_GUEST_ADDRESS
constexpr uint32_t ELSEWHERE_IP = 0x0a000042;
constexpr uint32_t HOSTILE_IPS[2] = {ELSEWHERE_IP, GUEST_IP};

// One end of an in-memory connection: the record of what its host sends,
// and the network address the other end sees it at.
struct TWire {
  explicit TWire(uint32_t ip = 0) { record->address.ip = ip; }
  std::shared_ptr<TLinkRecord> record = std::make_shared<TLinkRecord>();
  TConnectionId Id() const { return {record.get(), 0}; }
  std::unique_ptr<TPeerLink> NewLink() const { return std::make_unique<TRecordingLink>(record); }
};

TNetEvent ConnectionEvent(TNetEvent::TKind kind, const TWire& wire) {
  TNetEvent event;
  event.kind = kind;
  event.connection = wire.Id();
  if (kind == TNetEvent::TKind::Connected) event.link = wire.NewLink();
  return event;
}

using TEvents = std::shared_ptr<std::deque<TNetEvent>>;

// A room with its participant, replication host and view; the network's
// events for the host are pushed into `events`.
struct TSeat {
  TSeat(const TString& role, const TString& name, const TString& address, int32_t age)
      : host(NewReplicationHost()), events(std::make_shared<std::deque<TNetEvent>>()) {
    player.rank = role;
    player.name = name;
    player.ip = address;
    player.age = age;
    host->UseEndpoint(std::make_unique<TScriptedEndpoint>(events));
    GuardReplication(host, listener);
    view = std::make_unique<TCheckingView>(player, *listener);
    room = std::make_unique<TRoom>(TRoomContext{player, host, u"ColloquorRC2b", topicIndex}, *view);
  }
  // A hosting room has put its guard on the host at entry: the listener
  // takes its place and hands each arrival on to it.
  void ListenBeforeTheRules() {
    listener->rules = room->guard();
    GuardReplication(host, listener);
  }
  void Tick() {
    ++ticks;
    // The lobby timer ticks every 200 seconds.
    room->Tick(ticks, ticks / 200);
  }
  TPlayer player;
  int topicIndex = 0;
  int32_t ticks = 0;
  TGNetHostRef host;
  TEvents events;
  std::shared_ptr<TListeningGuard> listener = std::make_shared<TListeningGuard>();
  std::unique_ptr<TCheckingView> view;
  std::unique_ptr<TRoom> room;
};

// Bytes of a packet as typed text; the field holds little more than a line.
TString Typed(const TFuzzRecord& record) {
  TString text(std::min<size_t>(record.size, 2 * INPUT_LIMIT), u'\0');
  WidenText(record.bytes, text.size(), text.data());
  return text;
}

int32_t SideOf(const TFuzzRecord& record) {
  return record.size == 0 ? SIDE_UNDECIDED : record.bytes[0] % 3 - 1;
}

class TRoomFuzz {
 public:
  TRoomFuzz() : host_(ROLE_HOST, FUZZ_HOST_NAME, FUZZ_HOST_ADDRESS, 500) {
    for (int i = 0; i < 2; ++i) hostiles_[i] = TWire(HOSTILE_IPS[i]);
    host_.room->Enter();
    host_.ListenBeforeTheRules();
    host_.room->Welcome();
    host_.ticks = 5;  // past the quiet first ticks: arrivals are announced
    host_.Tick();
    JoinGuest();
    for (TWire& hostile : hostiles_)
      Push(host_, ConnectionEvent(TNetEvent::TKind::Connected, hostile));
    ServeRooms();
  }

  void Step(const TFuzzRecord& record) {
    int action = (record.control & FUZZ_ACTION_MASK) >> FUZZ_ACTION_SHIFT;
    if (action == 0) Deliver(record);
    else Act(action, record);
    if (record.control & FUZZ_DROP) DropSender(record.control);
    if (record.control & FUZZ_TICK) TickRooms();
    if (record.control & FUZZ_SYNC) ServeRooms();
    // A packet or a drop alone waits in the network until a room serves.
    if (action != 0 || (record.control & (FUZZ_TICK | FUZZ_SYNC))) Check();
  }

  // What is still on its way arrives, and the census sees it.
  void Finish() {
    for (int i = 0; i < 2; ++i) {
      ServeRooms();
      TickRooms();
    }
    Check();
    for (const TSeat* seat : {&host_, guest_.get()})
      if (seat) MeasureStrings(*seat);
  }

 private:
  void Push(TSeat& seat, TNetEvent event) { seat.events->push_back(std::move(event)); }

  void Deliver(const TFuzzRecord& record) {
    Bytes packet(record.bytes, record.bytes + record.size);
    reach.received = std::max(reach.received, LongestString(packet));
    if (!(record.control & FUZZ_TO_GUEST)) {
      Push(host_, ReceivedEvent(hostiles_[record.control & FUZZ_OTHER_PEER].Id(), packet));
    } else if (guest_ && !guestCut_) {
      Push(*guest_, ReceivedEvent(guestToHost_.Id(), packet));
    }
  }

  // A room's own doing, with the packet's bytes as its input: 1 and 2 the
  // host and the guest type a line (chat or a command), 3 and 4 they click a
  // side, 5 and 6 Extend Time or Change Subject, 7 the guest leaves (if
  // there) and a new one joins.
  void Act(int action, const TFuzzRecord& record) {
    bool byGuest = action % 2 == 0;
    if (byGuest && !guest_) return;
    TSeat& seat = byGuest ? *guest_ : host_;
    switch (action) {
      case 1: case 2: seat.room->Send(Typed(record)); break;
      case 3: case 4: seat.room->ChangeSide(SideOf(record)); break;
      case 5: case 6:
        if (record.size > 0 && (record.bytes[0] & 1)) seat.room->ChangeSubject(seat.ticks);
        else seat.room->ExtendTime();
        break;
      case 7:
        LeaveGuest();
        JoinGuest();
        break;
    }
    Pump();
  }

  void DropSender(uint8_t control) {
    if (control & FUZZ_TO_GUEST) {
      CutGuest();
      return;
    }
    int which = control & FUZZ_OTHER_PEER;
    TWire& hostile = hostiles_[which];
    Push(host_, ConnectionEvent(TNetEvent::TKind::Disconnected, hostile));
    hostile = TWire(HOSTILE_IPS[which]);
    Push(host_, ConnectionEvent(TNetEvent::TKind::Connected, hostile));
  }

  void ServeRooms() {
    host_.room->Serve();
    Pump();
    if (guest_) guest_->room->Serve();
    Pump();
  }

  void TickRooms() {
    fuzzClock += 1000;
    host_.Tick();
    Pump();
    if (guest_) guest_->Tick();
    Pump();
  }

  // Moves what the hosts sent over their connection to the other end, and
  // lets go what the hostile guests were sent. A connection that a host
  // asked to end ends; one it let go of at once (its link gone) is over, and
  // a hostile guest then connects afresh.
  void Pump() {
    if (guest_ && !guestCut_) {
      Carry(hostToGuest_, *guest_, guestToHost_);
      Carry(guestToHost_, host_, hostToGuest_);
    }
    for (int i = 0; i < 2; ++i) {
      TWire& hostile = hostiles_[i];
      hostile.record->sent.clear();
      if (hostile.record->disconnectRequested)
        Push(host_, ConnectionEvent(TNetEvent::TKind::Disconnected, hostile));
      if (hostile.record->disconnectRequested || LetGo(hostile)) {
        hostile = TWire(HOSTILE_IPS[i]);
        Push(host_, ConnectionEvent(TNetEvent::TKind::Connected, hostile));
      }
    }
    if (hostToGuest_.record->disconnectRequested || guestToHost_.record->disconnectRequested ||
        LetGo(hostToGuest_))
      CutGuest();
    if (guest_ && !guest_->room->InRoom()) LeaveGuest();
  }

  // Nothing but the wire holds the link's record: no host holds the link,
  // nor an event on its way to one.
  static bool LetGo(const TWire& wire) { return wire.record.use_count() == 1; }

  void Carry(TWire& from, TSeat& to, const TWire& arrivingOn) {
    for (const Bytes& packet : from.record->sent) Push(to, ReceivedEvent(arrivingOn.Id(), packet));
    from.record->sent.clear();
  }

  void JoinGuest() {
    hostToGuest_ = TWire(GUEST_IP);
    guestToHost_ = TWire();
    guestCut_ = false;
    guest_ = std::make_unique<TSeat>(ROLE_GUEST, FUZZ_GUEST_NAME, FUZZ_GUEST_ADDRESS, 40);
    Push(host_, ConnectionEvent(TNetEvent::TKind::Connected, hostToGuest_));
    guest_->host->AddPeer(guestToHost_.NewLink());
    host_.room->Serve();
    Pump();
    guest_->room->Enter();
    guest_->room->Welcome();
    Pump();
  }

  // As the program leaves a room: the last words, then the connection ends.
  void LeaveGuest() {
    if (!guest_) return;
    if (guest_->room->InRoom()) guest_->room->Leave(ROOM_BACK_TO_BROWSER);
    guest_->room->Exit();
    if (!guestCut_) Carry(guestToHost_, host_, hostToGuest_);
    CutGuest();
    guest_.reset();
  }

  void CutGuest() {
    if (guestCut_) return;
    guestCut_ = true;
    hostToGuest_.record->connected = guestToHost_.record->connected = false;
    Push(host_, ConnectionEvent(TNetEvent::TKind::Disconnected, hostToGuest_));
    if (guest_) Push(*guest_, ConnectionEvent(TNetEvent::TKind::Disconnected, guestToHost_));
  }

  void Check() const {
    if (!host_.room->InRoom() || host_.player.name != FUZZ_HOST_NAME ||
        host_.room->Outcome() != ROOM_BACK_TO_BROWSER || host_.view->notices > 0)
      Fail("a peer put the host out of its room or renamed it");
    CheckGuestsObjects();
  }

  // What the host holds of its guests keeps to its rules.
  void CheckGuestsObjects() const {
    static std::vector<int32_t> connections;  // kept: checked after most records
    connections.clear();
    for (const TGNetObjectRef& obj : host_.host->Objects()) {
      int32_t connection = ObjectConnection(obj);
      if (connection == 0 || obj->State() == OBJ_CLOSED) continue;
      if (std::find(connections.begin(), connections.end(), connection) != connections.end())
        Fail("a guest holds two objects at the host");
      connections.push_back(connection);
      const TString& role = obj->GetString(SLOT_ROLE);
      if (role != ROLE_GUEST && !role.empty()) Fail("a guest's object in a role not a guest's");
      if (obj->GetString(SLOT_NAME).size() > GUEST_NAME_LIMIT + NAME_SUFFIX_LIMIT ||
          obj->GetString(SLOT_ADDRESS).size() > ADDRESS_LIMIT)
        Fail("a guest's string past its limit at the host");
    }
  }

  static void MeasureStrings(const TSeat& seat) {
    constexpr int kSlotsRead = 5;  // a participant's or the subject's slots
    for (const TGNetObjectRef& obj : seat.host->Objects())
      for (int slot = 0; slot < kSlotsRead; ++slot)
        reach.held = std::max(reach.held, obj->GetString(slot).size());
  }

  TSeat host_;
  TWire hostiles_[2];
  std::unique_ptr<TSeat> guest_;
  TWire hostToGuest_;  // the host's link to the guest
  TWire guestToHost_;  // the guest's link to the host
  bool guestCut_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzClock = FUZZ_CLOCK_START;
  TRoomFuzz fuzz;
  size_t pos = 0;
  TFuzzRecord record;
  while (NextFuzzRecord(data, size, pos, record)) fuzz.Step(record);
  fuzz.Finish();
  return 0;
}

// Every run builds two hosts of some 100 KB each; a small quarantine lets
// the allocator reuse that memory instead of faulting in fresh pages.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }
