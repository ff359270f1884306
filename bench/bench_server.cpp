// The service module on an application directory, for load tests of rendered
// pages: `pelorin_bench_server APP_DIR [--no-stylesheet-cache] [--lock-probe] [--no-journal]`.
// Serves on the port of APP_DIR's configuration until SIGINT or SIGTERM. Not the
// service host: no service manager, no PID file, stores saved on the way out as
// ServiceStop does.
//
// --lock-probe: a thread takes the store lock every millisecond and prints
// "lock-wait-ms <ms>" on stderr for every wait of 0.5 ms or more, which is how
// long a request held the lock that everybody else needed.
//
// --no-journal: changes are made in memory only, as before the journal, so
// that its cost can be measured side by side. Never for real data.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "service/vcard_main.h"
#include "xml/xml_library.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s APP_DIR [--no-stylesheet-cache] [--lock-probe] [--no-journal]\n", argv[0]);
    return 2;
  }
  bool cache = true;
  bool lock_probe = false;
  bool journal = true;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-stylesheet-cache") == 0) {
      cache = false;
    } else if (std::strcmp(argv[i], "--lock-probe") == 0) {
      lock_probe = true;
    } else if (std::strcmp(argv[i], "--no-journal") == 0) {
      journal = false;
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  pelorin::InitXmlLibrary();
  boost::asio::io_context loop;
  pelorin::TPelorinService service(loop);
  bool started = true;
  service.ServiceStart(argv[1], started);
  if (!started) {
    std::fprintf(stderr, "the service did not start; see the log in %s\n", argv[1]);
    return 1;
  }
  {
    pelorin::TStoreGuard guard(service.StoreLock);
    for (pelorin::TRecordStore* store : {&service.XMLDom, &service.UserDom, &service.ConfigDom}) {
      store->Dom().SetStylesheetCaching(cache);
      if (!journal) store->SetJournal(nullptr);
    }
  }
  std::printf("serving on port %u, stylesheet cache %s, journal %s\n", static_cast<unsigned>(service.Port()),
              cache ? "on" : "off", journal ? "on" : "off");
  std::fflush(stdout);
  if (lock_probe) std::fprintf(stderr, "lock-probe on\n");
  std::atomic<bool> probing = lock_probe;
  std::thread probe([&] {
    using Clock = std::chrono::steady_clock;
    while (probing) {
      const Clock::time_point asked = Clock::now();
      { pelorin::TStoreGuard guard(service.StoreLock); }
      const double waited = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
      if (waited >= 0.5) std::fprintf(stderr, "lock-wait-ms %.2f\n", waited);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  boost::asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&loop](const boost::system::error_code&, int) { loop.stop(); });
  loop.run();
  probing = false;
  probe.join();
  bool stopped = true;
  service.ServiceStop(stopped);
  return stopped ? 0 : 1;
}
