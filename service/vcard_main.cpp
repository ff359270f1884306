#include "service/vcard_main.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <optional>
#include <system_error>

#include "service/event_log.h"
#include "service/orv_logger.h"
#include "web/client_address.h"

namespace pelorin {
namespace {

constexpr char kDirectorySeparator = '/';
constexpr char kPortXPath[] = "xConfig/ServiceProviderPort";
constexpr char kTrustedProxyXPath[] = "xConfig/TrustedProxy";
// Written at a clean stop, taken and removed at the next start: a crash in
// between leaves none, so no token of the crashed run is taken for good.
constexpr char kDavSyncFile[] = "/journal/sync-tokens";

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::exists(path, ignored);
}

}  // namespace

TPelorinService::TPelorinService(boost::asio::io_context& loop, std::chrono::milliseconds save_interval)
    : HTTPServer([this](RequestInfo& req, ResponseInfo& res) { HTTPServerCommandGet(req, res); }),
      HTTPSServer([this](RequestInfo& req, ResponseInfo& res) { HTTPServerCommandGet(req, res); }),
      SaveTimer(loop, save_interval, [this] { SaveTimerTimer(); }),
      JournalHook(*this) {}

TPelorinService::~TPelorinService() {
  HTTPServer.Deactivate();
  HTTPSServer.Deactivate();
}

std::string TPelorinService::MapPath(const std::string& path) {
  std::string mapped = path;
  std::replace(mapped.begin(), mapped.end(), '/', kDirectorySeparator);
  return mapped;
}

void TPelorinService::WriteLog(const std::string& message) const { (void)WriteDailyLog(AppDir, message); }

// The first-run file is only read; saves always write file_name.
bool TPelorinService::LoadStore(const std::string& file_name, TRecordStore& store) {
  const std::string base = file_name.substr(0, file_name.size() >= 4 ? file_name.size() - 4 : 0);
  const std::string path = FileExists(base + ".xml") ? base + ".xml" : base + "init.xml";
  if (store.LoadFromFile(path) == 0) return true;
  WriteLog("Could not load file " + path);
  return false;
}

// Configuration first, then cards, then users; the first failure ends the start,
// leaving the later path fields empty.
bool TPelorinService::LoadStores() {
  ConfigPath = ConfigDom.UrlPath();
  if (!LoadStore(AppDir + MapPath(ConfigPath), ConfigDom)) return false;
  BasePath = XMLDom.UrlPath();
  if (!LoadStore(AppDir + MapPath(BasePath), XMLDom)) return false;
  UserPath = UserDom.UrlPath();
  return LoadStore(AppDir + MapPath(UserPath), UserDom);
}

// An empty or non-numeric text gives 0, so the system picks a free port. A number
// outside the port range gives nothing: no port can be opened for it.
std::optional<std::uint16_t> TPelorinService::ConfiguredPort() {
  TQuickDom& config = ConfigDom.Dom();
  if (!config.SelectNode(kPortXPath)) return kDefaultPort;
  int status = 0;
  const std::int32_t value = config.GetInteger(status);
  if (value < 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

// One element per address. An entry that is no address is logged and left out:
// trusting a name would mean trusting whatever it resolves to.
std::vector<std::string> TPelorinService::ConfiguredTrustedProxies() {
  std::vector<std::string> trusted;
  for (bool found = ConfigDom.Dom().SelectNode(kTrustedProxyXPath); found;
       found = ConfigDom.Dom().SelectNextNode(kTrustedProxyXPath)) {
    // An indented store puts line breaks and spaces around the text.
    std::string text = ConfigDom.Dom().GetText();
    text.erase(0, text.find_first_not_of(" \t\r\n"));
    text.erase(text.find_last_not_of(" \t\r\n") + 1);
    const std::optional<std::string> address = CanonicalAddress(text);
    if (address) {
      trusted.push_back(*address);
    } else {
      WriteLog("Trusted proxy is not an address: " + text);
    }
  }
  return trusted;
}

void TPelorinService::ServiceStart(const std::string& app_dir, bool& Started) {
  AppDir = app_dir;
  while (AppDir.size() > 1 && AppDir.back() == kDirectorySeparator) AppDir.pop_back();
  if (AppDir == "/") AppDir.clear();  // the root: paths begin with the separator
  WriteLog(kStartMessage);
  std::optional<TListenerPlan> listeners;
  {
    // The server is not active yet, so nothing waits for the lock; taking it keeps
    // the rule that the documents are only touched under it.
    TStoreGuard guard(StoreLock);
    Started = LoadStores();
    if (!Started) return;
    OpenJournal();
    // The sync tokens of the last clean stop; without them every client syncs anew.
    if (DavSync.Load(AppDir + kDavSyncFile)) std::filesystem::remove(AppDir + kDavSyncFile);
    HashClearPasswords();
    listeners = ConfiguredListeners();
    TrustedProxies = ConfiguredTrustedProxies();
  }
  if (!listeners || !ActivateListeners(*listeners)) {
    Started = false;
    WriteLog("Unable to activate HTTP server.");
  }
}

// A user store written before passwords were hashed holds them in clear text.
// They are hashed when the store is loaded, not at each account's next
// sign-in: then no clear password stays on disk for an account nobody uses,
// and the save right away puts the hashes on disk before the first request.
// The first-run file holds only the documented first-run password; its store
// is written at the first save, as always, with the hash.
void TPelorinService::HashClearPasswords() {
  const bool from_store_file = std::filesystem::exists(StoreFileOf(UserDom));
  std::size_t hashed = 0;
  try {
    hashed = UserDom.HashClearPasswords();
  } catch (const std::exception& e) {
    WriteLog(std::string("The clear-text passwords could not be hashed: ") + e.what());
    return;
  }
  if (hashed == 0) return;
  if (!from_store_file) return;
  WriteLog(std::to_string(hashed) + " clear-text passwords of the user store replaced by their hashes");
  if (!SaveAll()) SaveTimer.SetEnabled(true);
}

void TPelorinService::SetRecordClock(const TLocalClock& clock) {
  for (TRecordStore* store : {&XMLDom, &UserDom, &ConfigDom}) store->RecordClock = clock;
}

// Runs on the main thread, never on a request thread, and never throws into the loop.
void TPelorinService::SaveTimerTimer() {
  try {
    TStoreGuard guard(StoreLock);
    SaveTimer.SetEnabled(false);
    // A failed save keeps the timer armed: the changes are tried again one period
    // later instead of waiting for the next change.
    if (!SaveAll()) SaveTimer.SetEnabled(true);
  } catch (const std::exception& e) {
    WriteEventLog(ExecutableSourceName(), e.what());
  }
}

// The server stops first and lets its requests finish, and the timer is disabled,
// so the last save runs alone; the lock itself lives on with the module.
void TPelorinService::ServiceStop(bool& Stopped) {
  WriteLog(kStopMessage);
  HTTPServer.Deactivate();
  HTTPSServer.Deactivate();
  TStoreGuard guard(StoreLock);
  SaveTimer.SetEnabled(false);
  Stopped = SaveAll();
  try {
    DavSync.Save(AppDir + kDavSyncFile);
  } catch (const std::exception& e) {
    WriteLog(std::string("The sync tokens could not be kept: ") + e.what());
  }
}

}  // namespace pelorin
