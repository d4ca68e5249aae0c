// The rule one copy of faulty_module.cpp breaks: FAULT_NAME, given by the
// build of that copy (CMakeLists.txt).
extern const char kFaultName[];
const char kFaultName[] = FAULT_NAME;
