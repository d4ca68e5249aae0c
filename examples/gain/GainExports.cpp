// The library's two exports: module 0 is the gain.
#include "GainGui.h"
#include "GainModule.h"
#include "QXModuleExports.h"

QX_MODULE_EXPORTS(
    GainModule, GainGui, "Gain",
    "Gain, version 1.0\n\nAn audio gain in decibels, set from the GUI and taken by the DSP side at the "
    "sample of the change.")
