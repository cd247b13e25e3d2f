// Winsock 2 before any windows.h (which the socket's header brings).
#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/win32_tcp_socket.h"

namespace kolibra {
namespace {

constexpr char kHostNotFound[] = "Host not found";

// The texts the POSIX side reports for the numbers the logic tells apart,
// so that the trace and status lines read the same on both.
const char* KnownErrorText(int wsaError) {
  switch (wsaError) {
    case WSAENETUNREACH: return "Network is unreachable";
    case WSAECONNABORTED: return "Software caused connection abort";
    case WSAECONNRESET: return "Connection reset by peer";
    case WSAETIMEDOUT: return "Connection timed out";
    case WSAECONNREFUSED: return "Connection refused";
    case WSAEHOSTUNREACH: return "No route to host";
    case WSAHOST_NOT_FOUND: return kHostNotFound;
    default: return nullptr;
  }
}

}  // namespace

static_assert(INVALID_SOCKET == static_cast<SOCKET>(~static_cast<UINT_PTR>(0)));
static_assert(WSAENETUNREACH == kSocketErrNetUnreachable && WSAECONNABORTED == kSocketErrAborted &&
              WSAECONNRESET == kSocketErrReset && WSAETIMEDOUT == kSocketErrTimedOut &&
              WSAECONNREFUSED == kSocketErrRefused && WSAEHOSTUNREACH == kSocketErrHostUnreachable &&
              WSAHOST_NOT_FOUND == kSocketErrHostNotFound);

std::string SocketErrorText(int wsaError) {
  if (const char* known = KnownErrorText(wsaError)) return known;
  char buf[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(wsaError), 0, buf, sizeof buf, nullptr);
  // The system's text ends with a full stop and a line break.
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.')) --n;
  if (n == 0) return "Winsock error " + std::to_string(wsaError);
  return std::string(buf, n);
}

WinsockSession::WinsockSession() {
  WSADATA data;
  error_ = WSAStartup(MAKEWORD(2, 2), &data);
}

WinsockSession::~WinsockSession() {
  if (error_ == 0) WSACleanup();
}

Win32TcpSocket::~Win32TcpSocket() { Release(); }

void Win32TcpSocket::ReleaseHandle() {
  if (sock_ != kNoSocket) {
    // No notice is posted after this; those already queued go with the
    // message number below.
    WSAAsyncSelect(sock_, loop_.Window(), 0, 0);
    closesocket(sock_);
    sock_ = kNoSocket;
  }
  if (message_ != 0) loop_.UnregisterMessage(message_);
  message_ = 0;
}

void Win32TcpSocket::Open(uint32_t addr) {
  if (port_ < 1 || port_ > 65535) {
    FailLater(WSAEINVAL);
    return;
  }
  if (winsock_.error() != 0) {
    FailLater(winsock_.error());
    return;
  }
  sock_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (sock_ == kNoSocket) {
    FailLater(WSAGetLastError());
    return;
  }
  // Command lines are short and answered one by one: send them at once.
  BOOL one = TRUE;
  setsockopt(sock_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  message_ = loop_.RegisterMessage([this](WPARAM wParam, LPARAM lParam) { OnSocketMessage(wParam, lParam); });
  // Also makes the socket non-blocking. FD_WRITE tells when a send that
  // would have blocked can go on.
  if (message_ == 0 || loop_.Window() == nullptr ||
      WSAAsyncSelect(sock_, loop_.Window(), message_, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
    FailLater(message_ == 0 || loop_.Window() == nullptr ? WSAENOBUFS : WSAGetLastError());
    return;
  }
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port_));
  sa.sin_addr.s_addr = htonl(addr);
  if (connect(sock_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int err = WSAGetLastError();
    if (err != WSAEWOULDBLOCK) FailLater(err);
  }
  // The outcome comes as FD_CONNECT, inside Wait().
}

void Win32TcpSocket::Flush() {
  while (!tx_.empty()) {
    const int chunk = tx_.size() > 65536 ? 65536 : static_cast<int>(tx_.size());
    const int n = send(sock_, tx_.data(), chunk, 0);
    if (n > 0) {
      tx_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    const int err = n < 0 ? WSAGetLastError() : WSAECONNABORTED;
    if (err == WSAEWOULDBLOCK) return;  // FD_WRITE follows when there is room
    FailLater(err);
    return;
  }
}

void Win32TcpSocket::OnSocketMessage(WPARAM wParam, LPARAM lParam) {
  if (sock_ == kNoSocket || static_cast<SOCKET>(wParam) != sock_) return;
  const int event = WSAGETSELECTEVENT(lParam);
  const int err = WSAGETSELECTERROR(lParam);
  if (state_ == kSocketConnecting) {
    if (event == FD_CONNECT || event == FD_CLOSE) {
      if (err != 0) {
        Fail(err, SocketErrorText(err));
        return;
      }
      if (event == FD_CLOSE) {
        Fail(kSocketErrAborted, kPeerClosed);
        return;
      }
      Connected();
    }
    return;
  }
  if (state_ != kSocketConnected) return;
  switch (event) {
    case FD_WRITE:
      Flush();
      break;
    case FD_READ:
      Receive(false);
      break;
    case FD_CLOSE:
      if (err != 0) {
        // Reset or aborted: what was still buffered is lost with it.
        Fail(err, SocketErrorText(err));
      } else {
        Receive(true);
      }
      break;
    default:
      break;
  }
}

void Win32TcpSocket::Receive(bool closing) {
  std::size_t fresh = 0;
  int err = 0;
  bool eof = false;
  char buf[8192];
  for (;;) {
    const int n = recv(sock_, buf, sizeof buf, 0);
    if (n > 0) {
      rx_.append(buf, static_cast<std::size_t>(n));
      fresh += static_cast<std::size_t>(n);
      continue;
    }
    if (n == 0) {
      eof = true;
    } else {
      const int e = WSAGetLastError();
      if (e != WSAEWOULDBLOCK) err = e;
    }
    break;
  }
  // The orderly close came as FD_CLOSE: the data before it is all read now.
  if (closing && err == 0) eof = true;
  Received(fresh, eof, err, err != 0 ? SocketErrorText(err) : std::string());
}

}  // namespace kolibra
