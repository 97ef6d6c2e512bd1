#include "components/zntcomperror.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "base/zntconsts.h"

namespace znt {
namespace {

EZNTError Convert(void (*raise)()) {
  try {
    raise();
  } catch (...) {
    return CurrentExceptionAsZNTError();
  }
  ADD_FAILURE() << "nothing was raised";
  return EZNTError(std::runtime_error(""));
}

TEST(ComponentError, CopiesEngineExceptionFields) {
  EZNTError e = Convert([] { throw EZNTException(err::Compile, "detail", 3, 9); });
  EXPECT_EQ(e.ErrorCode(), 700);
  EXPECT_EQ(e.ErrorMessage(), "detail");
  EXPECT_EQ(e.Line(), 3);
  EXPECT_EQ(e.Column(), 9);
  EXPECT_STREQ(e.what(), "Zentaro Error #700 detail");
}

TEST(ComponentError, WrapsOtherExceptionsAs9999) {
  EZNTError e = Convert([] { throw std::out_of_range("List index out of bounds (5)"); });
  EXPECT_EQ(e.ErrorCode(), 9999);
  EXPECT_EQ(e.ErrorMessage(), "List index out of bounds (5)");
  EXPECT_STREQ(e.what(), "List index out of bounds (5)");
  EXPECT_EQ(e.Line(), 0);
}

TEST(ComponentError, IsADatabaseErrorAndPassesThroughUnchanged) {
  EZNTError e = Convert([] { throw EZNTError(EZNTException(err::DoesNotExist, "m")); });
  EXPECT_EQ(e.ErrorCode(), 401);
  const fyn::EDatabaseError& base = e;
  EXPECT_STREQ(base.what(), "Zentaro Error #401 m");
}

}  // namespace
}  // namespace znt
