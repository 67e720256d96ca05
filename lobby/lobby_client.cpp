#include "lobby/lobby_client.h"

#include <cstdlib>

#include "core/clock.h"
#include "lobby/lobby_protocol.h"
#include "lobby/resolve.h"

namespace {

const TLobbyAddress& LobbyAddress() {
  // Never freed: a request still running on its own thread at exit reads it.
  static const TLobbyAddress* address =
      new TLobbyAddress(ParseLobbyAddress(std::getenv("COLLOQUOR_LOBBY")));
  return *address;
}

// A socket connected to the lobby, or null when the name does not resolve,
// no socket can be had, or the connect fails or runs out of time.
TSocketRef ConnectToLobby() {
  const TLobbyAddress& address = LobbyAddress();
  const TLobbyLimits& limits = LobbyLimits();
  if (!address.valid) return nullptr;
  // An unresolved name is not tried as address 0, which would reach this
  // machine's own port.
  int32_t ip = ResolveFirstIp(address.host, limits.stepMs);
  if (ip == 0) return nullptr;
  TSocketRef socket = TSocket::CreateTCP();
  if (!socket || !socket->Connect(ip, address.port, limits.stepMs)) return nullptr;
  return socket;
}

}  // namespace

TSocketStreamRef LobbyRequest(const TString& query) {
  const TLobbyLimits& limits = LobbyLimits();
  TSocketStreamRef stream = TSocketStream::Create(ConnectToLobby(), 1);
  stream->SetLineLimit(limits.lineBytes);
  stream->SetByteLimit(limits.answerBytes);
  stream->SetReadTimeouts(limits.stepMs, MilliSecs() + limits.answerMs);
  // One write: the three lines leave together instead of as six segments.
  std::string request = LobbyRequestText(query, LobbyAddress().hostLine);
  stream->Write(request.data(), static_cast<int>(request.size()));
  stream->Flush();
  while (!stream->ReadLine().empty()) {
  }
  return stream;
}

TString LobbyPing() {
  TSocketStreamRef stream = LobbyRequest(u"ping");
  TString line = stream->ReadLine();
  stream->Close();
  return stream->TimedOut() ? TString() : line;
}

int LobbyCommand(const TString& opt, const TString& game, const TString& server) {
  TSocketStreamRef stream = LobbyRequest(LobbyQuery(opt, game, server));
  TString line = stream->ReadLine();
  stream->Close();
  return !stream->TimedOut() && LobbyIsOk(line);
}

int LobbyAdd(const TString& game, const TString& server) { return LobbyCommand(u"add", game, server); }

int LobbyRefresh(const TString& game, const TString& server) {
  return LobbyCommand(u"ref", game, server);
}

int LobbyRemove(const TString& game) { return LobbyCommand(u"rem", game, TString()); }

std::vector<TGNetServerRef> LobbyList(const TString& filter) {
  TSocketStreamRef stream = LobbyRequest(u"list");
  TLobbyListParser parser(filter);
  do {
    parser.Feed(stream->ReadLine());
  } while (!stream->Eof());
  stream->Close();
  if (stream->TimedOut()) return {};
  return parser.Finish();
}
