// The small part of HTTP/1.x the lobby speaks, as plain functions over bytes:
// reading a request head (request line and header fields, no body) and
// writing the head of an answer. No I/O; any thread.
#pragma once

#include <cstddef>
#include <string>

// Longest request line and longest header field line we read.
constexpr size_t MAX_REQUEST_LINE_BYTES = 8192;
constexpr size_t MAX_HEADER_LINE_BYTES = 8192;
// An open connection waits this long for the first byte of its next request
// and carries at most this many requests; answers say so in Keep-Alive.
constexpr int KEEP_ALIVE_WAIT_MS = 5000;
constexpr size_t KEEP_ALIVE_REQUESTS = 1000;

struct THttpRequest {
  std::string method;
  std::string target;   // as sent: path and query
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  bool keepAlive = false;  // HTTP/1.1 unless "Connection: close"; HTTP/1.0 only with "keep-alive"
  bool hasBody = false;    // a Content-Length other than 0, or a Transfer-Encoding
};

// The size of the request head at the start of `data` up to and including
// its empty line ("\r\n" or "\n" after a line), or 0 while it is incomplete.
size_t RequestHeadSize(const char* data, size_t size);

// Reads the head of `size` bytes at `head`: 0 when it is a request (then
// `request` holds it), else the status that refuses it (400, or 414 for an
// over-long request line). Lines end in CRLF; a head cut before its empty
// line is refused.
int ParseRequestHead(const char* head, size_t size, THttpRequest& request);

// The reason phrase of a status ("OK", "Not Found"...).
const char* StatusText(int status);

// Appends an answer's status line and header fields, with the empty line
// that ends them, to `out`; `keepAlive` says whether the connection stays.
void AppendAnswerHead(std::string& out, int status, size_t bodyBytes, bool keepAlive);
