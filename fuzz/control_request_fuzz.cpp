// Any bytes as they reach the control endpoint: the request framing in two
// reads, the ctl request parser, and the client's reading of an answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/control_channel.h"
#include "ui/control_protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kolibra::RequestLineBuffer;
  if (size < 1) return 0;
  // The first byte chooses where the rest is split between two reads.
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = data[0] % size;
  RequestLineBuffer buffer(kolibra::kControlRequestLimit);
  buffer.Add(bytes.substr(0, cut));
  buffer.Add(bytes.substr(cut));

  // Whatever a client is sent, reading it never fails on the client.
  const kolibra::ParsedReply raw = kolibra::ParseControlReply(bytes);
  if (raw.ok && raw.text.size() >= bytes.size()) std::abort();

  if (buffer.state() != RequestLineBuffer::State::kComplete) {
    if (!buffer.line().empty() && buffer.state() == RequestLineBuffer::State::kTooLong) std::abort();
    return 0;
  }
  const std::string& line = buffer.line();
  if (line.size() > kolibra::kControlRequestLimit || line.find('\n') != std::string::npos) std::abort();

  const kolibra::ParsedRequest parsed = kolibra::ParseControlRequest(line);
  if (parsed.ok) {
    // A request the driver takes is written back exactly as it came.
    if (kolibra::FormatControlRequest(parsed.request) != line) std::abort();
  } else {
    if (parsed.error.empty()) std::abort();
    // The error goes back to a terminal: no control bytes in it.
    for (char c : parsed.error) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b == 0x7F) std::abort();
    }
  }
  const std::string reply = kolibra::FormatControlReply(
      parsed.ok ? kolibra::ReplyStatus::kOk : kolibra::ReplyStatus::kBadRequest, parsed.error);
  const kolibra::ParsedReply back = kolibra::ParseControlReply(reply);
  if (!back.ok || back.status != (parsed.ok ? kolibra::ReplyStatus::kOk : kolibra::ReplyStatus::kBadRequest)) {
    std::abort();
  }
  return 0;
}
