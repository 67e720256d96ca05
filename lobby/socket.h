// A thin object layer over blocking IPv4 sockets. Every call blocks the
// calling thread; only Accept, WaitReadable and the three-argument Connect
// have a time-out. Main thread or one owner thread per socket. Failures show as
// 0 results, never as errors. Addresses are IPv4 addresses in an int32 whose
// most significant byte is the first octet of the dotted form.
//
// The process ignores the broken-pipe signal; Send also asks the kernel not to
// raise it, so writing into a closed or unconnected socket only fails.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/object.h"

class TSocket;
using TSocketRef = std::shared_ptr<TSocket>;

class TSocket : public TObject {
 public:
  // Null for a negative descriptor; otherwise a socket over it whose local
  // and remote names are already queried. autoClose 1: Close closes the
  // descriptor (and so does dropping the last reference).
  static TSocketRef Create(int descriptor, int autoClose);
  // Null when the operating system refuses to create the socket.
  static TSocketRef CreateTCP();
  static TSocketRef CreateUDP();

  ~TSocket();
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // One send or receive call: the bytes moved, 0 on failure or closed peer.
  int Send(const void* bytes, int count, int flags);
  int Recv(void* buffer, int count, int flags);
  // Closes the descriptor when autoClose is 1; all fields become -1.
  void Close();
  // 0 when closed. Otherwise checks without waiting: not readable, or bytes
  // waiting, means connected (1); readable with nothing to read means the
  // peer closed or the connect failed: the socket is closed and 0 returned.
  int Connected();
  int Bind(int32_t ip, int port);  // 1 or 0
  // Waits as long as the operating system lets it; 1 on success, then the
  // local and remote names are updated.
  int Connect(int32_t ip, int port);
  // As Connect, but gives up (0) after timeoutMs; the socket stays blocking.
  int Connect(int32_t ip, int port, int timeoutMs);
  int Listen(int backlog);  // 1 or 0
  // Waits up to timeoutMs for a connection; null when none came.
  TSocketRef Accept(int timeoutMs);
  // Bytes readable without waiting; 0 when that cannot be determined.
  int ReadAvail();
  int SetTCPNoDelay(int enable);  // 1 or 0
  // UDP: one datagram to ip:port; 1 when it left whole, else 0.
  int SendTo(const void* bytes, int count, int32_t ip, int port);
  // UDP: one datagram that is already waiting, without waiting for one: its
  // size (cut to `count`) with its sender in ip and port, or -1 when none is.
  int ReceiveFrom(void* buffer, int count, int32_t& ip, int& port);
  // 1 when a Recv would not block (bytes, end of connection or an error)
  // within timeoutMs; 0 on time-out or for a closed socket.
  int WaitReadable(int timeoutMs);

  int Socket() const { return _socket; }
  int32_t LocalIp() const { return _localIp; }
  int LocalPort() const { return _localPort; }
  int32_t RemoteIp() const { return _remoteIp; }
  int RemotePort() const { return _remotePort; }
  // Query the descriptor's addresses; a failed query gives address and port 0.
  void UpdateLocalName();
  void UpdateRemoteName();

 private:
  TSocket(int descriptor, int autoClose);

  int32_t _socket;
  int32_t _autoClose;
  int32_t _localIp = 0;
  int32_t _localPort = 0;
  int32_t _remoteIp = 0;
  int32_t _remotePort = 0;
};

// The IPv4 addresses of a host name (or dotted address), in the resolver's
// order; empty when the name does not resolve. Blocks for as long as the
// resolver takes (see lobby/resolve.h for a bounded wait). Thread-safe.
std::vector<int32_t> HostIps(const std::string& name);
// The address at `index` of HostIps(name); 0 for a negative index or one past
// the end.
int32_t HostIp(const std::string& name, int index = 0);
// The address as a dotted number, for example "127.0.0.1".
std::string DottedIp(int32_t ip);
// The dotted form as an address, or 0 when `text` is not one.
int32_t ParseDottedIp(const std::string& text);
// This machine's address on its route toward `ip`: the source address the
// system would send from. 0 when there is no route. Sends nothing.
int32_t LocalIpToward(int32_t ip);
// The first IPv4 address of an interface that is up and not a loopback, or 0.
int32_t FirstInterfaceIp();
