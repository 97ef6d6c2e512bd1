#include <gtest/gtest.h>

#include "data/dberror.h"
#include "data/field.h"
#include "data/memdataset.h"
#include "testdata.h"

namespace fyn {
namespace {

TEST(Money, SumsAreExact) {
  TMoney a, b, c;
  ASSERT_TRUE(TMoney::TryParse("0.1", a));
  ASSERT_TRUE(TMoney::TryParse("0.2", b));
  ASSERT_TRUE(TMoney::TryParse("0.3", c));
  EXPECT_EQ((a + b).scaled, 3000);
  EXPECT_EQ(a + b, c);
  TMoney total;
  for (int i = 0; i < 1000; ++i) total = total + a;  // a float sum drifts here
  EXPECT_EQ(total, TMoney::FromUnits(100));
}

TEST(Money, ParsesAndRoundsHalfAwayFromZero) {
  struct Case {
    const char* text;
    bool ok;
    int64_t scaled;
  } cases[] = {
      {"12.34", true, 123400},  {"-0.05", true, -500},    {"+7", true, 70000},
      {".5", true, 5000},       {"1.00005", true, 10001}, {"-1.00005", true, -10001},
      {"1.00004", true, 10000}, {"", false, 0},           {"-", false, 0},
      {"1.2.3", false, 0},      {"1e3", false, 0},        {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    TMoney m{42};
    EXPECT_EQ(TMoney::TryParse(c.text, m), c.ok) << c.text;
    EXPECT_EQ(m.scaled, c.ok ? c.scaled : 42) << c.text;
  }
  EXPECT_EQ(TMoney{26750}.Rounded(2).scaled, 26800);
  EXPECT_EQ(TMoney{-26750}.Rounded(2).scaled, -26800);
  EXPECT_EQ(TMoney{26749}.Rounded(2).scaled, 26700);
  EXPECT_EQ(TMoney{-500}.ToString(2), "-0.05");
  EXPECT_EQ(TMoney{123456}.ToString(2), "12.35");
  EXPECT_EQ(TMoney{120000}.ToString(0), "12");
}

TEST(Dates, DayNumbersFromTheFirstOfJanuaryOfYearOne) {
  EXPECT_EQ(EncodeDate(1, 1, 1), 1);
  EXPECT_EQ(EncodeDate(1, 12, 31), 365);
  EXPECT_EQ(EncodeDate(2, 1, 1), 366);
  for (int32_t day : {1, 59, 60, 146097, 146098, EncodeDate(2000, 2, 29), EncodeDate(2024, 12, 31),
                      EncodeDate(9999, 12, 31)}) {
    int y, m, d;
    DecodeDate(day, y, m, d);
    EXPECT_EQ(EncodeDate(y, m, d), day) << day;
  }
  int32_t out = 5;
  EXPECT_FALSE(TryEncodeDate(1900, 2, 29, out));
  EXPECT_FALSE(TryEncodeDate(2023, 13, 1, out));
  EXPECT_EQ(out, 5);
  EXPECT_EQ(DateToText(EncodeDate(2008, 2, 29)), "2008-02-29");
  TDateTime t;
  ASSERT_TRUE(TryTextToDateTime("2024-03-01 13:05:09.250", t));
  EXPECT_EQ(t.day, EncodeDate(2024, 3, 1));
  EXPECT_EQ(t.msec, ((13 * 60 + 5) * 60 + 9) * 1000 + 250);
  EXPECT_EQ(DateTimeToText(t), "2024-03-01 13:05:09.250");
  EXPECT_FALSE(TryTextToDateTime("2024-02-30", t));
  EXPECT_FALSE(TryTextToDateTime("24:00", t));
}

TEST(Text, CaseIgnoringComparesKnowWindows1252Letters) {
  EXPECT_EQ(CompareTextNoCase("caf\xE9", "CAF\xC9"), 0);
  EXPECT_EQ(CompareTextNoCase("\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F"), 0);
  EXPECT_NE(CompareTextNoCase("\xDF", "SS"), 0);
  EXPECT_LT(CompareTextNoCase("abc", "ABCD"), 0);
  EXPECT_EQ(UpperCase1252("\xF7\xD7"), "\xF7\xD7");  // division and multiplication signs
}

// One open record with a field of each kind, in Edit state.
class FieldValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ds_.FieldDefs().Add("S", TFieldType::String, 5);
    ds_.FieldDefs().Add("I", TFieldType::Integer);
    ds_.FieldDefs().Add("SI", TFieldType::SmallInt);
    ds_.FieldDefs().Add("L", TFieldType::LargeInt);
    ds_.FieldDefs().Add("B", TFieldType::Boolean);
    ds_.FieldDefs().Add("F", TFieldType::Float);
    ds_.FieldDefs().Add("M", TFieldType::Fixed, 2);
    ds_.FieldDefs().Add("D", TFieldType::Date);
    ds_.FieldDefs().Add("T", TFieldType::Time);
    ds_.FieldDefs().Add("DT", TFieldType::DateTime);
    ds_.FieldDefs().Add("MEMO", TFieldType::Memo);
    ds_.AppendRow({});
    ds_.Open();
    ds_.Edit();
  }
  TField& F(const char* name) { return ds_.FieldByName(name); }
  TMemoryDataSet ds_;
};

TEST_F(FieldValues, NullReadsAsEmptyValues) {
  for (int i = 0; i < ds_.FieldCount(); ++i) {
    TField& f = ds_.Fields(i);
    EXPECT_TRUE(f.IsNull()) << f.FieldName();
    EXPECT_EQ(f.AsString(), "") << f.FieldName();
  }
  EXPECT_EQ(F("I").AsInteger(), 0);
  EXPECT_EQ(F("M").AsMoney(), TMoney{});
  EXPECT_FALSE(F("B").AsBoolean());
}

TEST_F(FieldValues, SettersConvertToTheFieldsType) {
  F("S").SetAsString("abcdefgh");
  EXPECT_EQ(F("S").AsString(), "abcde");  // cut to the field's size
  F("I").SetAsString("-12");
  EXPECT_EQ(F("I").AsInteger(), -12);
  F("I").SetAsFloat(2.5);
  EXPECT_EQ(F("I").AsInteger(), 3);
  F("B").SetAsString("t");
  EXPECT_TRUE(F("B").AsBoolean());
  EXPECT_EQ(F("B").AsString(), "True");
  F("F").SetAsMoney(TMoney{12500});
  EXPECT_DOUBLE_EQ(F("F").AsFloat(), 1.25);
  F("M").SetAsString("2.675");
  EXPECT_EQ(F("M").AsMoney().scaled, 26800);  // the field's two places
  EXPECT_EQ(F("M").AsString(), "2.68");
  F("M").SetAsFloat(0.1);
  TMoney sum = F("M").AsMoney();
  F("M").SetAsFloat(0.2);
  EXPECT_EQ(sum + F("M").AsMoney(), TMoney{3000});
  F("M").SetAsInteger(-7);
  EXPECT_EQ(F("M").AsString(), "-7.00");
  F("D").SetAsDateTime(TDateTime{EncodeDate(2024, 5, 6), 1234});
  EXPECT_EQ(F("D").AsDateTime().msec, 0);  // a date has no time of day
  EXPECT_EQ(F("D").AsString(), "2024-05-06");
  F("T").SetAsString("08:30");
  EXPECT_EQ(F("T").AsString(), "08:30:00");
  EXPECT_EQ(F("T").AsDateTime().day, 0);
  F("DT").SetAsString("2001-02-03T04:05:06");
  EXPECT_EQ(F("DT").AsString(), "2001-02-03 04:05:06");
  std::string long_text(1000, 'x');
  F("MEMO").SetAsString(long_text);
  EXPECT_EQ(F("MEMO").AsString(), long_text);
  F("S").Clear();
  EXPECT_TRUE(F("S").IsNull());
  ds_.Post();
  EXPECT_EQ(F("M").AsString(), "-7.00");
  EXPECT_EQ(F("S").Value(), TVariant{});
}

TEST_F(FieldValues, BadValuesAreRefusedWithTheFieldsName) {
  struct Case {
    const char* field;
    TVariant value;
    const char* message;
  } cases[] = {
      {"I", std::string("12a"), "'12a' is not a valid integer value for field 'I'"},
      {"I", int64_t{1} << 31, "Value 2147483648 is out of range for field 'I'"},
      {"SI", int64_t{-32769}, "Value -32769 is out of range for field 'SI'"},
      {"B", std::string("maybe"), "'maybe' is not a valid boolean value for field 'B'"},
      {"F", std::string("1,5"), "'1,5' is not a valid floating point value for field 'F'"},
      {"M", std::string("1e2"), "'1e2' is not a valid money value for field 'M'"},
      {"D", std::string("2023-02-29"),
       "'2023-02-29' is not a valid date and time value for field 'D'"},
      {"D", int64_t{5}, "Field 'D' cannot be read or written as Date"},
  };
  F("I").SetAsInteger(1);
  for (const Case& c : cases) {
    try {
      F(c.field).SetValue(c.value);
      ADD_FAILURE() << c.message;
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  EXPECT_EQ(F("I").AsInteger(), 1);  // a refused value leaves the old one
  F("L").SetAsInteger(int64_t{1} << 40);
  EXPECT_EQ(F("L").AsInteger(), int64_t{1} << 40);
  F("S").SetAsString("xyz");
  EXPECT_THROW(F("S").AsInteger(), EDatabaseError);
  EXPECT_THROW(F("I").AsDateTime(), EDatabaseError);
}

TEST_F(FieldValues, OnChangeFollowsEachWrite) {
  std::vector<std::string> changed;
  F("S").OnChange = [&](TField& f) { changed.push_back(f.AsString()); };
  F("S").SetAsString("a");
  F("S").SetAsString("b");
  EXPECT_EQ(changed, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(ds_.Modified());
}

TEST(FieldDefs, NumberedFromOneAndUniqueByName) {
  TFieldDefs defs;
  defs.Add("A", TFieldType::Integer);
  const TFieldDef& b = defs.Add("B", TFieldType::AutoInc);
  EXPECT_EQ(b.field_no, 2);
  EXPECT_TRUE(b.read_only);
  EXPECT_EQ(defs.Find("a"), &defs[0]);
  EXPECT_THROW(defs.Add("b", TFieldType::String), EDatabaseError);
  EXPECT_THROW(TField("X", TFieldType::Fixed, 5), EDatabaseError);
}

}  // namespace
}  // namespace fyn
