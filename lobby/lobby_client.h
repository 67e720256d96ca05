// The lobby client: synchronous HTTP/1.0 requests to the lobby web service,
// one connection each. Main thread only. No call raises or shows a message;
// an unreachable lobby gives empty answers.
#pragma once

#include <memory>
#include <vector>

#include "core/object.h"

// One announced room as the lobby lists it (texts in their escaped form).
class TGNetServer : public TObject {
 public:
  TString game;
  TString server;
  TString ip;
};

using TGNetServerRef = std::shared_ptr<TGNetServer>;

// The first line of the answer to "ping": the address under which the lobby
// sees this machine; "" when the lobby cannot be reached.
TString LobbyPing();
// 1 when the lobby answered "OK", else 0.
int LobbyAdd(const TString& game, const TString& server);
int LobbyRefresh(const TString& game, const TString& server);
int LobbyRemove(const TString& game);
// The rooms listed; with a non-empty filter only those of that game key.
std::vector<TGNetServerRef> LobbyList(const TString& filter);
// Deletes & % ' and double quotes, then turns spaces into underscores.
TString LobbyEscape(const TString& text);
