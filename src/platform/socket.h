#pragma once
// Blocking TCP sockets on 127.0.0.1, for the small servers the program runs for its own tools
// (and the tests for theirs): listen on a port the system picks, accept, read with a way out when
// the server stops, and send whole buffers or file ranges.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stop_token>
#include <string>

namespace qz::platform {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

struct LoopbackListener {
  SocketHandle socket = kNoSocket;
  int port = 0;
};

// A listening socket on 127.0.0.1 with a port the system picks; nothing when none can be had.
std::optional<LoopbackListener> listen_on_loopback(int backlog);

// The next connection (small writes go out at once), or kNoSocket.
SocketHandle accept_connection(SocketHandle listener);

// A connection to 127.0.0.1:`port` (small writes go out at once), or kNoSocket.
SocketHandle connect_to_loopback(int port);

// Waits until the socket is readable (or has a connection to accept); false when a stop is
// requested meanwhile or on an error. Looks at `stopping` at least ten times a second.
bool wait_readable(SocketHandle socket, const std::stop_token& stopping);

// Up to `size` bytes into `data`: their number, 0 when the peer closed, below 0 on an error.
long receive_some(SocketHandle socket, char* data, std::size_t size);

// Every byte, or false (the peer went away); never raises a signal.
bool send_all(SocketHandle socket, const char* data, std::size_t size);

// `length` bytes of the file at `path` from its start, handed over by the system without a copy
// through us where it can; false when the file is shorter or the peer went away.
bool send_file(SocketHandle socket, const std::string& path, std::uint64_t length);

// Ends both directions: a thread blocked sending or receiving on it returns.
void shutdown_socket(SocketHandle socket);
void close_socket(SocketHandle socket);

}  // namespace qz::platform
