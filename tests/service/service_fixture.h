// A TPelorinService started on a temporary application directory, with the
// server on a free port, so that tests can call its operations directly.
#ifndef PELORIN_TESTS_SERVICE_SERVICE_FIXTURE_H_
#define PELORIN_TESTS_SERVICE_SERVICE_FIXTURE_H_

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <gtest/gtest.h>

#include "service/vcard_main.h"
#include "tests/temp_dir.h"

namespace pelorin::testing {

inline constexpr char kTestConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xConfig><ServiceProviderPort>0</ServiceProviderPort></xConfig>";
inline constexpr char kTestCards[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xBase/>";
inline constexpr char kTestUsers[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xUser>"
    "<User><USER>Alice</USER><PASSWORD>Secret1</PASSWORD><NAME>Alice A</NAME><ADMIN>no</ADMIN></User>"
    "<User><USER>bob</USER><PASSWORD>pw</PASSWORD><NAME>Bob B</NAME></User>"
    "<User><USER>quote</USER><PASSWORD>a\"b</PASSWORD><NAME>Q</NAME></User>"
    "<User><USER>both</USER><PASSWORD>it's \"x\"</PASSWORD><NAME>Both</NAME></User>"
    "<User><PASSWORD>nouser</PASSWORD><NAME>Anonymous</NAME></User>"
    "<User><NAME>First</NAME><PASSWORD>same</PASSWORD><USER>dup</USER></User>"
    "<User><USER>DUP</USER><PASSWORD>same</PASSWORD><NAME>Second</NAME><ADMIN/></User>"
    "</xUser>";

class TServiceTest : public ::testing::Test {
 protected:
  TServiceTest() {
    for (const char* area : {"config", "pelorin", "user"}) std::filesystem::create_directory(dir_.File(area));
  }

  // Writes the regular store files (not the first-run ones).
  void WriteStores(const std::string& config = kTestConfig, const std::string& cards = kTestCards,
                   const std::string& users = kTestUsers) {
    WriteFile(dir_.File("config/config.xml"), config);
    WriteFile(dir_.File("pelorin/base.xml"), cards);
    WriteFile(dir_.File("user/user.xml"), users);
    // New store files are the whole truth: a journal of older ones must not
    // be applied to them.
    std::filesystem::remove_all(dir_.File("journal"));
  }

  // A fresh module on the directory; false when ServiceStart reported failure.
  bool Start(std::chrono::milliseconds save_interval = kSaveInterval) {
    service_ = std::make_unique<TPelorinService>(loop_, save_interval);
    bool started = true;
    service_->ServiceStart(dir_.path(), started);
    return started;
  }

  ResponseInfo Request(const std::string& method, const std::string& path, const std::string& user,
                       const std::string& password, const std::string& host = "") {
    RequestInfo req;
    req.Method = method;
    req.Path = path;
    req.UserName = user;
    req.Password = password;
    req.HostName = host;
    ResponseInfo res;
    service_->HTTPServerCommandGet(req, res);
    return res;
  }
  ResponseInfo Get(const std::string& path, const std::string& user, const std::string& password) {
    return Request("GET", path, user, password);
  }

  // Every log line written so far (all day files, in name order).
  std::string LogText() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().extension() == ".log") files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    std::string text;
    for (const std::string& file : files) text += ReadFile(file);
    return text;
  }

  std::string UserStoreText() {
    TStoreGuard guard(service_->StoreLock);
    return service_->UserDom.Dom().SaveToString();
  }

  boost::asio::io_context loop_;
  TTempDir dir_;
  std::unique_ptr<TPelorinService> service_;
};

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_SERVICE_SERVICE_FIXTURE_H_
