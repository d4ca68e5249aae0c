#include "CheckCatalog.h"

#include "CallbackChecks.h"
#include "ConverterOracle.h"
#include "DspChecks.h"
#include "FactoryChecks.h"
#include "GuiChecks.h"
#include "LoadingChecks.h"
#include "RealtimeChecks.h"
#include "ThreadChecks.h"

const std::vector<ValidationCheck>& CheckCatalog::All() {
  static const std::vector<ValidationCheck> checks = [] {
    std::vector<ValidationCheck> all;
    LoadingChecks::Add(&all);
    FactoryChecks::Add(&all);
    DspChecks::Add(&all);
    GuiChecks::Add(&all);
    CallbackChecks::Add(&all);
    RealtimeChecks::Add(&all);
    ConverterOracle::Add(&all);
    ThreadChecks::Add(&all);
    return all;
  }();
  return checks;
}

const ValidationCheck* CheckCatalog::Find(const std::string& name) {
  for (const ValidationCheck& check : All()) {
    if (name == check.name) return &check;
  }
  return nullptr;
}
