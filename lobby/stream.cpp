#include "lobby/stream.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>

#include "core/clock.h"

int TLineStream::WriteLine(const TString& text) {
  std::string bytes = ToBytes(text);
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) return 0;
  const int count = static_cast<int>(bytes.size());
  if (Write(bytes.data(), count) != count) return 0;
  static const char kLineEnd[2] = {13, 10};
  return Write(kLineEnd, 2) == 2 ? 1 : 0;
}

TString TLineStream::ReadLine() {
  std::string bytes;
  for (size_t consumed = 0;; ++consumed) {
    if (consumed == _lineLimit) {
      _lineCut = 1;
      Close();
      break;
    }
    unsigned char byte = 0;
    if (Read(&byte, 1) != 1 || byte == 0 || byte == 10) break;
    if (byte != 13) bytes.push_back(static_cast<char>(byte));
  }
  return FromBytes(bytes);
}

TSocketStreamRef TSocketStream::Create(TSocketRef socket, int autoClose) {
  return std::make_shared<TSocketStream>(std::move(socket), autoClose);
}

TSocketStream::TSocketStream(TSocketRef socket, int autoClose)
    : _socket(std::move(socket)), _autoClose(autoClose) {}

void TSocketStream::SetReadTimeouts(int perReadMs, int32_t deadline) {
  _timed = true;
  _perReadMs = perReadMs;
  _deadline = deadline;
}

bool TSocketStream::WaitForData() {
  if (!_timed) return true;
  int32_t left = _deadline - MilliSecs();
  if (left > 0 && _socket->WaitReadable(std::min(left, _perReadMs))) return true;
  _timedOut = 1;
  Close();
  return false;
}

int TSocketStream::Read(void* buffer, int count) {
  if (!_socket || count <= 0) return 0;
  if (_bytesRead >= _byteLimit) {
    Close();
    return 0;
  }
  count = static_cast<int>(std::min(static_cast<size_t>(count), _byteLimit - _bytesRead));
  int received = 0;
  if (_timed) {
    if (ClockReached(MilliSecs(), _deadline)) {
      _timedOut = 1;
      Close();
      return 0;
    }
    // Bytes already there are taken without a wait (one call per byte read).
    ssize_t ready;
    do {
      ready = recv(_socket->Socket(), buffer, static_cast<size_t>(count), MSG_DONTWAIT);
    } while (ready < 0 && errno == EINTR);
    if (ready >= 0) {
      received = static_cast<int>(ready);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitForData()) return 0;
      received = _socket->Recv(buffer, count, 0);
    }
  } else {
    received = _socket->Recv(buffer, count, 0);
  }
  _bytesRead += static_cast<size_t>(received);
  return received;
}

int TSocketStream::Write(const void* bytes, int count) {
  return _socket ? _socket->Send(bytes, count, 0) : 0;
}

int TSocketStream::Eof() {
  if (!_socket) return 1;
  if (_socket->Connected()) return 0;
  Close();
  return 1;
}

void TSocketStream::Close() {
  if (!_socket) return;
  if (_autoClose == 1) _socket->Close();
  _socket.reset();
}
