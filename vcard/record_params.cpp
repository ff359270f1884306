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

// A PREF parameter with a number, which the reader also made a PREF marker.
bool IsNumberedPref(const TContentParam& param) { return param.Name == "PREF" && !param.Values.empty(); }

}  // namespace

void MergeParams(TContentLine& line, const TRecordElement& params) {
  if (const TRecordElement* group = FindChild(params, "GROUP")) line.Group = group->Text;
  std::vector<TContentParam> kept;
  for (const TRecordElement& child : params.Children) {
    if (child.Name == "PARAM") kept.push_back(ParamOfElement(child));
  }
  // The reader makes each PREF=n both a PREF marker and a kept PREF parameter.
  // Each numbered PREF therefore stands for one PREF marker, paired in order:
  // it is written where that marker stood among the types, and where the
  // parameter stood among the others, so that reading the line back gives
  // both orders again. Markers beyond the pairs are written as TYPE values.
  const auto type = std::find_if(line.Params.begin(), line.Params.end(), [](const TContentParam& p) {
    return p.Name == "TYPE" && std::any_of(p.Values.begin(), p.Values.end(), IsPrefWord);
  });
  if (type == line.Params.end() || std::none_of(kept.begin(), kept.end(), IsNumberedPref)) {
    line.Params.insert(line.Params.end(), kept.begin(), kept.end());
    return;
  }
  std::vector<TContentParam> merged(line.Params.begin(), type);
  const std::vector<std::string>& words = type->Values;
  auto word = words.begin();
  auto next_kept = kept.begin();
  for (;;) {
    const auto pref_param = std::find_if(next_kept, kept.end(), IsNumberedPref);
    const auto pref_word = std::find_if(word, words.end(), IsPrefWord);
    if (pref_param == kept.end() || pref_word == words.end()) break;
    if (word != pref_word) merged.push_back({"TYPE", {word, pref_word}});
    merged.insert(merged.end(), next_kept, pref_param + 1);
    word = pref_word + 1;
    next_kept = pref_param + 1;
  }
  if (word != words.end()) merged.push_back({"TYPE", {word, words.end()}});
  merged.insert(merged.end(), type + 1, line.Params.end());
  merged.insert(merged.end(), next_kept, kept.end());
  line.Params = std::move(merged);
}

}  // namespace pelorin
