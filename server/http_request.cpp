#include "server/http_request.h"

#include <cstring>

namespace {

// One line of the head: [begin, end) without its CRLF.
struct TLine {
  const char* begin;
  const char* end;
};

// The next CRLF-terminated line from `at`; false when none is left or a
// line ends in a bare LF.
bool NextLine(const char*& at, const char* end, TLine& line) {
  const char* lf = static_cast<const char*>(std::memchr(at, '\n', end - at));
  if (!lf || lf == at || lf[-1] != '\r') return false;
  line = {at, lf - 1};
  at = lf + 1;
  return true;
}

bool IsTokenChar(unsigned char c) {
  return c > 32 && c < 127 && !std::strchr("\"(),/:;<=>?@[\\]{}", c);
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(const char* begin, const char* end, const char* name) {
  size_t length = std::strlen(name);
  if (static_cast<size_t>(end - begin) != length) return false;
  for (size_t i = 0; i < length; ++i)
    if (Lower(begin[i]) != name[i]) return false;
  return true;
}

// Whether the comma-separated value holds `token` (lower case), ignoring case.
bool HasToken(const char* begin, const char* end, const char* token) {
  while (begin < end) {
    const char* comma = static_cast<const char*>(std::memchr(begin, ',', end - begin));
    const char* stop = comma ? comma : end;
    const char* first = begin;
    const char* last = stop;
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
    if (SameName(first, last, token)) return true;
    begin = stop + 1;
  }
  return false;
}

bool ParseRequestLine(const TLine& line, THttpRequest& request) {
  const char* space = static_cast<const char*>(std::memchr(line.begin, ' ', line.end - line.begin));
  if (!space || space == line.begin) return false;
  const char* second = static_cast<const char*>(std::memchr(space + 1, ' ', line.end - space - 1));
  if (!second || second == space + 1) return false;
  for (const char* c = line.begin; c < space; ++c)
    if (!IsTokenChar(static_cast<unsigned char>(*c))) return false;
  for (const char* c = space + 1; c < second; ++c)
    if (static_cast<unsigned char>(*c) <= 32 || *c == 127) return false;
  request.method.assign(line.begin, space);
  request.target.assign(space + 1, second);
  request.version.assign(second + 1, line.end);
  return request.target[0] == '/' &&
         (request.version == "HTTP/1.1" || request.version == "HTTP/1.0");
}

// One header field line; false when it is malformed.
bool ParseField(const TLine& line, THttpRequest& request, bool& sawLength) {
  const char* colon = static_cast<const char*>(std::memchr(line.begin, ':', line.end - line.begin));
  if (!colon || colon == line.begin) return false;  // also refuses folded lines
  for (const char* c = line.begin; c < colon; ++c)
    if (!IsTokenChar(static_cast<unsigned char>(*c))) return false;
  const char* value = colon + 1;
  const char* end = line.end;
  while (value < end && (*value == ' ' || *value == '\t')) ++value;
  while (end > value && (end[-1] == ' ' || end[-1] == '\t')) --end;
  if (SameName(line.begin, colon, "connection")) {
    if (HasToken(value, end, "close")) request.keepAlive = false;
    else if (HasToken(value, end, "keep-alive")) request.keepAlive = true;
  } else if (SameName(line.begin, colon, "content-length")) {
    if (sawLength) return false;  // two lengths: no telling which one is meant
    sawLength = true;
    request.hasBody = !(end - value == 1 && *value == '0');
  } else if (SameName(line.begin, colon, "transfer-encoding")) {
    request.hasBody = true;
  }
  return true;
}

}  // namespace

size_t RequestHeadSize(const char* data, size_t size) {
  const char* end = data + size;
  for (const char* at = data; (at = static_cast<const char*>(std::memchr(at, '\n', end - at)));) {
    ++at;
    if (at < end && at[0] == '\n') return at + 1 - data;
    if (end - at >= 2 && at[0] == '\r' && at[1] == '\n') return at + 2 - data;
  }
  return 0;
}

int ParseRequestHead(const char* head, size_t size, THttpRequest& request) {
  request = THttpRequest();
  const char* at = head;
  const char* end = head + size;
  TLine line;
  if (!NextLine(at, end, line)) {
    const char* lf = static_cast<const char*>(std::memchr(head, '\n', size));
    return (lf ? static_cast<size_t>(lf - head) : size) > MAX_REQUEST_LINE_BYTES ? 414 : 400;
  }
  if (static_cast<size_t>(line.end - line.begin) > MAX_REQUEST_LINE_BYTES) return 414;
  if (!ParseRequestLine(line, request)) return 400;
  request.keepAlive = request.version == "HTTP/1.1";
  bool sawLength = false;
  for (;;) {
    if (!NextLine(at, end, line)) return 400;  // cut, or a bare LF
    if (line.begin == line.end) return at == end ? 0 : 400;
    if (static_cast<size_t>(line.end - line.begin) > MAX_HEADER_LINE_BYTES) return 400;
    if (!ParseField(line, request, sawLength)) return 400;
  }
}

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 408: return "Request Timeout";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    default: return "Internal Server Error";
  }
}

void AppendAnswerHead(std::string& out, int status, size_t bodyBytes, bool keepAlive) {
  out += "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out += StatusText(status);
  static const std::string kKeepAlive = "\r\nKeep-Alive: timeout=" +
                                       std::to_string(KEEP_ALIVE_WAIT_MS / 1000) +
                                       ", max=" + std::to_string(KEEP_ALIVE_REQUESTS);
  out += keepAlive ? kKeepAlive.c_str() : "\r\nConnection: close";
  out += "\r\nContent-Length: ";
  out += std::to_string(bodyBytes);
  out += "\r\nContent-Type: text/plain\r\n\r\n";
}
