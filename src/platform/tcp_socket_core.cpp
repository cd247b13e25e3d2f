#include "platform/tcp_socket_core.h"

namespace kolibra {

bool SocketAddress(const std::string& text, uint32_t* hostOrder) {
  uint32_t value = 0;
  std::size_t i = 0;
  for (int parts = 0; parts < 4; ++parts) {
    if (parts > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    const std::size_t start = i;
    unsigned part = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      part = part * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
    }
    if (i == start || part > 255) return false;
    value = (value << 8) | part;
  }
  if (i != text.size()) return false;
  *hostOrder = value;
  return true;
}

void TcpSocketCore::Release() {
  ReleaseHandle();
  tx_.clear();
}

void TcpSocketCore::Close() {
  Release();
  rx_.clear();
  state_ = kSocketClosed;
  ++generation_;
}

void TcpSocketCore::Connect() {
  if (state_ != kSocketClosed) return;
  ++generation_;
  rx_.clear();
  tx_.clear();
  state_ = kSocketConnecting;
  uint32_t addr = 0;
  if (!SocketAddress(host_, &addr)) {
    FailLater(kSocketErrHostNotFound, "Host not found");
    return;
  }
  Open(addr);
}

Status TcpSocketCore::Send(const std::string& bytes) {
  if (state_ != kSocketConnected) return Status::Failed(kNotConnected);
  tx_ += bytes;
  Flush();
  return state_ == kSocketConnected ? Status::Ok() : failure_;
}

std::string TcpSocketCore::GetData() {
  std::string out;
  out.swap(rx_);
  return out;
}

void TcpSocketCore::Connected() {
  state_ = kSocketConnected;
  if (events_.onConnected) {
    auto fn = events_.onConnected;
    fn();
  }
}

void TcpSocketCore::Received(std::size_t fresh, bool peerClosed, int errNumber, const std::string& errText) {
  const unsigned gen = generation_;
  // Bytes first, then the end of the connection, as they came.
  if (fresh > 0 && events_.onDataArrival) {
    auto fn = events_.onDataArrival;
    fn(rx_.size());
    if (gen != generation_ || state_ != kSocketConnected) return;  // closed by the handler
  }
  if (errNumber != 0) {
    Fail(errNumber, errText);
  } else if (peerClosed) {
    Fail(kSocketErrAborted, kPeerClosed);
  }
}

void TcpSocketCore::Fail(int number, const std::string& description) {
  const int status = state_;
  Release();
  state_ = kSocketError;
  failure_ = Status::Failed(description);
  if (events_.onError) {
    auto fn = events_.onError;
    const Status failure = failure_;  // the handler may start a new connection
    fn(number, failure, status);
  }
}

void TcpSocketCore::FailLater(int number, const std::string& description) {
  const int status = state_;
  Release();
  state_ = kSocketError;
  failure_ = Status::Failed(description);
  const unsigned gen = generation_;
  std::weak_ptr<int> alive = alive_;
  Defer([this, alive, gen, number, failure = failure_, status] {
    if (alive.expired()) return;
    if (gen != generation_ || state_ != kSocketError) return;  // closed meanwhile
    if (events_.onError) {
      auto fn = events_.onError;
      fn(number, failure, status);
    }
  });
}

}  // namespace kolibra
