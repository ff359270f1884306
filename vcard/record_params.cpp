#include "vcard/record_params.h"

namespace pelorin {

TContentParam ParamOfElement(const TRecordElement& param) {
  TContentParam out;
  out.Name = ChildText(param, "NAME");
  for (const TRecordElement& child : param.Children) {
    if (child.Name == "VALUE") out.Values.push_back(child.Text);
  }
  return out;
}

void MergeParams(TContentLine& line, const TRecordElement& params) {
  if (const TRecordElement* group = FindChild(params, "GROUP")) line.Group = group->Text;
  for (const TRecordElement& child : params.Children) {
    if (child.Name == "PARAM") line.Params.push_back(ParamOfElement(child));
  }
}

}  // namespace pelorin
