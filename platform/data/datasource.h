// Data sources connect a dataset to data-aware controls; data links are what
// those controls derive from. Lifetimes: a dataset, source or link may go
// away in any order. A dataset going away detaches its sources (their links
// see the dataset go inactive); a source going away detaches its links; a
// link going away removes itself from its source. No side keeps a dangling
// pointer.
#pragma once

#include <functional>
#include <vector>

#include "data/dataset.h"

namespace fyn {

class TDataLink;

class TDataSource {
 public:
  TDataSource() = default;
  explicit TDataSource(TDataSet* dataset) { SetDataSet(dataset); }
  // Detaches from the dataset and detaches every link.
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  // The dataset shown (nullptr for none); changing it tells the links.
  TDataSet* DataSet() const { return dataset_; }
  void SetDataSet(TDataSet* dataset);
  // A disabled source makes its links inactive.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  // Controls may put the dataset into Edit when the user types.
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool value) { auto_edit_ = value; }
  // The dataset's state, Inactive without an enabled dataset.
  TDataSetState State() const;

  // Called when the dataset's state changes (or the source is rebound).
  std::function<void(TDataSource&)> OnStateChange;
  // Called when the data changes: the field, or nullptr for whole records.
  std::function<void(TDataSource&, TField*)> OnDataChange;
  // Called before a post, when controls write back their input.
  std::function<void(TDataSource&)> OnUpdateData;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, TField* field, int distance);
  void NotifyLinksActive();
  void DetachDataSet();

  TDataSet* dataset_ = nullptr;
  bool enabled_ = true;
  bool auto_edit_ = true;
  std::vector<TDataLink*> links_;
};

// The base of every data-aware control's link. A grid asks for a window of
// BufferCount records; ActiveRecord is the active record's index in it.
class TDataLink {
 public:
  TDataLink() = default;
  // Removes the link from its source.
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return source_; }
  // Attaches to `source` (nullptr detaches); ActiveChanged fires when that
  // changes whether the link is active.
  void SetDataSource(TDataSource* source);
  // The source's dataset, nullptr without a source.
  TDataSet* DataSet() const;
  // Attached to an enabled source whose dataset is open.
  bool Active() const { return active_; }
  // Active, the dataset in Edit or Insert, and the link not read-only.
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);

  // The number of records the control shows (1 for single-record controls);
  // the dataset buffers at least the largest request of its links.
  int BufferCount() const { return buffer_count_; }
  void SetBufferCount(int count);
  // Records available in the link's window (at most BufferCount).
  int RecordCount() const;
  // The active record's index in the window (0 when inactive).
  int ActiveRecord() const;
  // Makes window record `index` the one fields read, for painting; callers
  // restore the previous value afterwards.
  void SetActiveRecord(int index);

  // Puts the dataset into Edit when the source allows it; true when editing.
  bool Edit();
  // Calls UpdateData unless a write-back is already in progress.
  void UpdateRecord();

 protected:
  // Notifications; the defaults chain as data-aware controls expect:
  // DataSetScrolled and LayoutChanged call DataSetChanged, which calls
  // RecordChanged(nullptr).
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int /*distance*/) { DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void LayoutChanged() { DataSetChanged(); }
  // `field` changed, or the whole record when nullptr.
  virtual void RecordChanged(TField* /*field*/) {}
  // Write the control's pending input into the field(s).
  virtual void UpdateData() {}

 private:
  friend class TDataSource;
  friend class TDataSet;

  void DataEvent(TDataEvent event, TField* field, int distance);
  void UpdateState();
  void UpdateRange();
  void Detach();

  TDataSource* source_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
  int buffer_count_ = 1;
  int first_record_ = 0;
};

}  // namespace fyn
