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

// LobbyRequest; `answered` tells whether the lobby sent an answer's head
// (its status line) before the connection ended or ran out of time.
TSocketStreamRef Request(const TString& query, bool& answered) {
  const TLobbyLimits& limits = LobbyLimits();
  TSocketStreamRef stream = TSocketStream::Create(ConnectToLobby(), 1);
  stream->SetLineLimit(limits.lineBytes);
  stream->SetByteLimit(limits.answerBytes);
  stream->SetReadTimeouts(limits.stepMs, MilliSecs() + limits.answerMs);
  // One write: the three lines leave together instead of as six segments.
  std::string request = LobbyRequestText(query, LobbyAddress().hostLine);
  stream->Write(request.data(), static_cast<int>(request.size()));
  stream->Flush();
  answered = !stream->ReadLine().empty();
  while (answered && !stream->ReadLine().empty()) {
  }
  return stream;
}

// The first body line of a command's answer, with how the lobby took it.
TLobbyAnswer Command(const TString& opt, const TString& game, const TString& server) {
  bool answered = false;
  TSocketStreamRef stream = Request(LobbyQuery(opt, game, server), answered);
  TString line = stream->ReadLine();
  stream->Close();
  if (!answered || stream->TimedOut()) return LOBBY_UNREACHABLE;
  return LobbyIsOk(line) ? LOBBY_OK : LOBBY_REFUSED;
}

}  // namespace

TSocketStreamRef LobbyRequest(const TString& query) {
  bool answered = false;
  return Request(query, answered);
}

TString LobbyPing() {
  TSocketStreamRef stream = LobbyRequest(u"ping");
  TString line = stream->ReadLine();
  stream->Close();
  return stream->TimedOut() ? TString() : line;
}

int LobbyCommand(const TString& opt, const TString& game, const TString& server) {
  return Command(opt, game, server) == LOBBY_OK ? 1 : 0;
}

int LobbyAdd(const TString& game, const TString& server) { return LobbyCommand(u"add", game, server); }

int LobbyRefresh(const TString& game, const TString& server) {
  return LobbyCommand(u"ref", game, server);
}

int LobbyRemove(const TString& game) { return LobbyCommand(u"rem", game, TString()); }

TLobbyAnswer LobbyAnnounce(const TString& game, const TString& server) {
  return Command(u"add", game, server);
}

std::vector<TGNetServerRef> LobbyList(const TString& filter) { return LobbyListing(filter).rooms; }

TLobbyListing LobbyListing(const TString& filter) {
  TLobbyListing listing;
  TSocketStreamRef stream = Request(u"list", listing.answered);
  TLobbyListParser parser(filter);
  do {
    parser.Feed(stream->ReadLine());
  } while (!stream->Eof());
  stream->Close();
  if (stream->TimedOut()) listing.answered = false;
  if (listing.answered) listing.rooms = parser.Finish();
  return listing;
}

TString LobbyLocation() {
  const TLobbyAddress& address = LobbyAddress();
  if (!address.valid) return FromBytes(address.hostLine);
  return FromBytes(address.host + ":" + std::to_string(address.port));
}
