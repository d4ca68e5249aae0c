// The level converter's oracle: for a module with the id "Kalo_GUI-Gainlens"
// and the pins Voltage, Vref and dB, every value it writes must equal the
// conversion computed here, independently, from the float inputs in double
// precision. Other modules skip.
#ifndef VALIDATE_CHECKS_CONVERTERORACLE_H
#define VALIDATE_CHECKS_CONVERTERORACLE_H

#include <vector>

#include "ValidationCheck.h"

class ConverterOracle {
 public:
  static void Add(std::vector<ValidationCheck>* checks);

  // The converter's two results, rounded to float once.
  static float Db(float voltage, float vref);
  static float Voltage(float db, float vref);

 private:
  static CheckResult Run(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_CONVERTERORACLE_H
