#include "app/kivmisc.h"

#include <gtest/gtest.h>

namespace fyn {
namespace {

TEST(StringBank, CopiesItsItemsAndJoinsWithCrLf) {
  std::vector<std::string> lines = {"a", "", "b\xAC"};
  TkivStringBank bank;
  EXPECT_EQ(bank.Count(), 0);
  EXPECT_EQ(bank.Text(), "");
  bank.SetItems(lines);
  lines[0] = "changed";  // the bank holds its own copy
  EXPECT_EQ(bank.Count(), 3);
  EXPECT_EQ(bank.Items()[0], "a");
  EXPECT_EQ(bank.Text(), "a\r\n\r\nb\xAC\r\n");
}

}  // namespace
}  // namespace fyn
