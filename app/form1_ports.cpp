// The port box lists the machine's serial ports afresh each time it drops down.

#include "app/form1.h"
#include "app/widget_text.h"
#include "app/widgets/combo_box.h"
#include "serial/port_discovery.h"

namespace kv58 {

void TForm1::ComboBoxPortDropDown() {
  std::vector<std::string> names;
  ListSerialPorts(services_.portSource, names);

  const QString typed = ComboBoxPort->currentText(); // stays, even if no longer listed
  ComboBoxPort->clear();
  for (const auto& name : names) {
    ComboBoxPort->addItem(FromBytes(name));
  }
  ComboBoxPort->setEditText(typed);
}

} // namespace kv58
