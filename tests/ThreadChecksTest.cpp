// The threads check in this process. Built by the tsan preset under
// ThreadSanitizer, where a data race in the harness, the hosts, the framework
// or a module is a report that fails this program: the product and a correct
// framework-free module must pass with none.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "QXHostTool.h"

namespace {

int Validate(const std::string& module, std::string* out) {
  std::ostringstream out_stream, err_stream;
  QXHostTool tool(out_stream, err_stream, false);
  const int code =
      tool.Run({"validate", "--in-process", "--strictness", "3", "--include", "^threads\\.", module});
  *out = out_stream.str() + err_stream.str();
  return code;
}

TEST(ThreadChecks, CorrectModulesGiveOnManyThreadsWhatTheyGiveAlone) {
  for (const std::string& module :
       {std::string(QX_PRODUCT), std::string(QX_TEST_MODULE_DIR) + "/faulty_none.qxm"}) {
    std::string out;
    EXPECT_EQ(Validate(module, &out), 0) << out;
    EXPECT_NE(out.find("pass     threads.instances"), std::string::npos) << out;
  }
}

#if !defined(__SANITIZE_THREAD__)
// Its shared count is a data race too, which ThreadSanitizer would report.
TEST(ThreadChecks, AModuleThatSharesStateAcrossInstancesFails) {
  std::string out;
  EXPECT_EQ(Validate(std::string(QX_TEST_MODULE_DIR) + "/faulty_shared_dsp_state.qxm", &out), 1) << out;
  EXPECT_NE(out.find(" in block 1, on threads of their own, is HOST_OP_PIN_NOTIFY"), std::string::npos)
      << out;
  EXPECT_NE(out.find(" as alone: state shared between instances?"), std::string::npos) << out;
}
#endif

}  // namespace
