// Byte streams with text-line operations, and a stream over a TSocket. (The
// sound layer's TStream is a seekable byte stream of its own; this one is
// named apart so that both can live in one program.)
// Nothing here raises an error on network failure: failures show as 0
// results, empty lines and Eof() = 1. One thread per stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/object.h"
#include "core/text.h"
#include "lobby/socket.h"

class TLineStream : public TObject {
 public:
  static constexpr size_t UNLIMITED = static_cast<size_t>(-1);

  // Bytes moved; 0 on failure or at the end.
  virtual int Read(void* buffer, int count) = 0;
  virtual int Write(const void* bytes, int count) = 0;
  // 1 once the stream has ended (and nothing is left to read).
  virtual int Eof() = 0;
  virtual void Close() = 0;
  virtual void Flush() {}

  // Each character sent as its low 8 bits in one Write, then CR LF in a second
  // Write if the first was complete. 1 when both were complete, else 0.
  int WriteLine(const TString& text);
  // Reads one byte at a time. The line ends where Read delivers nothing, at a
  // zero byte or at LF (none of them part of the line); CR bytes are dropped
  // wherever they occur. Each byte becomes the character with its code.
  // With a line limit set, a line that has consumed that many bytes without
  // ending is cut there and the stream is closed: what followed counts as the
  // end of the stream.
  TString ReadLine();
  // UNLIMITED (the default) lets a line grow without bound.
  void SetLineLimit(size_t maxBytes) { _lineLimit = maxBytes; }
  // 1 once a line was cut at the limit.
  int LineCut() const { return _lineCut; }

 private:
  size_t _lineLimit = UNLIMITED;
  int32_t _lineCut = 0;
};

class TSocketStream;
using TSocketStreamRef = std::shared_ptr<TSocketStream>;

class TSocketStream : public TLineStream {
 public:
  // Never fails, even for a null or unconnected socket. autoClose 1: closing
  // the stream closes the socket.
  static TSocketStreamRef Create(TSocketRef socket, int autoClose);
  TSocketStream(TSocketRef socket, int autoClose);

  // Recv with flags 0. With read limits set (below) it first waits for the
  // socket to become readable; when a limit runs out the stream closes itself
  // and reports the end.
  int Read(void* buffer, int count) override;
  int Write(const void* bytes, int count) override;  // Send with flags 0
  // 1 without a socket; 0 while the socket is Connected; otherwise the stream
  // closes itself and returns 1.
  int Eof() override;
  void Close() override;

  // Each Read waits at most perReadMs for data, and reading stops at the
  // MilliSecs() reading `deadline`; both end the stream and set TimedOut().
  void SetReadTimeouts(int perReadMs, int32_t deadline);
  // After `maxBytes` bytes in all, the stream ends (not a time-out).
  void SetByteLimit(size_t maxBytes) { _byteLimit = maxBytes; }
  int TimedOut() const { return _timedOut; }

  const TSocketRef& Socket() const { return _socket; }

 protected:
  TSocketRef _socket;
  int32_t _autoClose;

 private:
  bool WaitForData();

  bool _timed = false;
  int _perReadMs = 0;
  int32_t _deadline = 0;
  int32_t _timedOut = 0;
  size_t _byteLimit = UNLIMITED;
  size_t _bytesRead = 0;
};
