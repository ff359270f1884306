// A started module whose application directory holds the fixture pages of
// tests/data/pages, with helpers for form posts and for reading the card store.
// Test-thread only.
#ifndef PELORIN_TESTS_SERVICE_WEB_FIXTURE_H_
#define PELORIN_TESTS_SERVICE_WEB_FIXTURE_H_

#include <filesystem>
#include <string>
#include <vector>

#include "tests/form_encode.h"
#include "tests/service/service_fixture.h"
#include "web/form_fields.h"

namespace pelorin::testing {

inline std::string PageFixture(const std::string& name) {
  return std::string(PELORIN_TEST_DATA_DIR) + "/pages/" + name;
}

struct TField {
  std::string name;
  std::string value;
};

inline std::string EncodeForm(const std::vector<TField>& fields) {
  std::string raw;
  for (const TField& field : fields) {
    if (!raw.empty()) raw += '&';
    raw += FormEncode(field.name) + "=" + FormEncode(field.value);
  }
  return raw;
}

inline std::string LocationOf(const ResponseInfo& res) {
  for (const std::string& line : res.ExtraHeaders) {
    if (line.starts_with("Location: ")) return line.substr(10);
  }
  return {};
}

class TWebTest : public TServiceTest {
 protected:
  std::string peer_address_ = "192.0.2.1";  // the client address Send reports
  std::string scheme_ = "http";             // the scheme the listener reports

  void StartWith(const std::string& cards) {
    WriteStores(kTestConfig, cards);
    ASSERT_TRUE(Start());
  }

  // Copies a fixture of tests/data/pages to a path below the application directory.
  void InstallPage(const std::string& fixture, const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(dir_.File(path)).parent_path());
    std::filesystem::copy_file(PageFixture(fixture), dir_.File(path),
                               std::filesystem::copy_options::overwrite_existing);
  }

  // A request as the server would hand it over: RawParams split into FormFields.
  ResponseInfo Send(const std::string& method, const std::string& path, const std::string& raw_params,
                    const std::string& user = "Alice", const std::string& password = "Secret1",
                    const std::vector<std::string>& headers = {}, const std::string& host = "pelorin.test") {
    RequestInfo req;
    req.Method = method;
    req.Path = path;
    req.UserName = user;
    req.Password = password;
    req.HostName = host;
    req.PeerAddress = peer_address_;
    req.Scheme = scheme_;
    req.Headers = headers;
    req.RawParams = raw_params;
    req.FormFields = SplitFormFields(raw_params);
    ResponseInfo res;
    service_->HTTPServerCommandGet(req, res);
    return res;
  }
  ResponseInfo Post(const std::string& path, const std::vector<TField>& fields, const std::string& user = "Alice",
                    const std::string& password = "Secret1") {
    return Send("POST", path, EncodeForm(fields), user, password);
  }

  std::string CardsText() {
    TStoreGuard guard(service_->StoreLock);
    return service_->XMLDom.Dom().SaveToString();
  }
  // The text of every node an XPath selects in the card store, in document order.
  std::vector<std::string> CardTexts(const std::string& xpath) {
    TStoreGuard guard(service_->StoreLock);
    std::vector<std::string> texts;
    TQuickDom& dom = service_->XMLDom.Dom();
    for (bool found = dom.SelectNode(xpath); found; found = dom.SelectNextNode(xpath)) texts.push_back(dom.GetText());
    return texts;
  }
  bool TimerEnabled() {
    TStoreGuard guard(service_->StoreLock);
    return service_->SaveTimer.Enabled();
  }
};

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_SERVICE_WEB_FIXTURE_H_
