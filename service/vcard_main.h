// TPelorinService: the one service module. It owns the HTTP server, the store
// documents and the save timer. ServiceStart, ServiceStop and SaveTimerTimer run on
// the main thread; HTTPServerCommandGet and the operations it calls (web/) run on
// the connection threads while holding StoreLock.
#ifndef PELORIN_SERVICE_VCARD_MAIN_H_
#define PELORIN_SERVICE_VCARD_MAIN_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "service/journal.h"
#include "service/journal_checkpoint.h"
#include "service/store_lock.h"
#include "vcard/vcard_version.h"
#include "service/timer.h"
#include "web/http_server.h"
#include "service/record_ids.h"
#include "service/record_store.h"
#include "service/sign_in_cache.h"
#include "web/card_listing.h"
#include "web/dav_book.h"
#include "web/dav_sync.h"
#include "web/import_report.h"
#include "web/request_info.h"
#include "web/request_route.h"
#include "web/sign_in_throttle.h"
#include "xml/quickdom.h"

namespace boost::asio {
class io_context;
}  // namespace boost::asio

namespace pelorin {

inline constexpr std::chrono::milliseconds kSaveInterval{60000};
inline constexpr std::uint16_t kDefaultPort = 9555;
inline constexpr char kStartMessage[] = "Starting Pelorin Version 1.0.1";
inline constexpr char kStopMessage[] = "Stopping Pelorin";
inline constexpr char kAccountRealm[] = "Please select your account.";
inline constexpr char kVersionText[] = "Pelorin V1.0.1";
// The account and password of the first-run user store.
inline constexpr char kFirstRunAdmin[] = "admin";

// What a request's password was found to be against each stored hash of its
// account, worked out before the store lock is taken (a hash check takes tens
// of milliseconds, and nobody should wait for another's), and a yescrypt hash
// ready for an account whose stored one is of an older scheme.
struct TSignInProof {
  std::vector<std::pair<std::string, bool>> Verdicts;  // stored text, whether it matched
  std::string Rehash;
};

// What the plain HTTP port does when a TLS port is there too.
enum class TPlainHttp { Serve, Redirect, Off };

// The listeners the configuration asks for.
struct TListenerPlan {
  std::uint16_t PlainPort = kDefaultPort;
  TListenSettings Plain;
  std::optional<std::uint16_t> TlsPort;
  TListenSettings Secure;
  TPlainHttp PlainMode = TPlainHttp::Serve;
};

// The account a request signed in with.
struct TSignedIn {
  std::string User;
  std::string DisplayName;
  bool IsAdmin = false;
  bool DefaultPassword = false;  // the first-run admin/admin, still unchanged
};

class TPelorinService {
 public:
  // The save timer ticks on `loop`, which the caller runs on the main thread.
  explicit TPelorinService(boost::asio::io_context& loop, std::chrono::milliseconds save_interval = kSaveInterval);
  // Deactivates the HTTP server first: its requests use the documents below.
  ~TPelorinService();
  TPelorinService(const TPelorinService&) = delete;
  TPelorinService& operator=(const TPelorinService&) = delete;

  // Service handlers. `app_dir` is the executable's directory, found by the caller.
  // Started and Stopped are set true by the caller; the handler clears them on failure.
  void ServiceStart(const std::string& app_dir, bool& Started) EXCLUDES(StoreLock);
  void ServiceStop(bool& Stopped) EXCLUDES(StoreLock);
  void SaveTimerTimer() EXCLUDES(StoreLock);

  // The request handler of HTTPServer (web/dispatcher.cpp).
  void HTTPServerCommandGet(RequestInfo& req, ResponseInfo& res) EXCLUDES(StoreLock);

  // The store a request path addresses: "/user/..." the users, "/config/..." the
  // configuration, any other path the address cards.
  TRecordStore& StoreForPath(const std::string& path) REQUIRES(StoreLock);
  TRecordStore& Store(TStoreKind kind) REQUIRES(StoreLock);
  // The store, extension and file of a request path, worked out once.
  TRequestRoute RouteOf(const std::string& path) const;
  // The response type of a GET by its lower-cased extension (".wml", ".vcf");
  // every other extension keeps the type the response has.
  static void SetContentType(const std::string& ext, ResponseInfo& res);
  // A rendered page's text with the prolog of its extension (".htm", ".wml"); for
  // ".vcf" the first UTF-16 XML declaration (any case) is taken out instead.
  static std::string WrapOutput(const std::string& ext, const std::string& text);

  // The file AppDir + MapPath(Path) as the body (web/static_files.cpp): 404 when
  // it does not exist, 500 with an empty body when it cannot be read.
  void ServeFile(RequestInfo& req, ResponseInfo& res) REQUIRES(StoreLock);

