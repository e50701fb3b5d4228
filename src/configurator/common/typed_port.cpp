// A port name typed into cbPort: Read reads it only when it is a listed port, but never
// ignores it in silence; a typed port that a write opened joins the list.
#include "configurator/form_pzrq480.h"

#include "configurator/printable.h"
#include "winapi/ascii_case.h"

#include <algorithm>

namespace configurator {

namespace {

// The index of the item `name` names, in any letter case; -1 for none.
int IndexIgnoringCase(const std::vector<std::string>& items, const std::string& name) {
  const auto it = std::find_if(items.begin(), items.end(), [&](const std::string& item) {
    return winapi::EqualsIgnoringAsciiCase(item, name);
  });
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

}  // namespace

bool TFormPZRQ480::SelectTypedPort() {
  if (cbPort.ItemIndex() >= 0) return true;
  const int index = IndexIgnoringCase(cbPort.Items(), cbPort.Text());
  if (index >= 0) cbPort.SetItemIndex(index);
  return index >= 0;
}

std::string TFormPZRQ480::UnlistedPortText() const {
  const std::string name = Printable(cbPort.Text());
  return name +
         " is not in the port list, so Read settings does not read it. Pick a port of "
         "the list, or write the settings to " +
         name + " with Write settings; after that it is in the list.";
}

void TFormPZRQ480::ListWrittenPort() {
  if (cbPort.ItemIndex() >= 0 || cbPort.Text().empty()) return;
  const std::string name = cbPort.Text();
  writtenPorts_.push_back(name);
  cbPort.Add(name);
  cbPort.SetItemIndex(static_cast<int>(cbPort.Items().size()) - 1);
}

std::vector<std::string> TFormPZRQ480::WithWrittenPorts(std::vector<std::string> names) const {
  for (const std::string& name : writtenPorts_) {
    if (IndexIgnoringCase(names, name) < 0) names.push_back(name);
  }
  return names;
}

}  // namespace configurator
