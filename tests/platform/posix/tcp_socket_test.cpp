#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/posix/posix_tcp_socket.h"
#include "platform/posix/platform_test_util.h"
#include "platform/tcp_socket_cases.h"

namespace kolibra::testing {
namespace {

struct PosixSockets {
  using Loop = PosixEventLoop;
  using Socket = PosixTcpSocket;

  static int Bound(bool listening, int* port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    bind(fd, reinterpret_cast<sockaddr*>(&sa), len);
    if (listening) listen(fd, 4);
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return fd;
  }
  static int Accept(int listener) { return accept(listener, nullptr, nullptr); }
  static bool SendAll(int peer, const std::string& bytes) {
    return send(peer, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  }
  static std::string Receive(int peer, std::size_t size, int timeoutMs) {
    std::string got;
    char buf[64];
    for (pollfd p{peer, POLLIN, 0}; got.size() < size && poll(&p, 1, timeoutMs) > 0;) {
      const ssize_t n = recv(peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  static void Close(int peer) { close(peer); }
  static void Reset(int peer) {
    const linger abortive{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    close(peer);
  }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Posix, TcpSocketCases, PosixSockets);

}  // namespace kolibra::testing
