#pragma once
// A small HTTP/1.1 server of our own on 127.0.0.1 (a port the system picks), for handing a local
// tool what the program has on disk: GET and HEAD, keep-alive, one thread per connection. The
// handler may block (a part the tool asks for may still be on its way); stop() closes every
// connection, so whoever a handler waits on must be released before it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qz::platform {

struct LocalReply {
  int status = 200;
  std::string content_type = "application/octet-stream";
  std::string body;       // sent when file_path is empty
  std::string file_path;  // else this file is streamed from disk (never held in memory whole)
};

class LoopbackServer {
 public:
  using Handler = std::function<LocalReply(const std::string& path)>;

  LoopbackServer();
  ~LoopbackServer();  // stop()
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  // Starts listening and answering with `handler` (called with the request's path, query cut
  // off); false when no socket could be had.
  bool start(Handler handler);
  int port() const;
  // Closes the listener and every connection and joins their threads.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qz::platform
