#include "app/room_protocol.h"

#include "core/clock.h"

namespace {

// Slots of the subject object (the participant's and the messages' are the
// rules', room_rules.h).
constexpr int SLOT_RED = 1;
constexpr int SLOT_BLUE = 2;
constexpr int SLOT_REMAINING = 3;

bool IsParticipant(const TGNetObjectRef& obj) {
  return IsParticipantRole(GetSlotString(obj, SLOT_ROLE));
}

using TObjectSet = std::unordered_set<const TGNetObject*>;

// The objects as the census reads them; their states are what the serves
// since the latest census found, not what the latest sync left.
std::vector<TObjectSnapshot> Snapshots(const TGNetObjectList& objects, const TObjectSet& created,
                                       const TObjectSet& modified, const TObjectSet& closed) {
  std::vector<TObjectSnapshot> snapshots;
  snapshots.reserve(objects.size());
  for (const TGNetObjectRef& obj : objects) {
    TObjectSnapshot s;
    s.kind = GetSlotString(obj, SLOT_ROLE);
    s.name = GetSlotString(obj, SLOT_NAME);
    s.side = GetSlotInt(obj, SLOT_SIDE);
    s.address = GetSlotString(obj, SLOT_ADDRESS);
    s.age = GetSlotInt(obj, SLOT_AGE);
    s.red = GetSlotString(obj, SLOT_RED);
    s.blue = GetSlotString(obj, SLOT_BLUE);
    s.remaining = GetSlotInt(obj, SLOT_REMAINING);
    s.remote = ObjectIsRemote(obj) != 0;
    s.origin = ObjectAddress(obj);
    const TGNetObject* key = obj.get();
    s.state = closed.count(key)     ? SNAPSHOT_CLOSED
              : modified.count(key) ? SNAPSHOT_MODIFIED
                                    : SNAPSHOT_UNCHANGED;
    s.created = created.count(key) > 0;
    snapshots.push_back(std::move(s));
  }
  return snapshots;
}

const std::vector<TString> kNoBans;

}  // namespace

TLogStyle MessageStyle(int32_t style) {
  if (style == SIDE_RED) return LOG_RED;
  if (style == SIDE_BLUE) return LOG_BLUE;
  return LOG_BOLD;
}

void NewTopic(TRoomContext& room, const TGNetObjectRef& subject, const TString& text) {
  room.topicIndex = NextTopicIndex(room.topicIndex);
  const TTopic& topic = TopicAt(room.topicIndex);
  SetSlotString(subject, 0, u"SUBJECT");
  SetSlotString(subject, SLOT_RED, topic.red);
  SetSlotString(subject, SLOT_BLUE, topic.blue);
  TGNetObjectRef announcement = NewMessageObject(room.host);
  SetSlotString(announcement, 0, u"MSG");
  SetSlotString(announcement, SLOT_TEXT, text);
  SetSlotInt(announcement, SLOT_STYLE, MSG_STAMP);
  for (const TGNetObjectRef& obj : ReplicatedObjects(room.host, OBJ_ALL)) {
    if (!IsParticipant(obj)) continue;
    SendMessageObject(announcement, obj);
    TGNetObjectRef order = NewMessageObject(room.host);
    SetSlotString(order, 0, u"ORDER");
    SetSlotString(order, SLOT_TEXT, u"SIDE");
    SetSlotInt(order, SLOT_STYLE, SIDE_UNDECIDED);
    SendMessageObject(order, obj);
  }
}

void TRoom::Enter() {
  RoomRandom().Seed(MilliSecs());
  TPlayer& me = ctx_.player;
  enteredAs_ = me.rank;
  me.side = SIDE_UNDECIDED;
  playerObject_ = NewReplicatedObject(ctx_.host);
  SetSlotString(playerObject_, SLOT_ROLE, me.rank);
  SetSlotString(playerObject_, SLOT_NAME, me.name);
  SetSlotInt(playerObject_, SLOT_SIDE, me.side);
  SetSlotString(playerObject_, SLOT_ADDRESS, me.ip);
  SetSlotInt(playerObject_, SLOT_AGE, me.age);
  if (me.rank == ROLE_HOST) {
    // Guests are judged from their very first packet.
    guard_ = std::make_shared<TRoomGuard>();
    GuardReplication(ctx_.host, guard_);
    LimitConnectionsPerAddress(ctx_.host, CONNECTIONS_PER_ADDRESS);
    banList_.clear();
    ctx_.topicIndex = RoomRandom().Range(0, TOPIC_COUNT - 1);
    subjectObject_ = NewReplicatedObject(ctx_.host);
    NewTopic(ctx_, subjectObject_, NEW_TOPIC_TEXT);
    topicDeadline_ = TOPIC_SECONDS;
  }
  SyncReplication(ctx_.host);
  lastHeardMs_ = MilliSecs();  // a guest has just been let in by its host
  TakeInSync();  // shown after the welcome: there is no window yet
}

