#include <gtest/gtest.h>

#include "data/dataset.h"
#include "data/datasource.h"
#include "data/dberror.h"
#include "data/memdataset.h"
#include "testdata.h"

namespace fyn {
namespace {

using testing::DefineAccounts;
using testing::NamesBackward;
using testing::NamesForward;
using testing::TEventLog;
using Names = std::vector<std::string>;

#define EXPECT_DB_ERROR(statement, text)          \
  try {                                           \
    statement;                                    \
    ADD_FAILURE() << "no error from " #statement; \
  } catch (const EDatabaseError& e) {             \
    EXPECT_STREQ(e.what(), text);                 \
  }

std::string Name(TDataSet& ds) { return ds.FieldByName("_Name").AsString(); }

// A dataset whose buffer window is `buffers` rows, as a grid would ask.
struct TWindowed {
  TMemoryDataSet ds;
  TDataSource source{&ds};
  TDataLink grid;
  explicit TWindowed(int buffers, bool rows = true) {
    DefineAccounts(ds, rows);
    grid.SetBufferCount(buffers);
    grid.SetDataSource(&source);
  }
};

TEST(DataSetLifecycle, OpenAndCloseFireEventsAndSwitchState) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  TEventLog log(ds);
  EXPECT_EQ(ds.State(), TDataSetState::Inactive);
  ds.Open();
  EXPECT_EQ(log.Take(), (Names{"BeforeOpen", "AfterOpen", "AfterScroll"}));
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  EXPECT_TRUE(ds.Bof());
  EXPECT_FALSE(ds.Eof());
  EXPECT_EQ(Name(ds), "Alpha");
  EXPECT_EQ(ds.FieldCount(), 5);  // default fields from the definitions
  ds.Close();
  EXPECT_EQ(log.Take(), (Names{"BeforeClose", "AfterClose"}));
  EXPECT_EQ(ds.State(), TDataSetState::Inactive);
  EXPECT_EQ(ds.FieldCount(), 0);  // and gone again
}

TEST(DataSetLifecycle, EmptyDatasetOpensWithBofAndEofAndNoScrollEvent) {
  TMemoryDataSet ds;
  DefineAccounts(ds, false);
  TEventLog log(ds);
  ds.Open();
  EXPECT_EQ(log.Take(), (Names{"BeforeOpen", "AfterOpen"}));
  EXPECT_TRUE(ds.Bof() && ds.Eof() && ds.IsEmpty());
  EXPECT_TRUE(ds.FieldByName("_Name").IsNull());
  EXPECT_DB_ERROR(ds.Delete(), "Cannot perform this operation on an empty dataset");
}

TEST(DataSetLifecycle, ClosedDatasetRefusesOperations) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  EXPECT_DB_ERROR(ds.First(), "Cannot perform this operation on a closed dataset");
  EXPECT_DB_ERROR(ds.Edit(), "Cannot perform this operation on a closed dataset");
  EXPECT_DB_ERROR(ds.RecordCount(), "Cannot perform this operation on a closed dataset");
  ds.Open();
  EXPECT_DB_ERROR(ds.AddField("_X", TFieldType::Integer),
                  "Cannot perform this operation on an open dataset");
}

TEST(DataSetLifecycle, FailedBeforeOpenLeavesItClosed) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.BeforeOpen = [](TDataSet&) { throw EDatabaseError("no"); };
  EXPECT_THROW(ds.Open(), EDatabaseError);
  EXPECT_FALSE(ds.Active());
}

// Navigation must see every row once in order whatever the buffer window.
class DataSetWindow : public ::testing::TestWithParam<int> {};

