#include "platform/control_channel.h"

namespace kolibra {

RequestLineBuffer::State RequestLineBuffer::Add(std::string_view bytes) {
  if (state_ != State::kPartial) return state_;
  const std::size_t lf = bytes.find('\n');
  const std::string_view part = bytes.substr(0, lf);
  // One byte more than the limit may be the CR of a CR LF line end.
  if (line_.size() + part.size() > maxBytes_ + 1) {
    state_ = State::kTooLong;
    line_.clear();
    return state_;
  }
  line_.append(part);
  if (lf == std::string_view::npos) {
    if (line_.size() > maxBytes_ && line_.back() != '\r') {
      state_ = State::kTooLong;
      line_.clear();
    }
    return state_;
  }
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > maxBytes_) {
    state_ = State::kTooLong;
    line_.clear();
    return state_;
  }
  state_ = State::kComplete;
  return state_;
}

}  // namespace kolibra
