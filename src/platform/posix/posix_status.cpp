#include <cerrno>
#include <cstring>

#include "platform/status.h"

namespace kolibra {

Status OsError(int code) {
  char buf[256] = {};
  // The GNU strerror_r returns the text, which may not be in buf.
  return Status::Failed(strerror_r(code, buf, sizeof buf));
}

Status LastOsError() { return OsError(errno); }

}  // namespace kolibra
