// The lobby client: synchronous HTTP/1.0 requests to the lobby web service,
// one connection each. Every call blocks the thread that makes it, so the
// program makes them on tasks of their own (ui/background.h); calls may run
// on several threads at once. No call raises or shows a message; an
// unreachable lobby gives empty answers.
//
// The lobby is where the environment variable COLLOQUOR_LOBBY says, written
// "host" or "host:port" (port 80 when absent), read at the first call; unset,
// it is "localhost". Resolving, connecting and each read wait at most 5 s,
// the whole answer at most 10 s; a call that runs out of time gives the same
// empty answer as an unreachable lobby.
#pragma once

#include <vector>

#include "core/text.h"
#include "lobby/lobby_protocol.h"
#include "lobby/stream.h"

// How the lobby took a request.
enum TLobbyAnswer {
  LOBBY_UNREACHABLE,  // no answer: not resolved, not connected, or silent past the time
  LOBBY_REFUSED,      // it answered, but not with "OK"
  LOBBY_OK,
};

// The first line of the answer to "ping": the address under which the lobby
// sees this machine; "" when the lobby cannot be reached.
TString LobbyPing();
// 1 when the lobby answered "OK", else 0.
int LobbyAdd(const TString& game, const TString& server);
int LobbyRefresh(const TString& game, const TString& server);
int LobbyRemove(const TString& game);
// LobbyAdd, telling a lobby that could not be reached from one that refused.
TLobbyAnswer LobbyAnnounce(const TString& game, const TString& server);
// The rooms listed; with a non-empty filter only those of that game key.
std::vector<TGNetServerRef> LobbyList(const TString& filter);
// LobbyList, telling a lobby that could not be reached (`answered` false)
// from one that lists no room.
struct TLobbyListing {
  bool answered = false;
  std::vector<TGNetServerRef> rooms;
};
TLobbyListing LobbyListing(const TString& filter);
// Where the lobby is, as "host:port", for what the user is told.
TString LobbyLocation();
// Sends GET <lobby path>?opt=<query> and skips the answer's status line and
// header fields. Returns the stream positioned at the first body line (never
// null; over a failed connection it is already at its end). The caller reads
// the body and closes the stream.
TSocketStreamRef LobbyRequest(const TString& query);
// The body of LobbyAdd, LobbyRefresh and LobbyRemove (opt "add", "ref", "rem").
int LobbyCommand(const TString& opt, const TString& game, const TString& server);
