#include "service/message_box.h"

#include <unistd.h>

#include <cerrno>

namespace pelorin {

void TConsoleMessageBox::WriteLine(int fd, const std::string& text) noexcept {
  try {
    const std::string line = text + "\n";
    std::size_t done = 0;
    while (done < line.size()) {
      const ssize_t written = ::write(fd, line.data() + done, line.size() - done);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return;
      done += static_cast<std::size_t>(written);
    }
  } catch (...) {
    // Out of memory for one line: the message is lost, the program goes on.
  }
}

}  // namespace pelorin