void TRoom::Welcome() {
  AppendStyled(WelcomeText(ctx_.player.name, ctx_.gameName, Timestamp()), LOG_BOLD);
  HandleInbox();
}

void TRoom::Serve() {
  SyncReplication(ctx_.host);
  TakeInSync();
  // What the guard did leaves at once: a guest back after a crash must hear
  // that its old participant has gone before its own first census.
  if (guard_ && guard_->Enforce(ctx_.host)) {
    NoteChanges();
    SyncReplication(ctx_.host);
    TakeInSync();
  }
  HandleInbox();
}

void TRoom::TakeInSync() {
  NoteChanges();
  for (const TGNetObjectRef& msg : ReceivedMessages(ctx_.host)) {
    inbox_.push_back(msg);
    lastHeardMs_ = MilliSecs();
  }
}

void TRoom::NoteChanges() {
  // Ending a connection outside a sync adds to the latest sync's lists:
  // noting them again adds only what is new.
  const TGNetHostRef& host = ctx_.host;
  auto note = [](TObjectSet& set, const TGNetObjectList& objects) {
    for (const TGNetObjectRef& obj : objects) set.insert(obj.get());
  };
  note(seen_.created, ReplicatedObjects(host, OBJ_CREATED));
  note(seen_.modified, ReplicatedObjects(host, OBJ_MODIFIED));
  note(seen_.closed, ReplicatedObjects(host, OBJ_CLOSED));
  for (int state : {OBJ_CREATED, OBJ_MODIFIED})
    for (const TGNetObjectRef& obj : ReplicatedObjects(host, state))
      if (ObjectIsRemote(obj)) lastHeardMs_ = MilliSecs();
  UpdateRoster();
}

void TRoom::UpdateRoster() {
  // The host keeps its objects in order and adds new ones at the end; the
  // roster keeps that order, and keeps departed objects where they were
  // until the census has seen them.
  const TGNetObjectList& objects = ReplicatedObjects(ctx_.host, OBJ_ALL);
  TObjectSet present;
  for (const TGNetObjectRef& obj : objects) present.insert(obj.get());
  TGNetObjectList roster;
  TObjectSet kept;
  for (const TGNetObjectRef& obj : roster_) {
    if (!present.count(obj.get()) && !seen_.closed.count(obj.get())) continue;
    roster.push_back(obj);
    kept.insert(obj.get());
  }
  for (const TGNetObjectRef& obj : objects)
    if (!kept.count(obj.get())) roster.push_back(obj);
  roster_ = std::move(roster);
}

void TRoom::HandleInbox() {
  // Showing a message may poll the toolkit (the attention sound asks who has
  // the focus); a serve inside that poll adds to the inbox, and this loop
  // shows those messages after the current one, in order.
  if (handlingInbox_) return;
  handlingInbox_ = true;
  while (!inbox_.empty()) {
    TGNetObjectRef msg = std::move(inbox_.front());
    inbox_.pop_front();
    HandleMessage(msg);
  }
  handlingInbox_ = false;
}

void TRoom::Tick(int32_t secondTicks, int32_t lobbyTicks) {
  TPlayer& me = ctx_.player;
  if (IsHost()) SetSlotInt(subjectObject_, SLOT_REMAINING, topicDeadline_ - secondTicks);
  ++me.age;
  SetSlotInt(playerObject_, SLOT_AGE, me.age);
  if (guard_ && guard_->Sweep(ctx_.host)) NoteChanges();  // the closes leave with the serve
  Serve();
  ScanObjects(secondTicks, lobbyTicks);
}

