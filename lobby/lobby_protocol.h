// The pure parts of the lobby client: the room record, escaping, where the
// lobby is, the query and request texts, and the reading of answers. No
// sockets here: these are plain functions over text, safe on any thread
// (LobbyLimits may be changed only while no request runs).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/object.h"
#include "core/text.h"

constexpr char LOBBY_PATH[] = "/gnet/gnet.php";
constexpr int LOBBY_PORT = 80;
constexpr char LOBBY_DEFAULT_HOST[] = "localhost";

// One announced room as the lobby lists it (texts in their escaped form).
class TGNetServer : public TObject {
 public:
  TString game;
  TString server;
  TString ip;
};

using TGNetServerRef = std::shared_ptr<TGNetServer>;

// Deletes & % ' and double quotes, then turns spaces into underscores. The
// query goes out without percent-encoding, so what could split it, read as an
// encoding or end the request target must not reach it.
TString LobbyEscape(const TString& text);

// Where the lobby is, as the environment variable COLLOQUOR_LOBBY says:
// "host" or "host:port". `hostLine` is the text as given (it goes verbatim
// into the request's HOST line). `valid` is false for an empty host or a port
// that is not a number from 1 to 65535: no request is then sent.
struct TLobbyAddress {
  std::string host;
  int port = LOBBY_PORT;
  std::string hostLine;
  bool valid = true;
};
// Null or empty means the default, "localhost" on port 80.
TLobbyAddress ParseLobbyAddress(const char* value);

// The query text after "opt=": the opt value, "&game=" and the escaped game,
// then "&server=" and the escaped server when `server` is not empty.
TString LobbyQuery(const TString& opt, const TString& game, const TString& server);
// The request's bytes: the GET line, the HOST line and an empty line, each
// ending in CR LF; characters cut to their low 8 bits.
std::string LobbyRequestText(const TString& query, const std::string& hostLine);
// 1 exactly when the line is "OK".
int LobbyIsOk(const TString& line);

// Takes the body lines of a list answer one by one and collects the rooms:
// blank lines and lines starting with "<b" between records are skipped; a
// record is three lines (game key, room name, address); with a non-empty
// filter only records whose game key equals LobbyEscape(filter) are kept.
class TLobbyListParser {
 public:
  explicit TLobbyListParser(const TString& filter);
  void Feed(const TString& line);
  // The rooms; a record cut short is kept with its missing lines empty.
  std::vector<TGNetServerRef> Finish();

 private:
  void Keep();

  TString _key;
  bool _filtered;
  int _field = 0;  // lines of the current record read so far
  TGNetServer _record;
  std::vector<TGNetServerRef> _rooms;
};

// How long each lobby step may take. Defaults: resolve, connect and every
// read 5000 ms each; the whole answer 10000 ms. Lines are cut at 64 KiB and
// an answer at 4 MiB.
struct TLobbyLimits {
  int stepMs = 5000;
  int answerMs = 10000;
  size_t lineBytes = 64 * 1024;
  size_t answerBytes = 4 * 1024 * 1024;
};
// The limits in force (tests shorten the times). Requests read them on
// their own threads: change them only while none runs.
TLobbyLimits& LobbyLimits();