TEST_P(DataSetWindow, NavigatesBothWaysAndReportsEnds) {
  TWindowed w(GetParam());
  TDataSet& ds = w.ds;
  ds.Open();
  EXPECT_EQ(NamesForward(ds), (Names{"Alpha", "beta", "Gamma", "delta", "Epsilon"}));
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(Name(ds), "Epsilon");  // Eof keeps the last row active
  EXPECT_EQ(NamesBackward(ds), (Names{"Epsilon", "delta", "Gamma", "beta", "Alpha"}));
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(ds.MoveBy(3), 3);
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_EQ(ds.RecNo(), 4);
  EXPECT_EQ(ds.MoveBy(5), 1);
  EXPECT_TRUE(ds.Eof());
  EXPECT_EQ(ds.MoveBy(-10), -4);
  EXPECT_TRUE(ds.Bof());
  EXPECT_EQ(Name(ds), "Alpha");
  ds.SetRecNo(3);
  EXPECT_EQ(Name(ds), "Gamma");
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST_P(DataSetWindow, InsertGoesBeforeTheActiveRowAndPostKeepsItActive) {
  TWindowed w(GetParam());
  TDataSet& ds = w.ds;
  ds.Open();
  ds.MoveBy(2);  // Gamma
  ds.Insert();
  EXPECT_EQ(ds.State(), TDataSetState::Insert);
  EXPECT_FALSE(ds.Bof() || ds.Eof());
  EXPECT_TRUE(ds.FieldByName("_Name").IsNull());
  ds.FieldByName("_Name").SetAsString("New");
  ds.Post();
  EXPECT_EQ(Name(ds), "New");
  EXPECT_EQ(ds.FieldByName("_ID").AsInteger(), 6);  // assigned by the storage
  ds.Next();
  EXPECT_EQ(Name(ds), "Gamma");
  EXPECT_EQ(NamesForward(ds), (Names{"Alpha", "beta", "New", "Gamma", "delta", "Epsilon"}));
}

TEST_P(DataSetWindow, AppendGoesAfterTheLastRow) {
  TWindowed w(GetParam());
  TDataSet& ds = w.ds;
  ds.Open();
  ds.Append();
  EXPECT_FALSE(ds.Bof() || ds.Eof());
  ds.FieldByName("_Name").SetAsString("Zeta");
  ds.Post();
  EXPECT_EQ(Name(ds), "Zeta");
  ds.Next();
  EXPECT_TRUE(ds.Eof());
  ds.Prior();
  EXPECT_EQ(Name(ds), "Epsilon");
}

TEST_P(DataSetWindow, CancelRestoresThePositionBeforeTheInsert) {
  TWindowed w(GetParam());
  TDataSet& ds = w.ds;
  ds.Open();
  ds.MoveBy(3);  // delta
  ds.Insert();
  ds.FieldByName("_Name").SetAsString("Gone");
  ds.Cancel();
  EXPECT_EQ(Name(ds), "delta");
  ds.Append();
  ds.Cancel();
  EXPECT_EQ(Name(ds), "Epsilon");
  EXPECT_EQ(ds.RecordCount(), 5);
  ds.First();
  ds.Edit();
  ds.FieldByName("_Name").SetAsString("Changed");
  ds.Cancel();
  EXPECT_EQ(Name(ds), "Alpha");
}

TEST_P(DataSetWindow, DeleteMakesTheNextRowActiveOrThePriorAtTheEnd) {
  TWindowed w(GetParam());
  TDataSet& ds = w.ds;
  ds.Open();
  ds.MoveBy(1);
  ds.Delete();  // beta
  EXPECT_EQ(Name(ds), "Gamma");
  ds.Last();
  ds.Delete();  // Epsilon
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_EQ(NamesForward(ds), (Names{"Alpha", "Gamma", "delta"}));
  while (!ds.IsEmpty()) ds.Delete();
  EXPECT_TRUE(ds.Bof() && ds.Eof());
  ds.Insert();  // into an empty dataset
  ds.Cancel();
  EXPECT_TRUE(ds.IsEmpty());
  ds.Append();
  ds.FieldByName("_Name").SetAsString("Only");
  ds.Post();
  EXPECT_EQ(NamesForward(ds), (Names{"Only"}));
}

INSTANTIATE_TEST_SUITE_P(Buffers, DataSetWindow, ::testing::Values(1, 2, 3, 10));

TEST(DataSetEditing, EventsInOrder) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  TEventLog log(ds);
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::Edit);
  ds.FieldByName("_Name").SetAsString("A2");
  ds.Post();
  EXPECT_EQ(log.Take(), (Names{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}));
  ds.Insert();
  EXPECT_EQ(log.Take(),
            (Names{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}));
  ds.Cancel();
  EXPECT_EQ(log.Take(), (Names{"BeforeCancel", "AfterCancel"}));
  ds.Delete();
  EXPECT_EQ(log.Take(), (Names{"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}));
  ds.Next();
  EXPECT_EQ(log.Take(), (Names{"BeforeScroll", "AfterScroll"}));
  ds.Cancel();  // nothing pending: no events
  EXPECT_TRUE(log.Take().empty());
}

TEST(DataSetEditing, BeforePostCanRefuseAndTheEditStays) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  ds.BeforePost = [](TDataSet& d) {
    if (d.FieldByName("_Name").AsString().empty()) throw EDatabaseError("Name needed");
  };
  ds.Edit();
  ds.FieldByName("_Name").SetAsString("");
  EXPECT_THROW(ds.Post(), EDatabaseError);
  EXPECT_EQ(ds.State(), TDataSetState::Edit);
  ds.FieldByName("_Name").SetAsString("Fine");
  ds.Post();
  EXPECT_EQ(Name(ds), "Fine");
}

TEST(DataSetEditing, CheckBrowseModePostsOnlyModifiedRecords) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  TEventLog log(ds);
  ds.Edit();
  ds.CheckBrowseMode();  // unchanged: cancelled
  EXPECT_EQ(log.Take(), (Names{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));
  ds.Edit();
  ds.FieldByName("_Flag").SetAsBoolean(false);
  ds.CheckBrowseMode();
  EXPECT_EQ(log.Take(), (Names{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}));
  EXPECT_FALSE(ds.FieldByName("_Flag").AsBoolean());

  // Defaults from OnNewRecord are not a change: the new record is dropped.
  ds.OnNewRecord = [](TDataSet& d) { d.FieldByName("_Name").SetAsString("Default"); };
  ds.Insert();
  EXPECT_FALSE(ds.Modified());
  ds.Next();  // navigation runs the browse-mode check
  EXPECT_EQ(ds.RecordCount(), 5);
  ds.Insert();
  ds.FieldByName("_Flag").SetAsBoolean(true);
  ds.Next();
  EXPECT_EQ(ds.RecordCount(), 6);
}

TEST(DataSetEditing, CloseDropsAPendingInsert) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  ds.Append();
  ds.FieldByName("_Name").SetAsString("Lost");
  ds.Close();
  EXPECT_EQ(ds.StoredRowCount(), 5);
}

