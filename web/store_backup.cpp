// A consistent copy of the three stores while the service runs. It is taken
// with StoreLock held, so no change stands half in it and the three files
// belong to one moment; each is written as a save writes its store. The copy
// is put together under a name of its own and renamed into place last, so a
// backup directory that exists is whole.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>

#include "io/durable_file.h"
#include "service/vcard_main.h"
#include "web/cross_site.h"

namespace pelorin {
namespace {

constexpr char kBackupDir[] = "/backup/";
constexpr char kPartialSuffix[] = ".partial";
constexpr int kMaxSameSecond = 100;

bool Exists(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0;
}

void MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return;
  throw TFileError("Could not create " + path + ": " + std::strerror(errno), "create", errno);
}

// Local time, as the day logs are named, so that backups and logs sort together.
std::string StampOf(std::time_t now) {
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return stamp;
}

}  // namespace

std::string TPelorinService::WriteStoreBackup() {
  const std::string root = AppDir + kBackupDir;
  MakeDirectory(root);
  // Two backups within one second get names of their own.
  const std::string stamp = StampOf(std::time(nullptr));
  std::string name = stamp;
  for (int n = 2; Exists(root + name) || Exists(root + name + kPartialSuffix); ++n) {
    if (n > kMaxSameSecond) throw TFileError("Could not name a backup in " + root, "create", EEXIST);
    name = stamp + "-" + std::to_string(n);
  }
  const std::string partial = root + name + kPartialSuffix;
  MakeDirectory(partial);
  for (TRecordStore* store : {&ConfigDom, &XMLDom, &UserDom}) {
    const std::string relative = MapPath(store->UrlPath());  // "/pelorin/base.xml"
    MakeDirectory(partial + relative.substr(0, relative.rfind('/')));
    // Private, as the stores are: the user store holds passwords.
    ReplaceFileDurably(partial + relative, store->Dom().SaveToString(), 0600);
  }
  if (::rename(partial.c_str(), (root + name).c_str()) != 0) {
    throw TFileError("Could not rename " + partial + ": " + std::strerror(errno), "rename", errno);
  }
  SyncParentDirectory(root + name);
  return "backup/" + name;
}

void TPelorinService::StoreBackupRow(RequestInfo& req, ResponseInfo& res) {
  res.BodyType = "text/plain";
  // Basic credentials go with a form another site posts; a backup fills the disk.
  if (IsCrossSitePost(req)) {
    res.SetStatus(403);
    res.Body = kCrossSiteRefusal;
    return;
  }
  try {
    const std::string written = WriteStoreBackup();
    WriteLog("Backup of the stores written to " + written);
    res.Body = "Backup written to " + written + "/ in the application directory.\n";
  } catch (const std::exception& e) {
    const std::string message = std::string("The backup could not be written: ") + e.what();
    WriteLog(message);
    res.SetStatus(500);
    res.Body = message;
  }
}

}  // namespace pelorin
