// Message boxes of the command line, on a terminal: an information box is a line
// on standard output, an error box a line on standard error. Used on the main
// thread before the process takes its role.
#ifndef PELORIN_SERVICE_MESSAGE_BOX_H_
#define PELORIN_SERVICE_MESSAGE_BOX_H_

#include <string>

namespace pelorin {

class TMessageBox {
 public:
  virtual ~TMessageBox() = default;
  virtual void Information(const std::string& text) = 0;
  virtual void Error(const std::string& text) = 0;
};

class TConsoleMessageBox final : public TMessageBox {
 public:
  // The descriptors are borrowed; tests pass pipes.
  explicit TConsoleMessageBox(int out_fd = 1, int err_fd = 2) : out_fd_(out_fd), err_fd_(err_fd) {}

  void Information(const std::string& text) override { WriteLine(out_fd_, text); }
  void Error(const std::string& text) override { WriteLine(err_fd_, text); }

 private:
  // The text and its line end in one write, so that lines of processes sharing a
  // terminal or a log do not interleave. Failures are ignored: nobody is left to
  // tell.
  static void WriteLine(int fd, const std::string& text) noexcept;

  int out_fd_;
  int err_fd_;
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_MESSAGE_BOX_H_
