// The service module on an application directory, for load tests of rendered
// pages: `pelorin_bench_server APP_DIR [--no-stylesheet-cache]`. Serves on the port
// of APP_DIR's configuration until SIGINT or SIGTERM. Not the service host: no
// service manager, no PID file, stores saved on the way out as ServiceStop does.
#include <cstdio>
#include <cstring>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "service/vcard_main.h"
#include "xml/xml_library.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s APP_DIR [--no-stylesheet-cache]\n", argv[0]);
    return 2;
  }
  const bool cache = !(argc > 2 && std::strcmp(argv[2], "--no-stylesheet-cache") == 0);
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
    }
  }
  std::printf("serving on port %u, stylesheet cache %s\n", static_cast<unsigned>(service.Port()), cache ? "on" : "off");
  std::fflush(stdout);
  boost::asio::signal_set signals(loop, SIGINT, SIGTERM);
  signals.async_wait([&loop](const boost::system::error_code&, int) { loop.stop(); });
  loop.run();
  bool stopped = true;
  service.ServiceStop(stopped);
  return stopped ? 0 : 1;
}
