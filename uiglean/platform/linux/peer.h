// An application's own bus: the peer-to-peer connection a toolkit offers besides the
// accessibility bus (org.a11y.atspi.Application GetApplicationBusAddress).
//
// The address comes from the application, so it is untrusted: only a Unix socket is accepted, the
// process listening on it must be the application itself and run as our user, and connecting and
// authenticating must finish within the application's messaging timeout. Whatever fails, the
// layer stays on the accessibility bus, where the bus daemon vouches for who answers.
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace uiglean::lx {

struct PeerAddress {
  bool abstract = false;  // unix:abstract= (a name in the abstract namespace), else unix:path=
  std::string name;       // the socket path or abstract name, unescaped
};

// The socket an application's bus address names, when it is exactly one Unix socket address
// (`unix:path=` or `unix:abstract=`, with at most a `guid=` beside it) whose name fits a socket
// address. Every other transport (unixexec, tcp, launchd, systemd, ...), a list of addresses, an
// unknown key, a bad escape or a NUL gives nothing.
std::optional<PeerAddress> parsePeerAddress(const std::string& address);

// Connects to the application `pid` over `address` and authenticates, all before
// `deadlineUsec` (CLOCK_MONOTONIC microseconds). nullptr when the address is refused, the socket's
// owner is not `pid` running as our user, or the connection is not ready in time.
sd_bus* connectPeerBus(const std::string& address, std::int32_t pid, std::uint64_t deadlineUsec);

// CLOCK_MONOTONIC in microseconds.
std::uint64_t monotonicUsec();

}  // namespace uiglean::lx
