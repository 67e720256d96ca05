// Event records and hook chains. Main thread only.
//
// A producer builds a TEvent and calls Emit, which runs the event chain
// (EventHookId): ordinary hooks see the event first, and the event queue's
// own hook, added when the queue starts (ui/event_queue.h), posts it last.
// This module knows nothing of the queue: an event emitted before the queue
// has started passes the chain and is not queued. Events, descriptions and
// hooks are never torn down; hook ids are never freed.
#pragma once

#include <cstdint>
#include <memory>

#include "core/object.h"

// Registered event ids; each id's description is its name.
enum : int32_t {
  AppSuspend = 0x101,
  AppResume = 0x102,
  AppTerminate = 0x103,
  AppOpenFile = 0x104,
  AppIdle = 0x105,
  KeyDown = 0x201,
  KeyUp = 0x202,
  KeyChar = 0x203,
  KeyRepeat = 0x204,
  MouseDown = 0x401,
  MouseUp = 0x402,
  MouseMove = 0x403,
  MouseWheel = 0x404,
  MouseEnter = 0x405,
  MouseLeave = 0x406,
  TimerTick = 0x801,
  HotkeyHit = 0x1001,
  GadgetAction = 0x2001,
  GadgetPaint = 0x2002,
  GadgetSelect = 0x2003,
  GadgetMenu = 0x2004,
  GadgetOpen = 0x2005,
  GadgetClose = 0x2006,
  GadgetDone = 0x2007,
  GadgetLostFocus = 0x2008,
  GadgetShape = 0x2009,
  WindowMove = 0x4001,
  WindowSize = 0x4002,
  WindowClose = 0x4003,
  WindowActivate = 0x4004,
  WindowAccept = 0x4005,
  MenuAction = 0x8001,
  StreamEof = 0x10001,
  StreamAvail = 0x10002,
  ProcessExit = 0x20001,
};

class TEvent : public TObject {
 public:
  int32_t id = 0;
  TObjectRef source;
  int32_t data = 0;
  int32_t mods = 0;
  int32_t x = 0;
  int32_t y = 0;
  TObjectRef extra;

  static std::shared_ptr<TEvent> Create(int32_t id, TObjectRef source = nullptr, int32_t data = 0,
                                        int32_t mods = 0, int32_t x = 0, int32_t y = 0,
                                        TObjectRef extra = nullptr);

  // Runs the hook chain of EventHookId with this event; the queue's own hook
  // (last in the chain, once the queue runs) posts it. The event must be
  // held by a shared_ptr.
  void Emit();

  // "Name: data=.., mods=.., x=.., y=.., extra=\"..\"".
  TString ToString() const;

  // The extra object's text when it is a string, else "".
  TString ExtraText() const { return ObjectText(extra); }

  static TString DescriptionForId(int32_t id);
  // The first registration of an id wins.
  static void RegisterId(int32_t id, const TString& description);
  // 0x80000001, then one more on every call.
  static int32_t AllocUserId();
};

using TEventRef = std::shared_ptr<TEvent>;

// A hook function gets the hook id, the data passed along the chain and its
// own context; its result is the data of the next link.
using THookFunc = TObjectRef (*)(int id, const TObjectRef& data, const TObjectRef& context);

class THook {
 public:
  static constexpr int kMaxIds = 256;
  // 0, then one more per call; raises "Too many hook ids" instead of 256.
  static int AllocId();
  // Chains run by descending priority; equal priorities in order of adding.
  static void Add(int id, THookFunc func, TObjectRef context, int priority);
  // Unlinks the first link with this func and context; nothing if none.
  static void Remove(int id, THookFunc func, const TObjectRef& context);
  // Calls each link in chain order; returns the last result (data when empty).
  static TObjectRef Run(int id, TObjectRef data);
};

// The hook id of the event chain. The event module starts on the first call:
// it allocates this id (so the process's first hook id, 0, unless THook ids
// were taken before) and registers the descriptions of the ids above.
int EventHookId();