void TRoom::HandleMessage(const TGNetObjectRef& msg) {
  TString kind = GetSlotString(msg, 0);
  if (kind == u"MSG") {
    int32_t style = GetSlotInt(msg, SLOT_STYLE);
    AppendStyled(ReceivedMessageText(GetSlotString(msg, SLOT_TEXT), style, Timestamp()),
                 MessageStyle(style));
    if (MessageStyle(style) == LOG_BOLD && (style & MSG_LOCK)) view_.LockInputs();
    view_.AttentionSound();
  } else if (kind == u"ORDER") {
    TString order = GetSlotString(msg, SLOT_TEXT);
    if (order == u"KICK") {
      if (ctx_.player.rank == ROLE_GUEST) {
        ctx_.player.rank.clear();
        SetSlotString(playerObject_, SLOT_ROLE, u"");
        if (outcome_ != ROOM_END_PROGRAM) outcome_ = ROOM_KICKED;
      } else {
        AppendStyled(KickAttemptText(Timestamp()), LOG_PLAIN);
        view_.AttentionSound();
      }
    } else if (order == u"SIDE") {
      HandleSideOrder(GetSlotInt(msg, SLOT_STYLE));
    }
  }
}

void TRoom::HandleSideOrder(int32_t side) {
  TPlayer& me = ctx_.player;
  me.side = side;
  SetSlotInt(playerObject_, SLOT_SIDE, side);
  if (side == SIDE_RED || side == SIDE_BLUE) {
    view_.SelectSide(side);
    view_.EnableInput(true, true);
  } else if (side == SIDE_UNDECIDED) {
    view_.SelectSide(side);
    if (me.rank != ROLE_DEV) view_.EnableInput(false, false);
    view_.EnableChangeSubject(true);
  }
}

void TRoom::ScanObjects(int32_t secondTicks, int32_t lobbyTicks) {
  // Taken first, and the roster copied: a modal notice below runs the
  // toolkit, and the serves inside it collect for the next census.
  TSeen seen = std::move(seen_);
  seen_ = TSeen();
  TGNetObjectList objects = roster_;
  std::vector<TObjectSnapshot> snapshots =
      Snapshots(objects, seen.created, seen.modified, seen.closed);
  TCensus census = TakeCensus(snapshots, ctx_.player, IsHost() ? banList_ : kNoBans,
                              secondTicks, lobbyTicks);
  bool kicked = false;
  for (const TCensusEvent& event : census.events) {
    ApplyCensusEvent(event, objects, snapshots);
    kicked = kicked || event.kind == CENSUS_KICK;
  }
  view_.ShowParticipants(census.redNames, census.undecidedNames, census.blueNames);
  view_.ShowConnection(ConnectionLit(ClockElapsed(MilliSecs(), lastHeardMs_)));
  view_.ShowBars(census.reds, census.blues, census.count);
  if (IsHost() && GetSlotInt(subjectObject_, SLOT_REMAINING) <= 0)
    EndTopic(secondTicks, census.reds, census.blues, census.count);
  else if (kicked)
    Serve();
}

void TRoom::ApplyCensusEvent(const TCensusEvent& event, const TGNetObjectList& objects,
                             const std::vector<TObjectSnapshot>& snapshots) {
  TPlayer& me = ctx_.player;
  switch (event.kind) {
    case CENSUS_SHARED_CONNECTION:
      me.rank.clear();
      SetSlotString(playerObject_, SLOT_ROLE, u"");
      outcome_ = ROOM_END_PROGRAM;
      view_.Notice(ONE_USER_PER_CONNECTION);
      break;
    case CENSUS_RENAMED:
      me.name = event.name;
      SetSlotString(playerObject_, SLOT_NAME, me.name);
      view_.ShowUserName(me.name);
      break;
    case CENSUS_JOINED:
      AppendStyled(JoinedText(event.name, Timestamp()), LOG_BOLD);
      view_.AttentionSound();
      break;
    case CENSUS_LEFT:
      AppendStyled(LeftText(event.name, Timestamp()), LOG_BOLD);
      view_.AttentionSound();
      break;
    case CENSUS_HOST_LOST:
      AppendStyled(HostLostText(Timestamp()), LOG_BOLD);
      view_.LockInputs();
      break;
    case CENSUS_SUBJECT: {
      const TObjectSnapshot& subject = snapshots[event.object];
      view_.ShowSubject(subject.red, subject.blue, CountdownText(subject.remaining));
      view_.EnableExtend(ExtendTimeOffered(subject.remaining));
      if (CountdownAudible(subject.remaining)) view_.CountdownSound();
      break;
    }
    case CENSUS_KICK:
      SendKick(objects[event.object]);
      break;
  }
}

