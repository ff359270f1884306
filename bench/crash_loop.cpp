// The durability suite's crash loop at length: starts the real executable on one
// directory again and again, kills it with SIGKILL at random moments while eight
// clients change their cards, checks the store file after every kill and the
// pages after every restart, and prints what it found.
//
// Usage: pelorin_crash_loop [--kills=N] [--seed=N] [--interval-ms=N] [--margin-ms=N]
//                           [--kill-min-ms=N] [--kill-max-ms=N] [--clients=N] [--quiet]
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <string>
#include <string_view>

#include "tests/reliability/durability_workload.h"
#include "xml/xml_library.h"

namespace {

bool Option(std::string_view argument, std::string_view name, std::uint64_t& value) {
  if (!argument.starts_with(name) || argument.size() <= name.size() || argument[name.size()] != '=')
    return false;
  const std::string_view text = argument.substr(name.size() + 1);
  std::uint64_t parsed = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  pelorin::InitXmlLibrary();
  pelorin::testing::TCrashLoopSettings settings;
  settings.Kills = 200;
  settings.Seed = std::random_device()();
  std::uint64_t kills = settings.Kills, seed = settings.Seed,
                interval = settings.SaveInterval.count(), margin = settings.Margin.count(),
                kill_min = settings.KillAfterMin.count(), kill_max = settings.KillAfterMax.count(),
                clients = settings.Clients;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument(argv[i]);
    if (argument == "--quiet") {
      quiet = true;
    } else if (!Option(argument, "--kills", kills) && !Option(argument, "--seed", seed) &&
               !Option(argument, "--interval-ms", interval) &&
               !Option(argument, "--margin-ms", margin) &&
               !Option(argument, "--kill-min-ms", kill_min) &&
               !Option(argument, "--kill-max-ms", kill_max) &&
               !Option(argument, "--clients", clients)) {
      std::cerr << "unknown argument " << argument << "\n";
      return 2;
    }
  }
  if (clients == 0 || interval == 0 || kill_max < kill_min) {
    std::cerr << "need at least one client, a save interval, and --kill-min-ms <= --kill-max-ms\n";
    return 2;
  }
  settings.Kills = kills;
  settings.Seed = seed;
  settings.SaveInterval = std::chrono::milliseconds(interval);
  settings.Margin = std::chrono::milliseconds(margin);
  settings.KillAfterMin = std::chrono::milliseconds(kill_min);
  settings.KillAfterMax = std::chrono::milliseconds(kill_max);
  settings.Clients = clients;
  if (!quiet) settings.Progress = [](const std::string& line) { std::cout << line << std::endl; };

  std::cout << "crash loop: " << settings.Kills << " kills, " << settings.Clients
            << " clients, save interval " << interval << " ms, kill " << kill_min << ".."
            << kill_max << " ms after the clients begin, must hold "
            << "what was answered " << 2 * interval + margin << " ms before the kill, seed "
            << settings.Seed << std::endl;
  const auto began = std::chrono::steady_clock::now();
  const pelorin::testing::TCrashLoopReport report = pelorin::testing::RunCrashLoop(settings);
  const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - began)
                           .count() /
                       1000.0;

  std::printf("\n| measure | value |\n|---|---|\n");
  std::printf("| kills | %zu |\n", report.Kills);
  std::printf("| changes sent | %zu |\n", report.ChangesSent);
  std::printf("| changes acknowledged (302 with its Location) | %zu |\n", report.Answered);
  std::printf("| acknowledged changes found in the file after the kill | %zu |\n",
              report.AnsweredOnDisk);
  std::printf("| acknowledged within the last save period, not yet saved | %zu |\n",
              report.AnsweredNotYetSaved);
  std::printf("| in flight at the kill, yet saved | %zu |\n", report.UnansweredOnDisk);
  std::printf("| acknowledged changes held after the restart (file and journal) | %zu |\n",
              report.AnsweredRecovered);
  std::printf("| acknowledged changes lost | %zu |\n", report.Answered - report.AnsweredRecovered);
  std::printf("| in flight at the kill, held after the restart | %zu |\n", report.UnansweredRecovered);
  std::printf("| kills that left base.xml.saving behind | %zu |\n", report.LeftoverSavingFiles);
  std::printf("| oldest file after a kill (ms before the kill, at least) | %lld |\n",
              static_cast<long long>(report.MaxAge.count()));
  std::printf("| failures | %zu |\n", report.Failures.size());
  std::printf("| wall time | %.1f s |\n", seconds);
  for (const std::string& failure : report.Failures) std::printf("FAILURE: %s\n", failure.c_str());
  return report.Failures.empty() && report.Kills == settings.Kills ? 0 : 1;
}
