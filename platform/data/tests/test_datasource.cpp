#include <gtest/gtest.h>

#include <memory>

#include "data/datasource.h"
#include "data/dberror.h"
#include "data/memdataset.h"
#include "testdata.h"

namespace fyn {
namespace {

using testing::DefineAccounts;
using Names = std::vector<std::string>;

// Records every notification; the defaults' chaining is cut so each event
// shows once, under its own name.
class TRecordingLink : public TDataLink {
 public:
  Names Take() {
    Names out;
    out.swap(log_);
    return out;
  }
  std::function<void()> on_update_data;

 protected:
  void ActiveChanged() override { log_.push_back(Active() ? "Active" : "Inactive"); }
  void CheckBrowseMode() override { log_.push_back("CheckBrowseMode"); }
  void DataSetChanged() override { log_.push_back("DataSetChanged"); }
  void DataSetScrolled(int distance) override {
    log_.push_back("Scrolled " + std::to_string(distance));
  }
  void EditingChanged() override { log_.push_back(Editing() ? "Editing" : "NotEditing"); }
  void LayoutChanged() override { log_.push_back("LayoutChanged"); }
  void RecordChanged(TField* field) override {
    log_.push_back("RecordChanged " + (field ? field->FieldName() : std::string("*")));
  }
  void UpdateData() override {
    log_.push_back("UpdateData");
    if (on_update_data) on_update_data();
  }

