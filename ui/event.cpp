// Event records, the registry of event descriptions and the hook chains.
#include "ui/event.h"

#include <unordered_map>

#include "core/error.h"

namespace {

struct HookLink {
  std::shared_ptr<HookLink> succ;
  int priority;
  THookFunc func;
  TObjectRef context;
};

struct HookTable {
  std::shared_ptr<HookLink> heads[THook::kMaxIds];
  int nextId = 0;
};

HookTable& Hooks() {
  static HookTable* table = new HookTable;  // never destroyed: used until exit
  return *table;
}

std::unordered_map<int32_t, TString>& Descriptions() {
  static auto* map = new std::unordered_map<int32_t, TString>;
  return *map;
}

int32_t nextUserId = static_cast<int32_t>(0x80000000u);

const struct {
  int32_t id;
  const char16_t* name;
} kEventNames[] = {
    {AppSuspend, u"AppSuspend"},       {AppResume, u"AppResume"},
    {AppTerminate, u"AppTerminate"},   {AppOpenFile, u"AppOpenFile"},
    {AppIdle, u"AppIdle"},             {KeyDown, u"KeyDown"},
    {KeyUp, u"KeyUp"},                 {KeyChar, u"KeyChar"},
    {KeyRepeat, u"KeyRepeat"},         {MouseDown, u"MouseDown"},
    {MouseUp, u"MouseUp"},             {MouseMove, u"MouseMove"},
    {MouseWheel, u"MouseWheel"},       {MouseEnter, u"MouseEnter"},
    {MouseLeave, u"MouseLeave"},       {TimerTick, u"TimerTick"},
    {HotkeyHit, u"HotkeyHit"},         {GadgetAction, u"GadgetAction"},
    {GadgetPaint, u"GadgetPaint"},     {GadgetSelect, u"GadgetSelect"},
    {GadgetMenu, u"GadgetMenu"},       {GadgetOpen, u"GadgetOpen"},
    {GadgetClose, u"GadgetClose"},     {GadgetDone, u"GadgetDone"},
    {GadgetLostFocus, u"GadgetLostFocus"}, {GadgetShape, u"GadgetShape"},
    {WindowMove, u"WindowMove"},       {WindowSize, u"WindowSize"},
    {WindowClose, u"WindowClose"},     {WindowActivate, u"WindowActivate"},
    {WindowAccept, u"WindowAccept"},   {MenuAction, u"MenuAction"},
    {StreamEof, u"StreamEof"},         {StreamAvail, u"StreamAvail"},
    {ProcessExit, u"ProcessExit"},
};

// The event module: the event chain's hook id (the first id this module
// allocates) and the descriptions of the registered ids.
struct EventModule {
  int hookId;
  EventModule() {
    hookId = THook::AllocId();
    for (const auto& entry : kEventNames) TEvent::RegisterId(entry.id, entry.name);
  }
};

EventModule& Module() {
  static EventModule* module = new EventModule;
  return *module;
}

}  // namespace

int EventHookId() { return Module().hookId; }

std::shared_ptr<TEvent> TEvent::Create(int32_t id, TObjectRef source, int32_t data, int32_t mods,
                                       int32_t x, int32_t y, TObjectRef extra) {
  auto event = std::make_shared<TEvent>();
  event->id = id;
  event->source = std::move(source);
  event->data = data;
  event->mods = mods;
  event->x = x;
  event->y = y;
  event->extra = std::move(extra);
  return event;
}

void TEvent::Emit() { THook::Run(EventHookId(), shared_from_this()); }

TString TEvent::ToString() const {
  TString text = DescriptionForId(id);
  if (text.empty()) {
    if (static_cast<uint32_t>(id) & 0x80000000u)
      text = u"UserEvent" + DecimalText(static_cast<uint32_t>(id) - 0x80000000u);
    else
      text = u"Unknown Event, id=" + DecimalText(id);
  }
  return text + u": data=" + DecimalText(data) + u", mods=" + DecimalText(mods) + u", x=" +
         DecimalText(x) + u", y=" + DecimalText(y) + u", extra=\"" + ExtraText() + u"\"";
}

TString TEvent::DescriptionForId(int32_t id) {
  auto& map = Descriptions();
  auto it = map.find(id);
  return it == map.end() ? TString() : it->second;
}

void TEvent::RegisterId(int32_t id, const TString& description) {
  Descriptions().emplace(id, description);  // keeps an existing entry
}

int32_t TEvent::AllocUserId() {
  nextUserId = static_cast<int32_t>(static_cast<uint32_t>(nextUserId) + 1);
  return nextUserId;
}

int THook::AllocId() {
  auto& table = Hooks();
  if (table.nextId >= kMaxIds) throw TRuntimeError("Too many hook ids");
  return table.nextId++;
}

void THook::Add(int id, THookFunc func, TObjectRef context, int priority) {
  auto link = std::make_shared<HookLink>();
  link->priority = priority;
  link->func = func;
  link->context = std::move(context);
  std::shared_ptr<HookLink>* at = &Hooks().heads[id];
  while (*at && (*at)->priority >= priority) at = &(*at)->succ;
  link->succ = std::move(*at);
  *at = std::move(link);
}

void THook::Remove(int id, THookFunc func, const TObjectRef& context) {
  for (std::shared_ptr<HookLink>* at = &Hooks().heads[id]; *at; at = &(*at)->succ) {
    if ((*at)->func == func && (*at)->context == context) {
      *at = (*at)->succ;
      return;
    }
  }
}

TObjectRef THook::Run(int id, TObjectRef data) {
  // Holding each link keeps the walk valid when a hook removes itself.
  for (std::shared_ptr<HookLink> link = Hooks().heads[id]; link; link = link->succ)
    data = link->func(id, data, link->context);
  return data;
}