TEST(DataSetEditing, WritesOutsideEditModeAreRefused) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  EXPECT_DB_ERROR(ds.FieldByName("_Name").SetAsString("x"), "Dataset not in edit or insert mode");
  EXPECT_DB_ERROR(ds.Post(), "Dataset not in edit or insert mode");
  ds.Edit();
  EXPECT_DB_ERROR(ds.FieldByName("_ID").SetAsInteger(9), "Field '_ID' cannot be modified");
  ds.Cancel();
  ds.SetReadOnly(true);
  EXPECT_DB_ERROR(ds.Edit(), "Cannot modify a read-only dataset");
  EXPECT_DB_ERROR(ds.Append(), "Cannot modify a read-only dataset");
  EXPECT_DB_ERROR(ds.Delete(), "Cannot modify a read-only dataset");
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
}

TEST(DataSetEditing, EditOfAnEmptyDatasetInserts) {
  TMemoryDataSet ds;
  DefineAccounts(ds, false);
  ds.Open();
  ds.Edit();
  EXPECT_EQ(ds.State(), TDataSetState::Insert);
}

TEST(DataSetFields, PersistentFieldsBindByNameAndAloneAreVisible) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  TField& name = ds.AddField("_NAME", TFieldType::String, 20);  // names ignore case
  TField& id = ds.AddField("_ID", TFieldType::AutoInc);
  ds.Open();
  EXPECT_EQ(ds.FieldCount(), 2);
  EXPECT_EQ(ds.FindField("_Balance"), nullptr);
  EXPECT_EQ(&ds.FieldByName("_name"), &name);
  EXPECT_EQ(name.FieldNo(), 2);
  EXPECT_EQ(id.AsInteger(), 1);
  EXPECT_TRUE(id.ReadOnly());
  EXPECT_DB_ERROR(ds.FieldByName("_Balance"), "Field '_Balance' not found");
  ds.Close();
  EXPECT_EQ(ds.FieldCount(), 2);  // persistent fields survive a close
  EXPECT_EQ(name.DataSet(), &ds);
}