 private:
  Names log_;
};

struct Bound {
  TMemoryDataSet ds;
  TDataSource source{&ds};
  TRecordingLink link;
  Bound() {
    DefineAccounts(ds);
    link.SetDataSource(&source);
  }
};

TEST(DataLink, FollowsTheDatasetThroughItsStates) {
  Bound b;
  EXPECT_FALSE(b.link.Active());
  b.ds.Open();
  EXPECT_EQ(b.link.Take(), (Names{"Active"}));
  b.ds.Next();
  EXPECT_EQ(b.link.Take(), (Names{"CheckBrowseMode", "Scrolled 1"}));
  b.ds.Edit();
  EXPECT_EQ(b.link.Take(), (Names{"CheckBrowseMode", "Editing", "RecordChanged *"}));
  b.ds.FieldByName("_Name").SetAsString("B2");
  EXPECT_EQ(b.link.Take(), (Names{"RecordChanged _Name"}));
  b.ds.Post();
  EXPECT_EQ(b.link.Take(),
            (Names{"UpdateData", "CheckBrowseMode", "NotEditing", "DataSetChanged"}));
  b.ds.Close();
  EXPECT_EQ(b.link.Take(), (Names{"Inactive"}));
}

TEST(DataLink, UpdateDataWritesPendingInputBeforeThePost) {
  Bound b;
  b.ds.Open();
  b.link.on_update_data = [&] { b.ds.FieldByName("_Name").SetAsString("typed"); };
  b.ds.Edit();
  b.ds.CheckBrowseMode();  // the control's input counts as a change
  EXPECT_EQ(b.ds.FieldByName("_Name").AsString(), "typed");
  EXPECT_EQ(b.ds.State(), TDataSetState::Browse);
}

TEST(DataLink, NothingArrivesWhileControlsAreDisabled) {
  Bound b;
  b.ds.Open();
  b.link.Take();
  int data_changes = 0;
  b.source.OnDataChange = [&](TDataSource&, TField*) { ++data_changes; };
  b.ds.DisableControls();
  b.ds.DisableControls();
  for (b.ds.First(); !b.ds.Eof(); b.ds.Next()) {
    b.ds.Edit();
    b.ds.FieldByName("_Flag").SetAsBoolean(true);
    b.ds.Post();
  }
  b.ds.EnableControls();
  EXPECT_TRUE(b.link.Take().empty());
  EXPECT_EQ(data_changes, 0);
  b.ds.EnableControls();
  EXPECT_EQ(b.link.Take(), (Names{"DataSetChanged"}));
  EXPECT_EQ(data_changes, 1);
  b.ds.EnableControls();  // unmatched: harmless
  EXPECT_TRUE(b.link.Take().empty());

  // A state change hidden by the disabling is reported at the end.
  b.ds.DisableControls();
  b.ds.Edit();
  b.ds.EnableControls();
  EXPECT_EQ(b.link.Take(), (Names{"Editing", "DataSetChanged"}));
  b.ds.DisableControls();  // and nothing at all when nothing happened
  b.ds.EnableControls();
  EXPECT_TRUE(b.link.Take().empty());
}

TEST(DataLink, AGridWindowTracksTheActiveRecord) {
  Bound b;
  b.link.SetBufferCount(3);
  b.ds.Open();
  b.link.Take();
  EXPECT_EQ(b.link.RecordCount(), 3);
  struct Step {
    int active;
    const char* scroll;
  } steps[] = {{1, "Scrolled 0"}, {2, "Scrolled 0"}, {2, "Scrolled 1"}, {2, "Scrolled 1"}};
  for (const Step& s : steps) {
    b.ds.Next();
    EXPECT_EQ(b.link.ActiveRecord(), s.active);
    EXPECT_EQ(b.link.Take(), (Names{"CheckBrowseMode", s.scroll}));
  }
  // The window now shows Gamma, delta, Epsilon; a painter reads each row.
  Names shown;
  int saved = b.link.ActiveRecord();
  for (int i = 0; i < b.link.RecordCount(); ++i) {
    b.link.SetActiveRecord(i);
    shown.push_back(b.ds.FieldByName("_Name").AsString());
  }
  b.link.SetActiveRecord(saved);
  EXPECT_EQ(shown, (Names{"Gamma", "delta", "Epsilon"}));
  EXPECT_EQ(b.ds.FieldByName("_Name").AsString(), "Epsilon");
  EXPECT_THROW(b.link.SetActiveRecord(3), EDatabaseError);
  b.ds.First();
  EXPECT_EQ(b.link.ActiveRecord(), 0);
  b.ds.MoveBy(-1);  // already at Bof: no movement, no scroll notice
  b.link.Take();
  b.link.SetBufferCount(10);  // larger than the dataset
  EXPECT_EQ(b.link.RecordCount(), 5);
  b.link.SetBufferCount(2);
  EXPECT_EQ(b.link.RecordCount(), 2);
  EXPECT_EQ(b.ds.FieldByName("_Name").AsString(), "Alpha");
}

TEST(DataLink, TwoWindowsOfDifferentSizesShareTheBuffers) {
  Bound b;
  TRecordingLink edit;  // a single-record control beside the grid
  edit.SetDataSource(&b.source);
  b.link.SetBufferCount(4);
  b.ds.Open();
  b.ds.Last();
  EXPECT_EQ(b.link.ActiveRecord(), 3);
  EXPECT_EQ(edit.ActiveRecord(), 0);
  EXPECT_EQ(edit.RecordCount(), 1);
  b.ds.Prior();
  EXPECT_EQ(b.link.ActiveRecord(), 2);
  EXPECT_EQ(edit.ActiveRecord(), 0);
  EXPECT_EQ(b.ds.FieldByName("_Name").AsString(), "delta");
}

TEST(DataSource, EnabledAndAutoEditGovernTheLinks) {
  Bound b;
  b.ds.Open();
  int state_changes = 0;
  b.source.OnStateChange = [&](TDataSource&) { ++state_changes; };
  b.link.Take();
  b.source.SetEnabled(false);
  EXPECT_FALSE(b.link.Active());
  EXPECT_EQ(b.source.State(), TDataSetState::Inactive);
  b.ds.Next();
  EXPECT_EQ(b.link.Take(), (Names{"Inactive"}));
  b.source.SetEnabled(true);
  EXPECT_EQ(b.link.Take(), (Names{"Active"}));
  b.source.SetAutoEdit(false);
  EXPECT_FALSE(b.link.Edit());
  b.source.SetAutoEdit(true);
  EXPECT_TRUE(b.link.Edit());
  EXPECT_EQ(b.ds.State(), TDataSetState::Edit);
  b.link.SetReadOnly(true);
  EXPECT_FALSE(b.link.Editing());
  EXPECT_EQ(state_changes, 3);
}

TEST(DataLinkLifetime, ALinkOutlivingItsSourceIsDetached) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  ds.Open();
  TRecordingLink link;
  {
    TDataSource source(&ds);
    link.SetBufferCount(3);
    link.SetDataSource(&source);
    EXPECT_TRUE(link.Active());
    link.Take();
  }
  EXPECT_EQ(link.DataSource(), nullptr);
  EXPECT_EQ(link.DataSet(), nullptr);
  EXPECT_FALSE(link.Active());
  EXPECT_EQ(link.Take(), (Names{"Inactive"}));
  ds.Next();  // the dataset no longer knows the source
  ds.Last();
  EXPECT_TRUE(link.Take().empty());
  EXPECT_EQ(link.RecordCount(), 0);
}

TEST(DataLinkLifetime, ASourceOutlivingItsDatasetIsDetached) {
  TDataSource source;
  TRecordingLink link;
  link.SetDataSource(&source);
  {
    TMemoryDataSet ds;
    DefineAccounts(ds);
    source.SetDataSet(&ds);
    ds.Open();
    ds.Edit();
    link.Take();
  }
  EXPECT_EQ(source.DataSet(), nullptr);
  EXPECT_EQ(source.State(), TDataSetState::Inactive);
  EXPECT_EQ(link.Take(), (Names{"Inactive", "NotEditing"}));
  EXPECT_FALSE(link.Edit());
}

TEST(DataLinkLifetime, LinksMayGoAwayInsideANotification) {
  TMemoryDataSet ds;
  DefineAccounts(ds);
  TDataSource source(&ds);
  auto doomed = std::make_unique<TRecordingLink>();
  TRecordingLink survivor;
  doomed->SetDataSource(&source);
  survivor.SetDataSource(&source);
  source.OnStateChange = [&](TDataSource&) { doomed.reset(); };
  ds.Open();
  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(survivor.Take(), (Names{"Active"}));
  source.OnStateChange = nullptr;
  ds.Next();
  EXPECT_EQ(survivor.Take(), (Names{"CheckBrowseMode", "Scrolled 1"}));
}

TEST(DataLinkLifetime, RebindingMovesTheLinkBetweenSources) {
  TMemoryDataSet a, b;
  DefineAccounts(a);
  DefineAccounts(b, false);
  a.Open();
  b.Open();
  TDataSource sa(&a), sb(&b);
  TRecordingLink link;
  link.SetDataSource(&sa);
  EXPECT_EQ(link.Take(), (Names{"Active"}));
  sa.SetDataSet(&b);  // the source switches datasets: both open, no activity change
  EXPECT_TRUE(link.Take().empty());
  EXPECT_EQ(link.DataSet(), &b);
  link.SetDataSource(&sb);
  a.Next();
  b.Append();
  EXPECT_EQ(link.Take(), (Names{"CheckBrowseMode", "Editing", "DataSetChanged"}));
}

}  // namespace
}  // namespace fyn
