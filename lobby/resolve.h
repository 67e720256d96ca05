// Host-name resolution with a bounded wait. The system resolver has no
// time-out of its own, so a lookup runs in a helper thread and the caller
// waits for it only so long; a lookup that outlives the wait finishes in the
// background and its answer is dropped. While a lookup of a name is still
// running, later calls for that name wait for it instead of starting another,
// so a hanging resolver costs one thread, not one per call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A blocking resolver: the IPv4 addresses of a name, in its order.
using TResolver = std::function<std::vector<int32_t>(const std::string& name)>;

// The first IPv4 address of `name`, or 0 when it does not resolve within
// timeoutMs. A dotted address is taken as it is, without the resolver.
// `resolver` defaults to HostIps (lobby/socket.h). Thread-safe.
int32_t ResolveFirstIp(const std::string& name, int timeoutMs,
                       const TResolver& resolver = nullptr);
