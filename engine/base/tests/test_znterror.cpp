#include "base/znterror.h"

#include <gtest/gtest.h>

#include "base/zntconsts.h"

namespace znt {
namespace {

TEST(EngineError, DisplaysCodeAndFilledFormat) {
  try {
    RaiseZNTError(err::DoesNotExist, {"database", "FynDB"});
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 401);
    EXPECT_EQ(e.ErrorMessage(), "The database FynDB does not exist");
    EXPECT_STREQ(e.what(), "Zentaro Error #401 The database FynDB does not exist");
    EXPECT_EQ(e.Line(), 0);
    EXPECT_EQ(e.Column(), 0);
  }
}

TEST(EngineError, FormatsOfTheTable) {
  struct Case {
    int code;
    int variant;
    std::initializer_list<std::string_view> args;
    const char* text;
  };
  const Case cases[] = {
      {100, 0, {"table", "Accounts", "A write operation did not complete and a repair is required"},
       "There is an error in the metadata for the table Accounts (A write operation did not "
       "complete and a repair is required)"},
      {405, 0, {"session", "x"}, "The maximum number of sessions has been reached (x)"},
      {409, 0, {"The configuration path is empty"}, "The configuration path is empty"},
      {600, 0, {"Access denied to the file a.ZNTTbl"}, "File manager error (Access denied to the file a.ZNTTbl)"},
      {700, 0, {"SQL statement", "3", "14", "Expected ) but instead found ,"},
       "An error was found in the SQL statement at line 3 and column 14 (Expected ) but instead found ,)"},
      {1004, 0, {"column", "_Date", "table", "Transactions"},
       "The column _Date in the table Transactions cannot be NULL"},
      {1004, 1, {"constraint", "Value", "table", "Transactions", "x"},
       "The constraint Value for the table Transactions has been violated (x)"},
      {1009, 0, {}, "The cursor is constrained and this row violates the current cursor constraint condition(s)"},
      {1011, 0, {"value", "x", "A scalar query can only return a single value"},
       "An error occurred with the value x (A scalar query can only return a single value)"},
  };
  for (const Case& c : cases) EXPECT_EQ(ZNTErrorText(c.code, c.args, c.variant), c.text) << c.code;
}

TEST(EngineError, PlaceIsKeptForCompileErrors) {
  try {
    RaiseZNTErrorAt(err::Compile, 2, 7, {"SQL statement", "2", "7", "x"});
    FAIL();
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.Line(), 2);
    EXPECT_EQ(e.Column(), 7);
  }
}

TEST(EngineError, CodesAboveTheTableDisplayTextAlone) {
  EXPECT_EQ(EZNTException::DisplayText(9999, "boom"), "Zentaro Error #9999 boom");
  EXPECT_EQ(EZNTException::DisplayText(10000, "user error"), "user error");
  EXPECT_EQ(EZNTException::DisplayText(1011, "m"), "Zentaro Error #1011 m");
}

TEST(EngineError, EveryListedCodeHasAFormat) {
  for (int code : {100, 101, 200, 201, 202, 300, 301, 400, 401, 402, 403, 404, 405, 406, 407, 408,
                   409, 500, 501, 502, 503, 505, 600, 601, 700, 701, 900, 901, 902, 904, 905, 1000,
                   1001, 1002, 1003, 1004, 1005, 1006, 1007, 1008, 1009, 1010, 1011, 1100, 1101,
                   1102, 1107, 1108, 1200, 1201, 1300, 1301, 1302, 1303, 1304, 1305, 1306, 1400,
                   9999})
    EXPECT_NE(ErrorFormat(code), nullptr) << code;
  EXPECT_EQ(ErrorFormat(1004, 2), nullptr);
  EXPECT_EQ(ErrorFormat(123), nullptr);
}

TEST(OperationCodes, Names) {
  EXPECT_EQ(OperationName(op::OpenTable), "Open Table");
  EXPECT_EQ(OperationName(op::Login), "Login to Session");
  EXPECT_EQ(OperationName(214), "Set to Sequence #");
  EXPECT_EQ(OperationName(252), "Free Statement");
  EXPECT_EQ(OperationName(0), "None");
  EXPECT_EQ(OperationName(35), "Unknown");
}

}  // namespace
}  // namespace znt