TEST(DataSetFields, UnboundOrMistypedPersistentFieldsFailTheOpen) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.AddField("_Nope", TFieldType::Integer);
  EXPECT_DB_ERROR(ds.Open(), "Field '_Nope' not found");
  EXPECT_FALSE(ds.Active());
  ds.ClearFields();
  ds.AddField("_Name", TFieldType::Integer);
  EXPECT_DB_ERROR(ds.Open(), "Type mismatch for field '_Name', expecting: Integer actual: String");
  ds.ClearFields();
  ds.AddField("_Name", TFieldType::String, 20);
  EXPECT_DB_ERROR(ds.AddField("_name", TFieldType::String), "Duplicate field name '_name'");
  ds.Open();
  EXPECT_EQ(Name(ds), "Alpha");
}

TEST(DataSetFields, RequiredFieldsBlockThePost) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.AddField("_ID", TFieldType::AutoInc).SetRequired(true);  // the storage fills it
  ds.AddField("_Name", TFieldType::String, 20).SetRequired(true);
  ds.Open();
  ds.Append();
  EXPECT_DB_ERROR(ds.Post(), "Field '_Name' must have a value");
  EXPECT_EQ(ds.State(), TDataSetState::Insert);
  ds.FieldByName("_Name").SetAsString("Named");
  ds.Post();
  EXPECT_EQ(ds.StoredRowCount(), 6);
  ds.Edit();
  ds.FieldByName("_Name").Clear();
  EXPECT_DB_ERROR(ds.Post(), "Field '_Name' must have a value");
}

TEST(DataSetFields, CalculatedFieldsAreComputedPerFetchedRow) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.AddField("_Name", TFieldType::String, 20);
  ds.AddField("_Balance", TFieldType::Fixed, 2);
  TField& upper = ds.AddField("Upper", TFieldType::String, 20, TFieldKind::Calculated);
  ds.OnCalcFields = [](TDataSet& d) {
    EXPECT_EQ(d.State(), TDataSetState::CalcFields);
    d.FieldByName("Upper").SetAsString(UpperCase1252(d.FieldByName("_Name").AsString()));
  };
  ds.Open();
  EXPECT_EQ(upper.AsString(), "ALPHA");
  ds.Next();
  EXPECT_EQ(upper.AsString(), "BETA");
  ds.Edit();
  EXPECT_DB_ERROR(upper.SetAsString("x"), "Field 'Upper' cannot be modified");
  ds.FieldByName("_Name").SetAsString("bravo");
  ds.Post();
  EXPECT_EQ(upper.AsString(), "BRAVO");
  EXPECT_EQ(ds.Lookup("_Balance", {TMoney::FromUnits(30)}, "Upper"),
            (std::vector<TVariant>{std::string("GAMMA")}));
}

