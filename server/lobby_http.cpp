#include "server/lobby_http.h"

#include <ctime>
#include <memory>

namespace {

// The current second as text, formatted once per second and thread.
const std::string& LogTime() {
  thread_local std::time_t second = -1;
  thread_local std::string text;
  std::time_t now = std::time(nullptr);
  if (now != second) {
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    text = buffer;
    second = now;
  }
  return text;
}

void AppendLogLine(std::string& log, const std::string& peer, const std::string& request,
                   int status, size_t bytes) {
  log += LogTime();
  log += ' ';
  log += LogSafe(PlainAddress(peer));
  log += " \"";
  log += LogSafe(request);
  log += "\" ";
  log += std::to_string(status);
  log += ' ';
  log += std::to_string(bytes);
  log += '\n';
}

void AppendAnswer(TAnswerQueue& answer, int status, const std::shared_ptr<const std::string>& body,
                  bool keepAlive, bool withBody = true) {
  AppendAnswerHead(answer.Text(), status, body->size(), keepAlive);
  if (withBody) answer.Append(body);
}

// A refusal's answer: head and body, the connection closing.
void AppendRefusal(TAnswerQueue& answer, int status, const std::string& body) {
  AppendAnswerHead(answer.Text(), status, body.size(), false);
  answer.Text() += body;
}

}  // namespace

std::string LogSafe(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string safe;
  safe.reserve(text.size());
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      safe.push_back(static_cast<char>(c));
    } else {
      safe += "\\x";
      safe.push_back(kHex[c >> 4]);
      safe.push_back(kHex[c & 15]);
    }
  }
  return safe;
}

TAfterAnswer TLobbyHttp::Answer(const char* head, size_t size, THeadEnd end,
                                const std::string& peer, bool last, TAnswerQueue& answer,
                                std::string& log) {
  if (end == THeadEnd::TimedOut) {
    const std::string body = "Request not complete within 10 s\n";
    AppendRefusal(answer, 408, body);
    AppendLogLine(log, peer, "(request not complete within 10 s)", 408, body.size());
    return TAfterAnswer::Drain;
  }
  THttpRequest request;
  if (int refused = ParseRequestHead(head, size, request)) {
    // The rest of the bytes cannot be trusted to start a request.
    AppendRefusal(answer, refused, std::string());
    AppendLogLine(log, peer, "(unreadable request)", refused, 0);
    return TAfterAnswer::Drain;
  }
  const std::string requestLine = request.method + " " + request.target + " " + request.version;
  if (request.hasBody) {
    // Its bytes are not read, so they cannot be trusted to start a request.
    const std::string body = "Request body not allowed\n";
    AppendRefusal(answer, 400, body);
    AppendLogLine(log, peer, requestLine, 400, body.size());
    return TAfterAnswer::Drain;
  }
  const size_t question = request.target.find('?');
  const bool isHead = request.method == "HEAD";
  TLobbyAnswer reply{404};
  if ((request.method == "GET" || isHead) &&
      request.target.compare(0, question, LOBBY_SERVICE_PATH) == 0)
    reply = _service.Answer(
        question == std::string::npos ? std::string() : request.target.substr(question + 1), peer);
  const bool keepAlive = request.keepAlive && !last;
  AppendAnswer(answer, reply.status, reply.body, keepAlive, !isHead);
  AppendLogLine(log, peer, requestLine, reply.status, reply.body->size());
  return keepAlive ? TAfterAnswer::KeepOpen : TAfterAnswer::Close;
}
