// Decodes Basic credentials and base64; whatever decodes must survive a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "web/basic_auth.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::string EncodeBase64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) encoded += kAlphabet[(v >> shift) & 63];
  }
  if (bytes.size() - i == 1) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    encoded += std::string{kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63]} + "==";
  } else if (bytes.size() - i == 2) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
    encoded += std::string{kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63]} + "=";
  }
  return encoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const pelorin::TAuthorization auth = pelorin::DecodeBasicCredentials(input);
  if (auth.Refused) Require(auth.UserName.empty() && auth.Password.empty());
  Require(auth.UserName.find(':') == std::string::npos);

  const auto decoded = pelorin::DecodeBase64(input);
  if (decoded) {
    Require(decoded->size() <= input.size());
    const auto again = pelorin::DecodeBase64(EncodeBase64(*decoded));
    Require(again && *again == *decoded);
  }
  // Every byte string has an encoding that decodes back to it.
  const auto round_trip = pelorin::DecodeBase64(EncodeBase64(input));
  Require(round_trip && *round_trip == input);
  return 0;
}