  // Accounts (web/accounts.cpp). CheckUser clears display_name and sets is_admin
  // only when a record matches, so the caller presets it to false.
  bool CheckUser(const std::string& user, const std::string& password, bool& is_admin,
                 std::string& display_name) REQUIRES(StoreLock);
  void LogoutUser(const std::string& user, const std::string& password, const TSignInProof* proof = nullptr)
      REQUIRES(StoreLock);
  static bool CheckAdminArea(bool is_admin, const std::string& path);
  // CheckUser's outcome in full: a refusal through the logout marker is no failed
  // sign-in (the password was right), so the throttle must tell them apart.
  enum class TAccountCheck { Accepted, LoggedOut, Refused };
  // `proof`, when given, says what the password matched; a stored text it
  // does not name (the account changed meanwhile) is checked here.
  TAccountCheck CheckAccount(const std::string& user, const std::string& password, bool& is_admin,
                             std::string& display_name, const TSignInProof* proof = nullptr) REQUIRES(StoreLock);
  // Checks the password against the stored texts of its account, without the
  // store lock; verified pairs go into the cache.
  TSignInProof ProveSignIn(const std::string& user, const std::string& password,
                           const std::vector<std::string>& stored) EXCLUDES(StoreLock);
  // Reads the proof and the cache (its own lock), so it needs no store lock.
  bool PasswordMatches(const std::string& user, const std::string& password, const std::string& stored,
                       const TSignInProof* proof);

  // A URL-form path ("/config/config.xml") as a path below AppDir.
  static std::string MapPath(const std::string& path);
  // Loads file_name, or the first-run file beside it when file_name does not exist.
  bool LoadStore(const std::string& file_name, TRecordStore& store);
  // One line in the day's log below AppDir; failures are not reported.
  void WriteLog(const std::string& message) const;

  // The port the server listens on while active, 0 otherwise.
  std::uint16_t Port() const { return HTTPServer.Port(); }
  // The TLS port while it is active, 0 otherwise.
  std::uint16_t TlsPort() const { return HTTPSServer.Port(); }

  std::string AppDir;  // no trailing separator
  std::string BasePath;
  std::string UserPath;
  std::string ConfigPath;

  // Declared first so that it is the last member to go.
  TStoreLock StoreLock;

  // Every record change is appended here before it is answered
  // (service/store_journal.cpp); a save empties it.
  TJournal Journal;

  THttpServer HTTPServer;
  THttpServer HTTPSServer;
  // Set at the start, before a listener runs, and only read afterwards.
  TPlainHttp PlainHttpMode = TPlainHttp::Serve;
  TQuickDom XSLDom GUARDED_BY(StoreLock);
  TRecordStore XMLDom GUARDED_BY(StoreLock){TStoreKind::Cards, "/pelorin/base.xml"};
  TRecordStore UserDom GUARDED_BY(StoreLock){TStoreKind::Users, "/user/user.xml"};
  TRecordStore ConfigDom GUARDED_BY(StoreLock){TStoreKind::Config, "/config/config.xml"};
  TQuickDom TempDom GUARDED_BY(StoreLock);
  TTimer SaveTimer GUARDED_BY(StoreLock);  // the lock guards its enabled state
  TSignInThrottle SignInThrottle GUARDED_BY(StoreLock);
  // Verified sign-ins of the last minutes (its own lock); emptied whenever the
  // user store changes.
  TSignInCache SignInCache;
  // The sync tokens of the address books (web/dav_sync.h), kept across clean stops.
  TDavSyncLog DavSync GUARDED_BY(StoreLock);
  // Each user's book as DAV answers show it, kept between requests (web/dav_book.h).
  TDavBooks DavBooks GUARDED_BY(StoreLock);
  // The last vCard download rendered by a stylesheet for each user, with what
  // it was made from (web/rendering.cpp).
  struct TRenderedDownload {
    std::string Key;  // the stylesheet and every request field
    std::uint64_t ChangeSequence = 0;  // of the card store
    std::uint64_t Revision = 0;        // of the compiled stylesheet
    std::string Body;
  };
  std::map<std::string, TRenderedDownload> RenderedDownloads GUARDED_BY(StoreLock);
  // A larger download (a book of more than about 3,000 cards) is made anew
  // each time: kept, it would hold as much memory as the book's texts again,
  // and its own making costs little beside its sending.
  static constexpr std::size_t kMaxKeptDownloadBytes = 1u << 20;
  // Set by a request that worked through many cards (a page over a large
  // book): the heap is trimmed once its answer is made.
  bool HeapTrimDue GUARDED_BY(StoreLock) = false;
  // Each user's card list, searched, sorted and paged (web/card_listing.h).
  TCardListings CardListings GUARDED_BY(StoreLock);
  // Each user's last vCard upload, for its report page and its undo. Kept in
  // memory only: after a restart the report is gone and the cards stay.
  TImportReports ImportReports GUARDED_BY(StoreLock);
  // The front proxies whose X-Forwarded-For names the client (canonical
  // addresses), read from the configuration store at start.
  std::vector<std::string> TrustedProxies GUARDED_BY(StoreLock);

  // Test seam: the clock of every store's record IDs.
  void SetRecordClock(const TLocalClock& clock) REQUIRES(StoreLock);