void TRoom::EndTopic(int32_t secondTicks, int32_t reds, int32_t blues, int32_t count) {
  view_.AttentionSound();
  TString result = TopicResultText(GetSlotString(subjectObject_, SLOT_RED),
                                   GetSlotString(subjectObject_, SLOT_BLUE), reds, blues, count);
  NewTopic(ctx_, subjectObject_, result);
  AppendStyled(result + Timestamp() + u"\n", LOG_BOLD);
  topicDeadline_ = secondTicks + TOPIC_SECONDS;
  BecomeUndecidedAfterTopic();
  Serve();  // the announcement and the orders leave now
}

void TRoom::BecomeUndecidedAfterTopic() {
  ctx_.player.side = SIDE_UNDECIDED;
  SetSlotInt(playerObject_, SLOT_SIDE, SIDE_UNDECIDED);
  view_.SelectSide(SIDE_UNDECIDED);
  view_.EnableInput(false, false);
}

void TRoom::ChangeSide(int32_t side) {
  TPlayer& me = ctx_.player;
  me.side = side;
  SetSlotInt(playerObject_, SLOT_SIDE, side);
  if (side == SIDE_UNDECIDED) {
    if (me.rank != ROLE_DEV) view_.EnableInput(false, false);
  } else {
    view_.EnableInput(true, true);
  }
  Serve();
}

void TRoom::SendToParticipants(const TGNetObjectRef& msg, bool guestsOnly) {
  for (const TGNetObjectRef& obj : ReplicatedObjects(ctx_.host, OBJ_ALL)) {
    TString role = GetSlotString(obj, SLOT_ROLE);
    bool addressed = guestsOnly ? (role == ROLE_GUEST || role == ROLE_DEV) : IsParticipantRole(role);
    if (addressed) SendMessageObject(msg, obj);
  }
}

void TRoom::SendMsg(const TString& text, int32_t style) {
  TGNetObjectRef msg = NewMessageObject(ctx_.host);
  SetSlotString(msg, 0, u"MSG");
  SetSlotString(msg, SLOT_TEXT, text);
  SetSlotInt(msg, SLOT_STYLE, style);
  SendToParticipants(msg);
}

void TRoom::SendKick(const TGNetObjectRef& to) {
  TGNetObjectRef order = NewMessageObject(ctx_.host);
  SetSlotString(order, 0, u"ORDER");
  SetSlotString(order, SLOT_TEXT, u"KICK");
  SendMessageObject(order, to);
  // A guest that does not obey is let go after a grace.
  if (guard_ && ObjectConnection(to) != 0) guard_->Kicked(ObjectConnection(to));
}

bool TRoom::Send(const TString& fieldText) {
  TString text = PrepareInput(fieldText);
  if (text.empty()) return false;
  if (text[0] == u'/') {
    RunCommand(text);
  } else {
    TPlayer& me = ctx_.player;
    TString line = ChatLine(me.name, me.rank, text);
    SendMsg(line, me.side);
    AppendStyled(line + u"\n",
                 me.side == SIDE_RED ? LOG_RED : me.side == SIDE_BLUE ? LOG_BLUE : LOG_PLAIN);
  }
  Serve();
  return true;
}

struct TRoom::TChatCommand {
  enum TUsers { EVERYBODY, HOSTS };  // HOSTS: the roles "HOST" and "DEV"
  const char16_t* name;              // typed after "/"; matched lower-cased
  TUsers users;
  const char16_t* argument;          // the argument's word in the help label; "" for none
  void (TRoom::*run)(const TString& argument);

  bool MayBeUsedBy(const TString& role) const {
    return users == EVERYBODY || role == ROLE_HOST || role == ROLE_DEV;
  }
};

const std::vector<TRoom::TChatCommand>& TRoom::Commands() {
  static const std::vector<TChatCommand> commands = {
      {u"userlist", TChatCommand::EVERYBODY, u"", &TRoom::ListUsers},
      {u"kick", TChatCommand::HOSTS, u"username", &TRoom::Kick},
      {u"ban", TChatCommand::HOSTS, u"username", &TRoom::Ban},
  };
  return commands;
}

