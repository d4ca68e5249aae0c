// Names a parameterised case after the `name` field of its parameter.
#ifndef TESTS_PARAMNAME_H
#define TESTS_PARAMNAME_H

#include <gtest/gtest.h>

#include <string>

struct ParamName {
  template <class T>
  std::string operator()(const ::testing::TestParamInfo<T>& p) const {
    return p.param.name;
  }
};

#endif  // TESTS_PARAMNAME_H