TEST(DataSetFilter, CallbackHidesRowsFromNavigationAndCount) {
  TWindowed w(3);
  TDataSet& ds = w.ds;
  ds.Open();
  std::vector<TDataSetState> states;
  ds.SetOnFilterRecord([&](TDataSet& d, bool& accept) {
    states.push_back(d.State());
    accept = d.FieldByName("_Flag").AsBoolean();
  });
  EXPECT_EQ(NamesForward(ds).size(), 5u);  // not filtered yet
  ds.SetFiltered(true);
  EXPECT_EQ(Name(ds), "Alpha");
  EXPECT_EQ(NamesForward(ds), (Names{"Alpha", "Gamma", "Epsilon"}));
  EXPECT_EQ(NamesBackward(ds), (Names{"Epsilon", "Gamma", "Alpha"}));
  EXPECT_EQ(ds.RecordCount(), 3);
  EXPECT_EQ(states.front(), TDataSetState::Filter);
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  // A row edited out of the filter leaves the view on post.
  ds.First();
  ds.Next();  // Gamma
  ds.Edit();
  ds.FieldByName("_Flag").SetAsBoolean(false);
  ds.Post();
  EXPECT_EQ(Name(ds), "Epsilon");
  EXPECT_EQ(ds.RecordCount(), 2);
  ds.SetFiltered(false);
  EXPECT_EQ(ds.RecordCount(), 5);
}

TEST(DataSetFilter, AnExceptionInTheCallbackAcceptsTheRow) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  std::vector<std::string> handled;
  TDataSet::SetExceptionHandler([&](const std::exception& e) { handled.push_back(e.what()); });
  ds.SetOnFilterRecord([](TDataSet& d, bool& accept) {
    if (d.FieldByName("_ID").AsInteger() == 2) throw EDatabaseError("bad row");
    accept = false;
  });
  ds.SetFiltered(true);
  ds.Open();
  EXPECT_EQ(NamesForward(ds), (Names{"beta"}));
  EXPECT_FALSE(handled.empty());
  EXPECT_EQ(handled[0], "bad row");
  TDataSet::SetExceptionHandler(nullptr);
}

TEST(DataSetFilter, FilterTextSelectsByFieldValues) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  ds.SetFilter("_Flag = True AND _Name <> 'Gamma'");
  EXPECT_EQ(NamesForward(ds).size(), 5u);  // the text alone does not filter
  ds.SetFiltered(true);
  EXPECT_EQ(NamesForward(ds), (Names{"Alpha", "Epsilon"}));
  ds.SetFilter("_Name = 'BETA'");
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.SetFilterOptions({.case_insensitive = true});
  EXPECT_EQ(NamesForward(ds), (Names{"beta"}));
  EXPECT_DB_ERROR(ds.SetFilter("_Name"), "Invalid filter expression: _Name");
  EXPECT_DB_ERROR(ds.SetFilter("_Other = 1"), "Field '_Other' not found");
}

TEST(DataSetFilter, EditingIsEndedBeforeTheFilterChanges) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  ds.Edit();
  ds.FieldByName("_Name").SetAsString("Alpha2");
  ds.SetFilter("_Flag = False");
  EXPECT_EQ(ds.State(), TDataSetState::Browse);
  ds.SetFiltered(true);
  ds.SetFiltered(false);
  EXPECT_EQ(Name(ds), "Alpha2");
}

TEST(DataSetSearch, LocateHonoursCaseAndPartialOptions) {
  TWindowed w(3);
  TDataSet& ds = w.ds;
  ds.Open();
  struct Case {
    const char* value;
    TLocateOptions options;
    const char* found;  // nullptr: not found, position kept on Alpha
  } cases[] = {
      {"gamma", {}, nullptr},
      {"gamma", {.case_insensitive = true}, "Gamma"},
      {"Eps", {}, nullptr},
      {"Eps", {.partial_key = true}, "Epsilon"},
      {"DEL", {.case_insensitive = true, .partial_key = true}, "delta"},
      {"deltas", {.partial_key = true}, nullptr},
      {"", {.partial_key = true}, "Alpha"},
  };
  for (const Case& c : cases) {
    ds.First();
    bool found = ds.Locate("_Name", {std::string(c.value)}, c.options);
    EXPECT_EQ(found, c.found != nullptr) << c.value;
    EXPECT_EQ(Name(ds), c.found ? c.found : "Alpha") << c.value;
  }
}

