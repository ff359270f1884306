// The card store file as the crash tests read it: parsed by libxml2 alone (not by
// the service's own loader), every card whole, no key and no ID twice. Called from
// the test's main thread.
#ifndef PELORIN_TESTS_RELIABILITY_DURABILITY_STORE_FILE_H_
#define PELORIN_TESTS_RELIABILITY_DURABILITY_STORE_FILE_H_

#include <cstddef>
#include <string>
#include <vector>

#include "tests/reliability/durability_model.h"

namespace pelorin::testing {

struct TStoreReading {
  bool Parsed = false;              // well-formed XML
  std::vector<std::string> Faults;  // everything that makes the file unsound
  std::vector<TCardSet> ByClient;   // the cards of each client, sound or not
};

// Reads a store of `clients` clients' cards: document element "xBase" holding only
// "vCard" records, each with exactly one FN (a card key), NOTE (a version "v<n>"),
// OWNER (the key's account) and ID (decimal), and nothing else.
TStoreReading ParseCardStore(const std::string& bytes, std::size_t clients);
// The same for a file; a missing or empty file is a fault.
TStoreReading ReadCardStore(const std::string& path, std::size_t clients);

// A store file holding these cards in the service's own format; the cards need IDs.
std::string CardStoreText(const std::vector<TCardSet>& by_client);

}  // namespace pelorin::testing

#endif  // PELORIN_TESTS_RELIABILITY_DURABILITY_STORE_FILE_H_
