#include "platform/control_channel_core.h"

#include <utility>
#include <vector>

#include "platform/event_loop_core.h"

namespace kolibra {

ControlChannelCore::ControlChannelCore(EventLoop& loop) : eventLoop_(loop) {
  deadlineTimer_ = eventLoop_.CreateTimer([this] { OnDeadline(); });
}

void ControlChannelCore::Begin(Handler handler, const ControlChannelOptions& options) {
  handler_ = std::move(handler);
  options_ = options;
  if (options_.maxConnections < 1) options_.maxConnections = 1;
  if (options_.maxPerClient < 1) options_.maxPerClient = 1;
}

void ControlChannelCore::DropAll() {
  ++generation_;
  for (auto& entry : conns_) ReleaseConn(entry.first);
  conns_.clear();
  queue_.clear();
  if (deadlineTimer_ >= 0) eventLoop_.SetTimer(deadlineTimer_, 0, false);
}

bool ControlChannelCore::Full(const std::string& client) const {
  if (conns_.size() >= static_cast<std::size_t>(options_.maxConnections)) return true;
  if (client.empty()) return false;
  std::size_t held = 0;
  for (const auto& entry : conns_) held += entry.second.client == client ? 1 : 0;
  return held >= static_cast<std::size_t>(options_.maxPerClient);
}

ControlChannelCore::ConnId ControlChannelCore::AddConn(std::string client) {
  const ConnId id = nextConn_++;
  Conn& c = conns_.emplace(id, Conn(options_.maxRequestBytes)).first->second;
  c.deadline = eventLoop_.NowMs() + options_.clientTimeoutMs;
  c.client = std::move(client);
  return id;
}

ControlChannelCore::Conn* ControlChannelCore::Find(ConnId id) {
  auto it = conns_.find(id);
  return it == conns_.end() ? nullptr : &it->second;
}

bool ControlChannelCore::TakeRequestBytes(ConnId id, std::string_view bytes) {
  Conn& c = conns_.at(id);
  switch (c.request.Add(bytes)) {
    case RequestLineBuffer::State::kPartial:
      return true;
    case RequestLineBuffer::State::kTooLong:
      StartReply(id, options_.tooLongReply);
      return false;
    case RequestLineBuffer::State::kComplete:
      c.phase = Phase::kQueued;
      RequestQueued(id);
      queue_.push_back(id);
      ArmDeadlineTimer();
      RunQueue();
      return false;
  }
  return false;
}

void ControlChannelCore::RunQueue() {
  if (handling_) return;  // the running handler's loop takes this one next
  handling_ = true;
  const uint64_t generation = generation_;
  while (!queue_.empty() && generation == generation_) {
    const ConnId id = queue_.front();
    queue_.pop_front();
    auto it = conns_.find(id);
    if (it == conns_.end()) continue;
    const std::string line = it->second.request.line();
    // A copy: the handler may close or reopen the channel while it runs.
    const Handler handler = handler_;
    std::string reply;
    try {
      if (handler) reply = handler(line);
    } catch (...) {
      reply.clear();
    }
    if (generation != generation_) break;
    if (conns_.find(id) == conns_.end()) continue;
    if (reply.empty()) {
      Drop(id);
    } else {
      StartReply(id, std::move(reply));
    }
  }
  handling_ = false;
}

void ControlChannelCore::StartReply(ConnId id, std::string reply) {
  Conn& c = conns_.at(id);
  c.phase = Phase::kWriting;
  c.out = std::move(reply);
  c.deadline = eventLoop_.NowMs() + options_.clientTimeoutMs;
  WriteReply(id);
  ArmDeadlineTimer();
}

void ControlChannelCore::Drop(ConnId id) {
  if (conns_.find(id) == conns_.end()) return;
  ReleaseConn(id);
  conns_.erase(id);
  ArmDeadlineTimer();
}

int64_t ControlChannelCore::RetryAt() const { return EventLoopCore::kNever; }

void ControlChannelCore::ArmDeadlineTimer() {
  int64_t earliest = RetryAt();
  for (const auto& [id, c] : conns_) {
    if (c.phase != Phase::kQueued && c.deadline < earliest) earliest = c.deadline;
  }
  if (earliest == EventLoopCore::kNever) {
    eventLoop_.SetTimer(deadlineTimer_, 0, false);
    return;
  }
  const int64_t in = earliest - eventLoop_.NowMs();
  eventLoop_.SetTimer(deadlineTimer_, in < 1 ? 1 : in, true);
}

void ControlChannelCore::OnDeadline() {
  const int64_t now = eventLoop_.NowMs();
  std::vector<ConnId> late;
  for (const auto& [id, c] : conns_) {
    if (c.phase != Phase::kQueued && c.deadline <= now) late.push_back(id);
  }
  for (ConnId id : late) Drop(id);
  Retry(now);
  ArmDeadlineTimer();
}

}  // namespace kolibra
