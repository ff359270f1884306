// Helpers of the vCard tests: single-card conversion, the line-list upload
// loop the single-pass reader must match, and libxml2 checks of records.
#ifndef PELORIN_TESTS_VCARD_VCARD_TEST_UTIL_H_
#define PELORIN_TESTS_VCARD_VCARD_TEST_UTIL_H_

#include <string>
#include <string_view>
#include <vector>

namespace pelorin::test {

// "BEGIN:VCARD", the body lines, "END:VCARD", each line ending in CR LF.
std::string Card(std::string_view body);
// "<vCard>" inner "</vCard>".
std::string Record(std::string_view inner);
// The record of the first card in `text`.
std::string ConvertFirstCard(std::string_view text);

// The results of every pass of the upload loop that re-splits the remaining
// text into lines and rebuilds it from the lines left after each card.
std::vector<std::string> PassesOfLineLoop(std::string_view raw);
// The same passes through TvCardUploadReader.
std::vector<std::string> PassesOfReader(std::string_view raw);

// Empty when `xml` is one well-formed `vCard` element in valid UTF-8;
// otherwise what is wrong with it.
std::string RecordProblem(const std::string& xml);

std::string ReadFile(const std::string& path);

// The project's own test cards (tests/data/vcards/), with a slash at the end.
std::string TestCardsDir();
// The shared corpus of real files (with a slash at the end) when it is beside
// the checkout, else empty: a clone of the project alone does not have it.
std::string SharedCorpusDir();
// The files of a card folder and its subfolders, each as its path relative to
// `dir`, in name order; README and script files left out.
std::vector<std::string> CardFilesIn(const std::string& dir);

}  // namespace pelorin::test

#endif  // PELORIN_TESTS_VCARD_VCARD_TEST_UTIL_H_