TString TRoom::CommandHelp() {
  TString everybody, hosts;
  for (const TChatCommand& command : Commands()) {
    TString& list = command.users == TChatCommand::EVERYBODY ? everybody : hosts;
    if (!list.empty()) list += u", ";
    list += u"/" + TString(command.name);
    if (*command.argument) list += u" " + TString(command.argument);
  }
  return u"COMMANDS " + everybody + u"\tHOST COMMANDS " + hosts;
}

void TRoom::RunCommand(const TString& input) {
  // Unknown commands, and commands the role may not use, do nothing.
  TCommand typed = ParseCommand(input);
  for (const TChatCommand& command : Commands())
    if (typed.command == command.name && command.MayBeUsedBy(ctx_.player.rank))
      (this->*command.run)(typed.argument);
}

void TRoom::ListUsers(const TString&) {
  std::vector<TListedUser> users;
  for (const TGNetObjectRef& obj : ReplicatedObjects(ctx_.host, OBJ_ALL))
    if (IsParticipant(obj))
      users.push_back({GetSlotString(obj, SLOT_NAME), GetSlotString(obj, SLOT_ROLE)});
  AppendStyled(UserListLine(users, Timestamp()), LOG_BOLD);
}

void TRoom::Kick(const TString& name) { KickNamed(name, false); }

void TRoom::Ban(const TString& name) { KickNamed(name, true); }

void TRoom::KickNamed(const TString& name, bool ban) {
  for (const TGNetObjectRef& obj : ReplicatedObjects(ctx_.host, OBJ_ALL)) {
    TString listed = GetSlotString(obj, SLOT_NAME);
    if (!IsParticipant(obj) || !SameUserName(listed, name)) continue;
    SendKick(obj);
    // Only a guest obeys: a host or "DEV" participant just sees a notice.
    if (GetSlotString(obj, SLOT_ROLE) == ROLE_GUEST)
      AppendStyled(RemovedText(listed, ban, Timestamp()), LOG_BOLD);
    // Only the host keeps a ban list; a "DEV" participant's ban kicks once.
    // It bans the network address the guest's connection came from: the
    // address a guest reports is its own to choose.
    TString address = ObjectAddress(obj);
    if (ban && ctx_.player.rank == ROLE_HOST && !address.empty()) banList_.push_back(address);
  }
}

bool TRoom::HasGuests() const {
  for (const TGNetObjectRef& obj : ReplicatedObjects(ctx_.host, OBJ_ALL))
    if (IsParticipant(obj) && ObjectIsRemote(obj) && ObjectState(obj) != OBJ_CLOSED) return true;
  return false;
}

void TRoom::ExtendTime() {
  if (ctx_.player.rank == ROLE_GUEST) {
    TString request = ExtensionRequest(ctx_.player.name);
    SendMsg(request, MSG_STAMP);
    AppendStyled(request + Timestamp() + u"\n", LOG_BOLD);
    view_.EnableExtend(false);
    Serve();
  } else {
    topicDeadline_ += TOPIC_SECONDS;
  }
}

void TRoom::ChangeSubject(int32_t secondTicks) {
  if (ctx_.player.rank == ROLE_GUEST) {
    TString request = TopicChangeRequest(ctx_.player.name);
    SendMsg(request, MSG_STAMP);
    AppendStyled(request + Timestamp() + u"\n", LOG_BOLD);
    view_.EnableChangeSubject(false);
    Serve();
  } else {
    topicDeadline_ = secondTicks;
  }
}

void TRoom::Leave(TRoomOutcome outcome) {
  ctx_.player.rank.clear();
  SetSlotString(playerObject_, SLOT_ROLE, u"");
  if (outcome == ROOM_END_PROGRAM) outcome_ = ROOM_END_PROGRAM;
}

void TRoom::Exit() {
  if (IsHost()) {
    TGNetObjectRef notice = NewMessageObject(ctx_.host);
    SetSlotString(notice, 0, u"MSG");
    SetSlotString(notice, SLOT_TEXT, HOST_LEAVING_NOTICE);
    SetSlotInt(notice, SLOT_STYLE, MSG_LOCK | MSG_STAMP);
    SendToParticipants(notice, true);
  }
  CloseReplicatedObject(playerObject_);
  SyncReplication(ctx_.host);
}