TEST(DataSetSearch, LocateOnSeveralFieldsAndConvertedValues) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  ds.Last();
  EXPECT_TRUE(ds.Locate("_ID", {int64_t{3}}));
  EXPECT_EQ(Name(ds), "Gamma");
  EXPECT_FALSE(ds.Locate("_ID", {int64_t{77}}));
  EXPECT_EQ(Name(ds), "Gamma");
  EXPECT_TRUE(ds.Locate("_Flag; _Balance", {true, std::string("50")}));
  EXPECT_EQ(Name(ds), "Epsilon");
  EXPECT_FALSE(ds.Locate("_Flag;_Balance", {false, 50.0}));
  EXPECT_DB_ERROR(ds.Locate("", {}), "No fields specified for locate");
  EXPECT_DB_ERROR(ds.Locate("_ID;_Name", {int64_t{1}}),
                  "Locate needs one value for each key field");
  EXPECT_DB_ERROR(ds.Locate("_ID", {std::string("x")}),
                  "'x' is not a valid integer value for field '_ID'");
}

TEST(DataSetSearch, LookupReadsAnotherRowWithoutMoving) {
  TWindowed w(2);
  TDataSet& ds = w.ds;
  ds.Open();
  ds.Next();
  TEventLog log(ds);
  std::vector<TVariant> got = ds.Lookup("_ID", {int64_t{4}}, "_Name;_Balance");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(std::get<std::string>(got[0]), "delta");
  EXPECT_EQ(std::get<TMoney>(got[1]), TMoney::FromUnits(40));
  EXPECT_TRUE(ds.Lookup("_ID", {int64_t{99}}, "_Name").empty());
  EXPECT_TRUE(log.Take().empty());
  EXPECT_EQ(Name(ds), "beta");
  ds.Next();  // the cursor is found again after the lookup moved it
  EXPECT_EQ(Name(ds), "Gamma");
}

TEST(DataSetSearch, FindUsesTheFilterWhileFilteredIsOff) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.SetOnFilterRecord(
      [](TDataSet& d, bool& accept) { accept = !d.FieldByName("_Flag").AsBoolean(); });
  ds.Open();
  EXPECT_TRUE(ds.FindFirst());
  EXPECT_EQ(Name(ds), "beta");
  EXPECT_TRUE(ds.FindNext());
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_FALSE(ds.FindNext());
  EXPECT_FALSE(ds.Found());
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_TRUE(ds.FindPrior());
  EXPECT_EQ(Name(ds), "beta");
  EXPECT_TRUE(ds.FindLast());
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_TRUE(ds.Found());
  EXPECT_EQ(NamesForward(ds).size(), 5u);  // the filter is off again
}

TEST(DataSetBookmarks, SurviveInsertsAndDeletesElsewhere) {
  TWindowed w(3);
  TDataSet& ds = w.ds;
  ds.Open();
  ds.MoveBy(3);
  TBookmark delta = ds.GetBookmark();
  ds.Prior();
  TBookmark gamma = ds.GetBookmark();
  ds.First();
  ds.Insert();
  ds.FieldByName("_Name").SetAsString("Before");
  ds.Post();
  EXPECT_TRUE(ds.GetBookmark().size() > 0);
  ds.Locate("_Name", {std::string("beta")});
  ds.Delete();
  ds.GotoBookmark(delta);
  EXPECT_EQ(Name(ds), "delta");
  EXPECT_LT(ds.CompareBookmarks(gamma, delta), 0);
  EXPECT_GT(ds.CompareBookmarks(delta, gamma), 0);
  EXPECT_EQ(ds.CompareBookmarks(delta, ds.GetBookmark()), 0);
  ds.GotoBookmark(gamma);
  ds.Delete();
  EXPECT_FALSE(ds.BookmarkValid(gamma));
  EXPECT_TRUE(ds.BookmarkValid(delta));
  EXPECT_DB_ERROR(ds.GotoBookmark(gamma), "Record not found");
  EXPECT_EQ(Name(ds), "delta");
  ds.Insert();
  EXPECT_TRUE(ds.GetBookmark().empty());  // a record being inserted has none yet
}

}  // namespace
}  // namespace fyn
