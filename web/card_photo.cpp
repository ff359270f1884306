// GET /pelorin/photo?ID=<card ID>[&KIND=LOGO]: the picture a card holds, served
// from the record itself (never from a path), to the card's owner only.
#include <array>
#include <string>
#include <string_view>

#include "service/vcard_main.h"
#include "web/card_request.h"

namespace pelorin {
namespace {

// Only the kinds a browser shows as a picture, so that no stored text can be
// served as a page of this site.
constexpr std::array<std::string_view, 5> kImageTypes = {"image/jpeg", "image/png", "image/gif", "image/webp",
                                                         "image/bmp"};

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

// Base64 of either alphabet, white space skipped, stopping at padding; false on
// any other character.
bool DecodeBase64(std::string_view text, std::string& bytes) {
  bytes.clear();
  bytes.reserve(text.size() / 4 * 3);
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : text) {
    if (c == '=') break;
    if (static_cast<unsigned char>(c) <= 32) continue;
    const int value = Base64Value(c);
    if (value < 0) return false;
    buffer = (buffer << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return true;
}

}  // namespace

void TPelorinService::ServePhotoRow(RequestInfo& req, ResponseInfo& res, const std::string& user) {
  const std::string id = FieldValue(req.FormFields, "ID");
  std::string kind = FieldValue(req.FormFields, "KIND");
  if (kind.empty()) kind = "PHOTO";
  const auto not_found = [&res] {
    res.SetStatus(404);
    res.BodyType = "text/plain";
    res.Body = "No picture.";
  };
  const std::string owner = OwnerNameOf(user);
  if (!IsCardId(id) || (kind != "PHOTO" && kind != "LOGO") || owner.find('"') != std::string::npos) {
    return not_found();
  }
  TQuickDom& cards = XMLDom.Dom();
  // The ID is digits only and the owner a signed-in name without quotes, so
  // neither can change the query; only the owner's own card is looked at.
  const std::string card = "/*/vCard[ID=\"" + id + "\"][OWNER=\"" + owner + "\"][1]/" + kind;
  if (!cards.SelectNode(card + "/BINVAL")) return not_found();
  const std::string data = cards.GetText();
  std::string type;
  if (cards.SelectNode(card + "/TYPE")) type = cards.GetText();
  bool known = false;
  for (const std::string_view image : kImageTypes) known = known || type == image;
  std::string bytes;
  if (!known || !DecodeBase64(data, bytes)) return not_found();
  res.BodyType = type;
  res.Body = std::move(bytes);
}

}  // namespace pelorin
