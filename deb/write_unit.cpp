// Writes the systemd unit of the package: the very text that `pelorind /INSTALL`
// writes, for the executable where the package puts it. Run by the build, so the
// two can never differ.
//   pelorin_write_unit <executable path> <unit file to write>
#include <cstdio>
#include <fstream>
#include <string>

#include "service/event_log.h"
#include "service/service_manager.h"
#include "service/unit_file.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s EXECUTABLE UNIT_FILE\n", argv[0]);
    return 2;
  }
  // The package's first-run configuration listens above 1024, so the unit needs
  // no capability; a port below asks for a drop-in (README).
  const pelorin::TServiceEntry entry{pelorin::kServiceName, pelorin::kServiceDisplayName, argv[1]};
  std::string text;
  if (const pelorin::TSvcResult made = pelorin::UnitFileText(entry, text); !made) {
    std::fprintf(stderr, "%s\n", made.Reason().c_str());
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
