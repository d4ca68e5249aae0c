// One DSP and one GUI instance of a loaded module, created, described and
// opened the way the host does, with pin edits applied as the host applies
// them.
#ifndef HOST_MODULESESSION_H
#define HOST_MODULESESSION_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "DspHost.h"
#include "GuiHost.h"
#include "ModuleLibrary.h"
#include "PinDescription.h"

class ModuleSession {
 public:
  using Pin = PinDescription;

  // Describes the pins through a DSP instance of the module; false and a
  // one-line `error` if the module gives no instance.
  static bool DescribePins(const ModuleLibrary& library, std::vector<Pin>* pins, std::string* error);

  // Creates and opens both instances; null and a one-line `error` on failure.
  static std::unique_ptr<ModuleSession> Start(const ModuleLibrary& library, GuiHost::Echo echo,
                                              std::string* error);
  ~ModuleSession();
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  const std::vector<Pin>& Pins() const { return m_pins; }
  // The pin with this name, or with this decimal index; -1 if none.
  int32_t FindPin(const std::string& name_or_index) const;
  // The user sets pin `index`: the host stores the value and reports the change.
  void Edit(int32_t index, double value);
  // The pin's value as the host holds it: a float for float pins, else an integer.
  double Value(int32_t index) const;
  bool IsFloat(int32_t index) const;
  // What an integer pin takes of `value`: its whole part, within the range.
  static int32_t Whole(double value);

  DspHost& Dsp() { return m_dsp; }
  GuiHost& Gui() { return m_gui; }

 private:
  ModuleSession(std::vector<Pin> pins, GuiHost::Echo echo);

  std::vector<Pin> m_pins;
  DspHost m_dsp;
  GuiHost m_gui;
};

#endif  // HOST_MODULESESSION_H
