// Winsock 2 before any windows.h (which the socket's header brings).
#include <winsock2.h>

#include "platform/win32/win32_tcp_socket.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/tcp_socket_cases.h"

namespace kolibra::testing {
namespace {

struct Win32Sockets {
  using Loop = Win32EventLoop;
  using Socket = Win32TcpSocket;

  static SOCKET Bound(bool listening, int* port) {
    static WinsockSession winsock;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof sa;
    bind(s, reinterpret_cast<sockaddr*>(&sa), len);
    if (listening) listen(s, 4);
    getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len);
    *port = ntohs(sa.sin_port);
    return s;
  }
  static SOCKET Accept(SOCKET listener) { return accept(listener, nullptr, nullptr); }
  static bool SendAll(SOCKET peer, const std::string& bytes) {
    return send(peer, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
  }
  static std::string Receive(SOCKET peer, std::size_t size, int timeoutMs) {
    std::string got;
    char buf[64];
    while (got.size() < size) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(peer, &readable);
      timeval tv{timeoutMs / 1000, timeoutMs % 1000 * 1000};
      if (select(0, &readable, nullptr, nullptr, &tv) <= 0) break;
      const int n = recv(peer, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  static void Close(SOCKET peer) { closesocket(peer); }
  static void Reset(SOCKET peer) {
    const linger abortive{1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive), sizeof abortive);
    closesocket(peer);
  }
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, TcpSocketCases, Win32Sockets);

}  // namespace kolibra::testing