 private:
  bool LoadStores() REQUIRES(StoreLock);
  void HashClearPasswords() REQUIRES(StoreLock);
  std::optional<std::uint16_t> ConfiguredPort() REQUIRES(StoreLock);
  // The listeners (service/listeners.cpp); nullopt, logged, when the
  // configuration cannot be followed.
  std::string ConfigText(const std::string& name) REQUIRES(StoreLock);
  std::optional<TListenerPlan> ConfiguredListeners() REQUIRES(StoreLock);
  bool ActivateListeners(const TListenerPlan& plan);
  void RedirectToHttps(const RequestInfo& req, ResponseInfo& res) const;
  std::vector<std::string> ConfiguredTrustedProxies() REQUIRES(StoreLock);
  // Writes the cards, the users and the configuration, and empties the
  // journal when all three are written; false when one failed.
  bool SaveAll() REQUIRES(StoreLock);

  // The journal (service/store_journal.cpp).
  class TStoreJournalHook final : public TRecordJournal {
   public:
    explicit TStoreJournalHook(TPelorinService& service) : service_(service) {}
    // The stores call these only from their operations, which run under
    // StoreLock; the analysis cannot follow the call through the interface.
    bool Ready(std::string& error) override NO_THREAD_SAFETY_ANALYSIS;
    bool Record(TJournalEntry& entry, std::string& error) override;
    void Restore(TRecordStore& store) override NO_THREAD_SAFETY_ANALYSIS;

   private:
    TPelorinService& service_;
  };
  // Opens the journal and applies again what the store files do not hold yet.
  void OpenJournal() REQUIRES(StoreLock);
  bool JournalReady(std::string& error) REQUIRES(StoreLock);
  // The entries of `contents` that `store`'s file does not hold, applied to it.
  std::size_t ReplayInto(TRecordStore& store, const TJournalContents& contents) REQUIRES(StoreLock);
  // The store as its file and the journal hold it.
  void RestoreStore(TRecordStore& store) REQUIRES(StoreLock);
  std::string StoreFileOf(const TRecordStore& store) const;

  TStoreJournalHook JournalHook;
  bool journal_starting_ GUARDED_BY(StoreLock) = false;  // OpenJournal is under way
  TJournalCheckpoint Checkpoint GUARDED_BY(StoreLock);

  // Everything HTTPServerCommandGet does but the type of failure answers.
  void AnswerRequest(RequestInfo& req, ResponseInfo& res, const TSignInProof* proof) REQUIRES(StoreLock);
  // Routing of one request once the credentials have passed (web/dispatcher.cpp).
  void RouteRequest(RequestInfo& req, ResponseInfo& res, const TSignedIn& account) REQUIRES(StoreLock);
  void ServeFileRow(RequestInfo& req, ResponseInfo& res) REQUIRES(StoreLock);
  void ServePhotoRow(RequestInfo& req, ResponseInfo& res, const std::string& user) REQUIRES(StoreLock);
  struct TExportChoice {
    TvCardVersion Version = TvCardVersion::k40;
    bool SingleCard = false;
  };
  void ExportCardsRow(RequestInfo& req, ResponseInfo& res, const std::string& user, const TExportChoice& choice)
      REQUIRES(StoreLock);
  void RenderPageRow(RequestInfo& req, ResponseInfo& res, const TRequestRoute& route, const TSignedIn& account)
      REQUIRES(StoreLock);
  void RecordCommandsRow(RequestInfo& req, ResponseInfo& res, const TRequestRoute& route, const std::string& user)
      REQUIRES(StoreLock);

  // POST /config/backup: a copy of the three stores, taken while the service
  // runs (web/store_backup.cpp). WriteStoreBackup returns the directory it
  // wrote, relative to AppDir, and throws when it could not.
  void StoreBackupRow(RequestInfo& req, ResponseInfo& res) REQUIRES(StoreLock);
  std::string WriteStoreBackup() REQUIRES(StoreLock);

  // CardDAV on /dav/ (web/dav.cpp), after the sign-in.
  void DavRow(RequestInfo& req, ResponseInfo& res, const TSignedIn& account) REQUIRES(StoreLock);
  void DavReport(RequestInfo& req, ResponseInfo& res, bool on_book, TDavBook* book, const std::string& user)
      REQUIRES(StoreLock);
  void DavPut(RequestInfo& req, ResponseInfo& res, const std::string& name, const TDavCard* existing,
              const std::string& user) REQUIRES(StoreLock);

  // The undo of the owner's last import (web/import_commands.cpp): removes
  // the cards it added that are still there, then shows the report again.
  void UndoImportRow(ResponseInfo& res, const std::string& owner) REQUIRES(StoreLock);
  // The merge of two of the owner's cards (web/merge_commands.cpp), fields
  // ID (the card kept) and OTHER (the card merged into it and removed).
  void MergeCardsRow(RequestInfo& req, ResponseInfo& res, const std::string& owner) REQUIRES(StoreLock);

  // The record commands of a form post (web/records.cpp).
  void RunRecordCommands(RequestInfo& req, ResponseInfo& res, TRecordStore& store, const std::string& owner)
      REQUIRES(StoreLock);
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_VCARD_MAIN_H_
