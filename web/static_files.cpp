// Static file responses: images, style sheets and fixed pages of the application
// directory, sent as their bytes. Runs on a connection's thread with StoreLock held.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "service/vcard_main.h"

namespace pelorin {
namespace {

struct TFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileCloser>;

// The whole file, or false when it cannot be opened or read (a directory, say).
bool ReadWholeFile(const std::string& name, std::string& bytes) {
  TFile file(std::fopen(name.c_str(), "rbe"));
  if (!file) return false;
  char buffer[64 * 1024];
  while (true) {
    const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
    bytes.append(buffer, n);
    if (n < sizeof buffer) break;
  }
  return std::ferror(file.get()) == 0;
}

}  // namespace

void TPelorinService::ServeFile(RequestInfo& req, ResponseInfo& res) {
  const std::string name = AppDir + MapPath(req.Path);
  std::error_code ignored;
  if (!std::filesystem::exists(name, ignored)) {
    res.SetStatus(404);
    res.Body = "File '" + name + "' not found";
    return;
  }
  std::string bytes;
  if (!ReadWholeFile(name, bytes)) {
    res.SetStatus(500);
    return;
  }
  res.Body = std::move(bytes);
}

void TPelorinService::ServeFileRow(RequestInfo& req, ResponseInfo& res) {
  try {
    ServeFile(req, res);
  } catch (...) {
    const std::string message = "Error opening file: " + req.Path;
    WriteLog(message);
    res.Body = message;
    res.SetStatus(500);
  }
}

}  // namespace pelorin
