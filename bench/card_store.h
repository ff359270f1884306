// Deterministic address-card stores for the benchmarks: card i depends on i
// only, and is owned by user(i mod 10); or, with `user0_first` set, the first
// that many by user0 and the rest by user1..user9. The text is in the store
// file format.
#ifndef PELORIN_BENCH_CARD_STORE_H_
#define PELORIN_BENCH_CARD_STORE_H_

#include <cstdint>
#include <string>

namespace pelorin::bench {

inline std::string GenerateCardStore(int cards, int user0_first = 0) {
  static const char* kGiven[] = {"Anna", "Thomas", "J&#252;rgen", "Sarah", "Bj&#246;rn",
                                 "Laura", "Peter", "Zo&#235;", "Daniel", "Maria", "Fran&#231;ois"};
  static const char* kFamily[] = {"Smith", "M&#252;ller", "Johnson", "Schr&#246;der", "Brown",
                                  "Weber", "G&#243;mez", "Taylor", "Wagner", "O'Brien", "Klein"};
  static const char* kOrg[] = {"Acme Corp", "Smith &amp; Sons", "Globex Ltd", "Initech",
                               "Caf&#233; Lumi&#232;re", "Hooli", "Umbrella AG"};
  static const char* kCity[] = {"Berlin", "M&#252;nchen", "Paris", "London", "Springfield"};
  std::string out = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<xBase>";
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t range) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % range;
  };
  for (int i = 0; i < cards; ++i) {
    const std::string given = kGiven[next(11)], family = kFamily[next(11)];
    const std::string id = std::to_string(45000000000000LL + 11574LL * i);
    out += "\r\n  <vCard>\r\n    <VERSION>2.1</VERSION>\r\n    <N>\r\n      <FAMILY>" + family +
           "</FAMILY>\r\n      <GIVEN>" + given + "</GIVEN>\r\n    </N>\r\n    <FN>" + given + " " +
           family + "</FN>\r\n    <ORG>\r\n      <ORGNAME>" + kOrg[next(7)] +
           "</ORGNAME>\r\n      <ORGUNIT>Sales</ORGUNIT>\r\n    </ORG>\r\n    <TEL>\r\n"
           "      <NUMBER>+49 30 " + std::to_string(1000000 + next(8999999)) +
           "</NUMBER>\r\n      <WORK/>\r\n      <VOICE/>\r\n    </TEL>\r\n    <TEL>\r\n"
           "      <NUMBER>+49 170 " + std::to_string(1000000 + next(8999999)) +
           "</NUMBER>\r\n      <CELL/>\r\n      <VOICE/>\r\n    </TEL>\r\n    <EMAIL>\r\n"
           "      <USERID>card" + std::to_string(i) + "@example.com</USERID>\r\n"
           "      <INTERNET/>\r\n    </EMAIL>\r\n    <ADR>\r\n      <WORK/>\r\n"
           "      <STREET>Hauptstra&#223;e " + std::to_string(1 + next(200)) +
           "</STREET>\r\n      <LOCALITY>" + kCity[next(5)] +
           "</LOCALITY>\r\n      <PCODE>10115</PCODE>\r\n    </ADR>\r\n"
           "    <NOTE>Met at the trade fair; prefers e-mail.</NOTE>\r\n    <OWNER>user" +
           std::to_string(user0_first == 0 ? i % 10 : i < user0_first ? 0 : 1 + i % 9) + "</OWNER>\r\n    <ID>" + id + "</ID>\r\n  </vCard>";
  }
  out += "\r\n</xBase>";
  return out;
}

}  // namespace pelorin::bench

#endif  // PELORIN_BENCH_CARD_STORE_H_
