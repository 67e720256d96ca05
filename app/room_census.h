// The room's census: what one tick's scan of the replicated objects leads to,
// decided over plain snapshots so that it runs without a network, a window
// or a clock. TRoom takes the snapshots right after its sync, calls
// TakeCensus and applies the result: the events in their order (log lines,
// sounds, the notice, the rename, kicks), then the lists, bars and light.
//
// The local participant's own object is the first object its host created,
// so it is read before any rule rewrites it; the rules themselves see the
// local role and name as earlier objects of the same scan left them (a
// rename is what later namesakes are compared with).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/room_model.h"

// What the latest sync did to an object.
enum TSnapshotState { SNAPSHOT_UNCHANGED, SNAPSHOT_MODIFIED, SNAPSHOT_CLOSED };

// One replicated object as read at the start of the scan. Every field is read
// from every object; which of them matter depends on the kind.
struct TObjectSnapshot {
  TString kind;            // slot 0: "HOST", "GUEST", "DEV", "SUBJECT" or anything else
  TString name;            // slot 1: a participant's name
  int32_t side = 0;        // slot 2: a participant's side
  TString address;         // slot 3: a participant's address, as it reports it
  TString origin;          // the network address its owner's connection came from ("" if local);
                           // the ban list matches it on any kind
  int32_t age = 0;         // slot 4: a participant's seconds spent in rooms
  TString red;             // slot 1 of the subject: the RED position
  TString blue;            // slot 2 of the subject: the BLUE position
  int32_t remaining = 0;   // slot 3 of the subject: seconds left of the topic
  bool remote = false;     // a replica of another process's object
  TSnapshotState state = SNAPSHOT_UNCHANGED;
  bool created = false;    // arrived in the latest sync, even if also modified since
};

enum TCensusEventKind {
  CENSUS_JOINED,             // a participant arrived after the room's first 5 ticks
  CENSUS_LEFT,               // a participant closed with its role still set
  CENSUS_HOST_LOST,          // ... and that role was "HOST": lock the inputs
  CENSUS_SHARED_CONNECTION,  // another participant at the local address: leave and end the program
  CENSUS_RENAMED,            // an older namesake: the local participant takes `name`
  CENSUS_SUBJECT,            // show the subject's positions and countdown
  CENSUS_KICK,               // the object's origin is on the ban list
};

struct TCensusEvent {
  TCensusEventKind kind;
  size_t object;  // index of the snapshot it comes from
  TString name;   // JOINED, LEFT: the object's name; RENAMED: the local participant's new name
};

struct TCensus {
  int32_t reds = 0;
  int32_t blues = 0;
  int32_t count = 0;  // every participant, undecided ones too
  std::vector<TString> redNames;   // name + " [" + role + "]", in object order
  std::vector<TString> blueNames;
  bool heard = false;  // an update of a remote participant arrived
  std::vector<TCensusEvent> events;  // in the order they are to be applied
};

// `self` is the local participant as the scan starts (role, name, address,
// age); `banList` is the host's list of banned network addresses, empty on
// a guest;
// the two tick counts are those of the room's second and lobby timers.
TCensus TakeCensus(const std::vector<TObjectSnapshot>& objects, const TPlayer& self,
                   const std::vector<TString>& banList, int32_t secondTicks, int32_t lobbyTicks);

// "Extend Time" is offered only in the topic's last minute.
bool ExtendTimeOffered(int32_t remaining);
// The countdown tick sounds below 15 seconds left.
bool CountdownAudible(int32_t remaining);
