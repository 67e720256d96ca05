// Placeholder until the lobby client lands: behaves as an unreachable lobby.
#include "lobby/lobby_client.h"

TString LobbyPing() { return TString(); }
int LobbyAdd(const TString&, const TString&) { return 0; }
int LobbyRefresh(const TString&, const TString&) { return 0; }
int LobbyRemove(const TString&) { return 0; }
std::vector<TGNetServerRef> LobbyList(const TString&) { return {}; }
TString LobbyEscape(const TString& text) { return text; }
