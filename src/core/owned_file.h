// A file the driver writes (trace, output records), closed by its owner's
// end as well as by Close().
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace kolibra {

class OwnedFile {
 public:
  // Takes over a stream opened by the file system (CreateFresh), closing
  // any file held before (nullptr leaves none open).
  void Adopt(std::FILE* file) { file_.reset(file); }
  void Close() { file_.reset(); }
  // Closes the file; false when nothing was open or the close failed (the
  // stream's last bytes may then be lost).
  bool CloseChecked() { return file_ && std::fclose(file_.release()) == 0; }
  bool IsOpen() const { return file_ != nullptr; }
  // Both do nothing while no file is open; Write() is true when every byte
  // was handed to the stream.
  bool Write(std::string_view bytes) {
    return file_ && std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
  }
  // Writes every byte and closes the file; false when either fails.
  bool WriteAll(std::string_view bytes) {
    if (!file_) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
    return std::fclose(file_.release()) == 0 && written;
  }
  std::FILE* get() const { return file_.get(); }
  void Flush() {
    if (file_) std::fflush(file_.get());
  }

 private:
  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Closer> file_;
};

}  // namespace kolibra
