#include "platform/message_channel.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qz::platform {

namespace {
constexpr std::size_t kHeadKept = 256;
}  // namespace

void ZeroFramedMessages::feed(const char* data, std::size_t size) {
  while (size > 0) {
    const char* end = static_cast<const char*>(std::memchr(data, '\0', size));
    const std::size_t piece = end ? static_cast<std::size_t>(end - data) : size;
    take(data, piece);
    if (!end) return;
    finish_message();
    data += piece + 1;
    size -= piece + 1;
  }
}

void ZeroFramedMessages::take(const char* data, std::size_t size) {
  if (!skipping_ && message_.size() + size > handlers_.max_message) {
    head_ = message_.substr(0, kHeadKept);
    head_.append(data, std::min(size, kHeadKept - head_.size()));
    skip_what_is_held();
  }
  if (!skipping_) {
    try {
      message_.append(data, size);
      return;
    } catch (const std::bad_alloc&) {
      // The program goes on without this message; the rest of it is skipped as it comes.
      head_.clear();
      skip_what_is_held();
      out_of_memory_ = true;
    }
  }
  skipped_ += size;
}

void ZeroFramedMessages::skip_what_is_held() {
  skipping_ = true;
  skipped_ = message_.size();
  std::string().swap(message_);
}

void ZeroFramedMessages::finish_message() {
  if (skipping_) {
    if (out_of_memory_) {
      if (handlers_.on_problem)
        handlers_.on_problem("browser message of " + std::to_string(skipped_) + " bytes dropped (out of memory)");
    } else if (handlers_.on_oversized) {
      handlers_.on_oversized(head_, skipped_);
    }
    skipping_ = out_of_memory_ = false;
    skipped_ = 0;
    head_.clear();
    return;
  }
  std::string message;
  message.swap(message_);
  if (handlers_.on_message) handlers_.on_message(std::move(message));
}

}  // namespace qz::platform
