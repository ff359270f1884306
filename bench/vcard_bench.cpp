// Converting a large upload: cards per second through TvCardUploadReader on a
// generated file of address cards, and how the cost grows with the card count.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "vcard/vcard_upload_reader.h"

namespace pelorin {
namespace {

constexpr std::array<std::string_view, 12> kGiven = {
    "Anna", "Thomas", "Michael", "Sarah", "J\xC3\xBCrgen", "Zo\xC3\xAB",
    "Fran\xC3\xA7ois", "Laura", "Peter", "S\xC3\xB8ren", "Julia", "Daniel"};
constexpr std::array<std::string_view, 10> kFamily = {
    "Smith", "M\xC3\xBCller", "Schr\xC3\xB6" "der", "Johnson", "O'Brien",
    "Dvo\xC5\x99\xC3\xA1k", "Weber", "Hall", "G\xC3\xB3mez", "Wagner"};
constexpr std::array<std::string_view, 6> kOrgs = {"Acme Corp", "Smith & Sons", "M\xC3\xBCller GmbH",
                                                   "Initech", "Gringotts <Bank>", "Hooli"};
constexpr std::array<std::string_view, 5> kCities = {"Berlin;BE;10115;Germany",
                                                     "M\xC3\xBCnchen;BY;80331;Germany",
                                                     "Paris;;75001;France", "Springfield;IL;62701;USA",
                                                     "Malm\xC3\xB6;;211 22;Sweden"};
constexpr std::array<std::string_view, 5> kTelWords = {"WORK;VOICE", "HOME;VOICE", "CELL",
                                                       "WORK;FAX", "HOME"};

// One vCard 2.1 card in the shape phones and mail programs export: bare type
// words, a quoted-printable note on every fourth card, UTF-8 names, CR LF.
void AppendCard(std::string& out, std::mt19937& random, int i) {
  auto pick = [&](const auto& table) { return table[random() % table.size()]; };
  const std::string given(pick(kGiven)), family(pick(kFamily));
  out += "BEGIN:VCARD\r\nVERSION:2.1\r\n";
  out += "N:" + family + ";" + given + ";;;\r\n";
  out += "FN:" + given + " " + family + "\r\n";
  out += "ORG:" + std::string(pick(kOrgs)) + ";Sales,Support\r\n";
  out += "TITLE:Sales Manager\r\n";
  for (unsigned k = 0, tels = 1 + random() % 3; k < tels; ++k) {
    out += "TEL;" + std::string(pick(kTelWords)) + ":+49 30 " + std::to_string(random() % 90000000) +
           "\r\n";
  }
  out += "EMAIL;PREF;INTERNET:user" + std::to_string(i) + "@example.com\r\n";
  out += "ADR;HOME:;;Hauptstra\xC3\x9F" "e " + std::to_string(1 + random() % 200) + ";" +
         std::string(pick(kCities)) + "\r\n";
  if (i % 4 == 0) {
    out += "NOTE;ENCODING=QUOTED-PRINTABLE:Gr=C3=BC=C3=9Fe an die Familie, n=C3=A4chstes =\r\n"
           "Treffen im Caf=C3=A9 am Marktplatz=3A morgens.=0D=0ADiscount =3D 15%\r\n";
  } else {
    out += "NOTE:Call back after 10:00\r\n";
  }
  out += "CATEGORIES:Business,VIP\r\nBDAY:1970-01-01\r\nURL:http://www.example.org/~u\r\n";
  out += "END:VCARD\r\n";
}

std::string GenerateUpload(int cards) {
  std::mt19937 random(1);  // fixed seed: the same text on every run and machine
  std::string out;
  out.reserve(static_cast<std::size_t>(cards) * 500);
  for (int i = 0; i < cards; ++i) AppendCard(out, random, i);
  return out;
}

int ConvertUpload(const std::string& text) {
  TvCardUploadReader reader(text);
  std::string card_xml;
  int cards = 0;
  while (reader.NextPass(card_xml)) {
    if (!card_xml.empty()) ++cards;
    benchmark::DoNotOptimize(card_xml.data());
  }
  return cards;
}

void BM_ConvertUpload10000Cards(benchmark::State& state) {
  const std::string text = GenerateUpload(10000);
  for (auto _ : state) {
    if (ConvertUpload(text) != 10000) state.SkipWithError("wrong card count");
  }
  state.SetItemsProcessed(state.iterations() * 10000);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ConvertUpload10000Cards)->Unit(benchmark::kMillisecond);

// The upload's cost must grow linearly with its size: fitted to O(N), the
// RMS of the residuals stays at a few percent (a quadratic cost would not fit).
void BM_UploadScaling(benchmark::State& state) {
  const int cards = static_cast<int>(state.range(0));
  const std::string text = GenerateUpload(cards);
  for (auto _ : state) benchmark::DoNotOptimize(ConvertUpload(text));
  state.SetComplexityN(cards);
  state.SetItemsProcessed(state.iterations() * cards);
}
BENCHMARK(BM_UploadScaling)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Arg(64000)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace pelorin

BENCHMARK_MAIN();
