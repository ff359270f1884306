// Page rendering and vCard upload through the service's own request handler,
// in-process on one thread: the listing page and the .vcf export of a 1,000-card
// store (100 cards per user) with the stylesheet cache on and off, beside libxslt
// alone doing the same work on the same in-memory store; and uploads of 1,000 to
// 50,000 generated cards into an empty store.
#include <benchmark/benchmark.h>
#include <libxslt/transform.h>
#include <libxslt/variables.h>
#include <libxslt/xsltutils.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>

#include <boost/asio/io_context.hpp>

#include "bench/card_store.h"
#include "service/vcard_main.h"
#include "web/form_fields.h"
#include "xml/xml_library.h"
#include "xml/xml_ptr.h"

namespace pelorin {
namespace {

namespace fs = std::filesystem;

constexpr int kStoreCards = 1000;
constexpr char kConfig[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xConfig><ServiceProviderPort>0</ServiceProviderPort></xConfig>";

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Ten accounts user0..user9, password "pw"; card i belongs to user(i mod 10).
std::string Users() {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xUser>";
  for (int i = 0; i < 10; ++i) {
    const std::string n = std::to_string(i);
    out += "<User><USER>user" + n + "</USER><PASSWORD>pw</PASSWORD><NAME>User " + n + "</NAME></User>";
  }
  return out + "</xUser>";
}

// vCard 2.1 cards as phones export them: bare type words, UTF-8 names, CR LF.
std::string GenerateUpload(int cards) {
  static const char* kGiven[] = {"Anna", "Thomas", "J\xC3\xBCrgen", "Sarah", "Zo\xC3\xAB", "Peter", "Maria"};
  static const char* kFamily[] = {"Smith", "M\xC3\xBCller", "Johnson", "O'Brien", "Weber", "G\xC3\xB3mez"};
  std::string out;
  out.reserve(static_cast<std::size_t>(cards) * 300);
  for (int i = 0; i < cards; ++i) {
    const std::string given = kGiven[i % 7], family = kFamily[(i / 7) % 6], n = std::to_string(i);
    out += "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + family + ";" + given + ";;;\r\nFN:" + given + " " + family +
           "\r\nORG:Acme & Sons;Sales\r\nTEL;WORK;VOICE:+49 30 " + std::to_string(1000000 + i) +
           "\r\nTEL;CELL:+49 170 " + std::to_string(2000000 + i) + "\r\nEMAIL;INTERNET:card" + n +
           "@example.com\r\nADR;WORK:;;Hauptstr. " + n + ";Berlin;;10115;Germany\r\nEND:VCARD\r\n";
  }
  return out;
}

// An application directory: the installed pages, generated stores.
class TBenchApp {
 public:
  explicit TBenchApp(const std::string& cards_xml) {
    char pattern[] = "/tmp/pelorin-pages-bench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("no temporary directory");
    dir_ = pattern;
    fs::copy(std::string(PELORIN_SOURCE_DIR) + "/app", dir_, fs::copy_options::recursive);
    WriteText(dir_ + "/config/config.xml", kConfig);
    WriteText(dir_ + "/user/user.xml", Users());
    WriteText(dir_ + "/pelorin/base.xml", cards_xml);
    service_ = std::make_unique<TPelorinService>(loop_);
    bool started = true;
    service_->ServiceStart(dir_, started);
    if (!started) throw std::runtime_error("the service did not start in " + dir_);
  }
  ~TBenchApp() {
    service_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  ResponseInfo Send(const std::string& method, const std::string& path, const std::string& raw = "",
                    const std::string& user = "user3") {
    RequestInfo req;
    req.Method = method;
    req.Path = path;
    req.UserName = user;
    req.Password = "pw";
    req.HostName = "127.0.0.1";
    req.RawParams = raw;
    req.FormFields = SplitFormFields(raw);
    ResponseInfo res;
    service_->HTTPServerCommandGet(req, res);
    return res;
  }
  TPelorinService& service() { return *service_; }
  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
  boost::asio::io_context loop_;
  std::unique_ptr<TPelorinService> service_;
};

// PELORIN_BENCH_STORE names a store file to render instead of the generated one
// (its cards owned by user0..user9).
std::string RenderedStore() {
  const char* path = std::getenv("PELORIN_BENCH_STORE");
  if (path == nullptr || *path == '\0') return bench::GenerateCardStore(kStoreCards);
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.empty()) throw std::runtime_error(std::string("cannot read ") + path);
  return text;
}

const char* PageOf(int page) { return page == 0 ? "/pelorin/index.htm" : "/pelorin/export.vcf"; }

// Arguments: page (0 listing, 1 export), stylesheet cache (1 on, 0 off).
void BM_RenderThroughTheDispatcher(benchmark::State& state) {
  TBenchApp app(RenderedStore());
  {
    TStoreGuard guard(app.service().StoreLock);
    app.service().XMLDom.Dom().SetStylesheetCaching(state.range(1) != 0);
  }
  const char* page = PageOf(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    const ResponseInfo res = app.Send("GET", page);
    if (res.StatusCode != 200) {
      state.SkipWithError(res.Body.c_str());
      break;
    }
    bytes = res.Body.size();
  }
  state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_RenderThroughTheDispatcher)
    ->ArgNames({"page", "cache"})
    ->ArgsProduct({{0, 1}, {1, 0}})
    ->Unit(benchmark::kMillisecond);

// libxslt by itself on the same in-memory store: the stylesheet compiled once,
// applied with the same parameters and the result serialized.
void BM_LibxsltAlone(benchmark::State& state) {
  TBenchApp app(RenderedStore());  // for the files only
  const std::string page = PageOf(static_cast<int>(state.range(0)));
  const std::string store = app.dir() + "/pelorin/base.xml";
  XmlPtr<xmlDoc> doc(xmlReadFile(store.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS));
  XmlPtr<xsltStylesheet> sheet(
      xsltParseStylesheetFile(reinterpret_cast<const xmlChar*>((app.dir() + page + ".xsl").c_str())));
  if (!doc || !sheet) {
    state.SkipWithError("cannot load the store or the stylesheet");
    return;
  }
  const char* params[] = {"USER", "user3", "NAME", "User 3", "VERSION", "Pelorin V1.0.1", nullptr};
  std::size_t bytes = 0;
  for (auto _ : state) {
    XmlPtr<xsltTransformContext> context(xsltNewTransformContext(sheet.get(), doc.get()));
    xsltQuoteUserParams(context.get(), params);
    XmlPtr<xmlDoc> result(xsltApplyStylesheetUser(sheet.get(), doc.get(), nullptr, nullptr, nullptr, context.get()));
    xmlChar* text = nullptr;
    int length = 0;
    xsltSaveResultToString(&text, &length, result.get(), sheet.get());
    bytes = static_cast<std::size_t>(length);
    xmlFree(text);
  }
  state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_LibxsltAlone)->ArgName("page")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The user's cards as vCard 3.0 or 4.0, written from the records by the vCard
// writer (export3.vcf, export4.vcf). Arguments: version (3 or 4) and the cards
// of the user (the store holds ten times as many, a tenth for each user). The
// first export, which stores a UID in every card, is left out of the timing.
void BM_ExportThroughTheWriter(benchmark::State& state) {
  const int version = static_cast<int>(state.range(0));
  const int cards = static_cast<int>(state.range(1));
  TBenchApp app(bench::GenerateCardStore(cards * 10));
  const std::string page = version == 3 ? "/pelorin/export3.vcf" : "/pelorin/export4.vcf";
  if (app.Send("GET", page).StatusCode != 200) {
    state.SkipWithError("the export failed");
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const ResponseInfo res = app.Send("GET", page);
    if (res.StatusCode != 200) {
      state.SkipWithError(res.Body.c_str());
      break;
    }
    bytes = res.Body.size();
  }
  state.counters["body_bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_ExportThroughTheWriter)
    ->ArgNames({"version", "cards"})
    ->ArgsProduct({{3, 4}, {100, 1000}})
    ->Unit(benchmark::kMillisecond);

// The card list of one account at 10,000 and 50,000 cards, alone in the store
// or beside four times as many cards of other users: the first page, a page
// in the middle, the list sorted by organisation, and a search that finds a
// tenth of the cards. Each request is one that a person makes; the first
// request of each kind (which reads every card once) is left out.
void BM_CardListPage(benchmark::State& state) {
  const int own = static_cast<int>(state.range(0));
  const int others = own * static_cast<int>(state.range(1));
  static const char* kRequests[] = {"", "page=50", "sort=org&page=3", "q=card1"};
  const std::string query = kRequests[state.range(2)];
  TBenchApp app(bench::GenerateCardStore(own + others, own));
  const std::string path = "/pelorin/index.htm";
  const ResponseInfo first = app.Send("GET", path, query, "user0");
  if (first.StatusCode != 200) {
    state.SkipWithError(first.Body.c_str());
    return;
  }
  std::size_t bytes = 0;
  for (auto _ : state) {
    const ResponseInfo res = app.Send("GET", path, query, "user0");
    if (res.StatusCode != 200) {
      state.SkipWithError(res.Body.c_str());
      break;
    }
    bytes = res.Body.size();
  }
  state.counters["body_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_CardListPage)
    ->ArgNames({"own_cards", "others_times", "request"})
    ->ArgsProduct({{10000, 50000}, {0, 4}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

// One upload of N cards into an empty store, as the import page posts it.
// Second argument 1: the real clock, so each card waits for an ID unit of its
// own (86.4 microseconds); 0: a clock that moves one unit per reading, which
// shows the work apart from that wait.
void BM_Upload(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  const bool real_clock = state.range(1) != 0;
  const std::string raw = "vcfupload\r\n" + GenerateUpload(cards);
  for (auto _ : state) {
    state.PauseTiming();
    auto app = std::make_unique<TBenchApp>("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase/>");
    if (!real_clock) {
      TStoreGuard guard(app->service().StoreLock);
      app->service().SetRecordClock([reading = LocalNanosecondsSince1899()]() mutable { return reading += 86400; });
    }
    state.ResumeTiming();
    const ResponseInfo res = app->Send("POST", "/pelorin/import.htm", raw);
    state.PauseTiming();
    if (res.StatusCode != 302) state.SkipWithError(res.Body.c_str());
    int stored = 0;
    {
      TStoreGuard guard(app->service().StoreLock);
      TQuickDom& dom = app->service().XMLDom.Dom();
      for (bool found = dom.SelectNode("/xBase/vCard"); found; found = dom.SelectNextNode("/xBase/vCard")) ++stored;
    }
    if (stored != cards) state.SkipWithError("not every card was stored");
    app.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_Upload)
    ->ArgNames({"cards", "real_clock"})
    ->ArgsProduct({{1000, 10000, 50000}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace pelorin

int main(int argc, char** argv) {
  pelorin::InitXmlLibrary();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
