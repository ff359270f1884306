#include "vcard/record_params.h"

#include <algorithm>
#include <vector>

namespace pelorin {

TContentParam ParamOfElement(const TRecordElement& param) {
  TContentParam out;
  out.Name = ChildText(param, "NAME");
  for (const TRecordElement& child : param.Children) {
    if (child.Name == "VALUE") out.Values.push_back(child.Text);
  }
  return out;
}

namespace {

bool IsPrefWord(const std::string& value) { return value == "PREF" || value == "pref"; }

}  // namespace

void MergeParams(TContentLine& line, const TRecordElement& params) {
  if (const TRecordElement* group = FindChild(params, "GROUP")) line.Group = group->Text;
  std::vector<TContentParam> kept;
  for (const TRecordElement& child : params.Children) {
    if (child.Name == "PARAM") kept.push_back(ParamOfElement(child));
  }
  // The reader makes PREF=n both a PREF marker and a kept PREF parameter. Then
  // the marker is not written as a TYPE value: PREF=n stands where the marker
  // stood among the types, and where the parameter stood among the others, so
  // that reading the line back gives both orders again.
  const auto pref_param = std::find_if(kept.begin(), kept.end(), [](const TContentParam& p) { return p.Name == "PREF"; });
  const auto type = std::find_if(line.Params.begin(), line.Params.end(), [](const TContentParam& p) {
    return p.Name == "TYPE" && std::any_of(p.Values.begin(), p.Values.end(), IsPrefWord);
  });
  if (pref_param == kept.end() || type == line.Params.end()) {
    line.Params.insert(line.Params.end(), kept.begin(), kept.end());
    return;
  }
  const auto pref_word = std::find_if(type->Values.begin(), type->Values.end(), IsPrefWord);
  TContentParam before{"TYPE", {type->Values.begin(), pref_word}};
  TContentParam after{"TYPE", {pref_word + 1, type->Values.end()}};
  std::vector<TContentParam> merged(line.Params.begin(), type);
  if (!before.Values.empty()) merged.push_back(std::move(before));
  merged.insert(merged.end(), kept.begin(), pref_param + 1);
  if (!after.Values.empty()) merged.push_back(std::move(after));
  merged.insert(merged.end(), type + 1, line.Params.end());
  merged.insert(merged.end(), pref_param + 1, kept.end());
  line.Params = std::move(merged);
}

}  // namespace pelorin
