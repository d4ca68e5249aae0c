// Drives the level converter's GUI side through one edit, as the host does,
// and prints the three pins.
#include <cstdio>
#include <cstdlib>

#include "GuiHost.h"
#include "GuiModule.h"

int main(int argc, char** argv) {
  const float vref = argc > 1 ? std::strtof(argv[1], nullptr) : 1.0f;
  const float db = argc > 2 ? std::strtof(argv[2], nullptr) : -6.0f;
  GuiHost host(3);
  host.SetFloat(GuiModule::PIN_VREF, vref);
  auto* module = new GuiModule(&GuiHost::Callback, host.HostData());
  host.Attach(module->GuiStruct());
  host.EditFloat(GuiModule::PIN_DB, db);
  std::printf("Voltage = %.8g\nVref = %.8g\ndB = %.8g\n", host.Float(GuiModule::PIN_VOLTAGE),
              host.Float(GuiModule::PIN_VREF), host.Float(GuiModule::PIN_DB));
  return host.Close() == 1 ? 0 : 1;
}
