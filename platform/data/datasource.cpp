#include "data/datasource.h"

#include <algorithm>

#include "data/dberror.h"

namespace fyn {

namespace {

template <typename T>
bool Contains(const std::vector<T*>& list, const T* item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

template <typename T>
void Erase(std::vector<T*>& list, const T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

// ---- TDataSource

TDataSource::~TDataSource() {
  OnStateChange = nullptr;
  OnDataChange = nullptr;
  OnUpdateData = nullptr;
  std::vector<TDataLink*> links = links_;
  links_.clear();
  for (TDataLink* link : links) link->Detach();
  if (dataset_) {
    TDataSet* dataset = dataset_;
    dataset_ = nullptr;
    Erase(dataset->sources_, this);
    dataset->UpdateBufferCount();
  }
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  TDataSet* old = dataset_;
  if (old) Erase(old->sources_, this);
  dataset_ = dataset;
  if (dataset_) dataset_->sources_.push_back(this);
  if (old) old->UpdateBufferCount();
  if (dataset_) dataset_->UpdateBufferCount();
  NotifyLinksActive();
}

void TDataSource::DetachDataSet() {
  dataset_ = nullptr;
  NotifyLinksActive();
}

void TDataSource::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  NotifyLinksActive();
}

TDataSetState TDataSource::State() const {
  return dataset_ && enabled_ ? dataset_->State() : TDataSetState::Inactive;
}

void TDataSource::NotifyLinksActive() {
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (Contains(links_, link)) link->UpdateState();
  }
  if (OnStateChange) OnStateChange(*this);
}

void TDataSource::DataEvent(TDataEvent event, TField* field, int distance) {
  if (!enabled_) return;
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (Contains(links_, link)) link->DataEvent(event, field, distance);
  }
  switch (event) {
    case TDataEvent::UpdateState:
      if (OnStateChange) OnStateChange(*this);
      break;
    case TDataEvent::FieldChange:
      if (OnDataChange) OnDataChange(*this, field);
      break;
    case TDataEvent::RecordChange:
    case TDataEvent::DataSetChange:
    case TDataEvent::DataSetScroll:
    case TDataEvent::LayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    case TDataEvent::UpdateRecord:
      if (OnUpdateData) OnUpdateData(*this);
      break;
    case TDataEvent::CheckBrowseMode:
      break;
  }
}

// ---- TDataLink

TDataLink::~TDataLink() {
  if (!source_) return;
  TDataSource* source = source_;
  source_ = nullptr;
  Erase(source->links_, this);
  if (source->dataset_) source->dataset_->UpdateBufferCount();
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == source_) return;
  TDataSet* old_dataset = DataSet();
  if (source_) Erase(source_->links_, this);
  source_ = source;
  if (source_) source_->links_.push_back(this);
  if (old_dataset) old_dataset->UpdateBufferCount();
  if (TDataSet* dataset = DataSet()) dataset->UpdateBufferCount();
  UpdateState();
}

void TDataLink::Detach() {
  source_ = nullptr;
  UpdateState();
}

TDataSet* TDataLink::DataSet() const { return source_ ? source_->dataset_ : nullptr; }

void TDataLink::SetReadOnly(bool value) {
  if (value == read_only_) return;
  read_only_ = value;
  UpdateState();
}

void TDataLink::UpdateState() {
  TDataSet* dataset = DataSet();
  bool active = dataset && source_->enabled_ && dataset->Active();
  if (active != active_) {
    active_ = active;
    first_record_ = 0;
    if (active_) UpdateRange();
    ActiveChanged();
  }
  TDataSetState state = active_ ? dataset->State() : TDataSetState::Inactive;
  bool editing =
      active_ && !read_only_ && (state == TDataSetState::Edit || state == TDataSetState::Insert);
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::UpdateRange() {
  TDataSet* dataset = DataSet();
  if (!active_ || !dataset) {
    first_record_ = 0;
    return;
  }
  int count = dataset->record_count_;
  int active = dataset->active_record_;
  // Keep the window full where the buffers allow, and the active record in it.
  if (first_record_ + buffer_count_ > count) first_record_ = std::max(0, count - buffer_count_);
  if (first_record_ > active) first_record_ = active;
  if (first_record_ < active - buffer_count_ + 1) first_record_ = active - buffer_count_ + 1;
  if (first_record_ < 0) first_record_ = 0;
}

void TDataLink::SetBufferCount(int count) {
  if (count < 1) count = 1;
  if (count == buffer_count_) return;
  buffer_count_ = count;
  if (TDataSet* dataset = DataSet()) dataset->UpdateBufferCount();
  UpdateRange();
}

int TDataLink::RecordCount() const {
  TDataSet* dataset = DataSet();
  if (!active_ || !dataset) return 0;
  return std::clamp(dataset->record_count_ - first_record_, 0, buffer_count_);
}

int TDataLink::ActiveRecord() const {
  TDataSet* dataset = DataSet();
  if (!active_ || !dataset) return 0;
  return std::clamp(dataset->active_record_ - first_record_, 0, buffer_count_ - 1);
}

void TDataLink::SetActiveRecord(int index) {
  TDataSet* dataset = DataSet();
  if (!active_ || !dataset) return;
  if (index < 0 || index >= RecordCount()) {
    throw EDatabaseError("Record index " + std::to_string(index) + " is out of range");
  }
  dataset->active_record_ = first_record_ + index;
}

bool TDataLink::Edit() {
  TDataSet* dataset = DataSet();
  if (active_ && !read_only_ && source_->auto_edit_ && dataset->State() == TDataSetState::Browse) {
    dataset->Edit();
  }
  return editing_;
}

void TDataLink::UpdateRecord() {
  if (updating_) return;
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, TField* field, int distance) {
  if (event == TDataEvent::UpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case TDataEvent::FieldChange:
      RecordChanged(field);
      break;
    case TDataEvent::RecordChange:
      RecordChanged(nullptr);
      break;
    case TDataEvent::DataSetChange:
      UpdateRange();
      DataSetChanged();
      break;
    case TDataEvent::DataSetScroll: {
      int shifted = first_record_ + distance;
      first_record_ = shifted;
      UpdateRange();
      DataSetScrolled(first_record_ - shifted);
      break;
    }
    case TDataEvent::LayoutChange:
      UpdateRange();
      LayoutChanged();
      break;
    case TDataEvent::UpdateRecord:
      UpdateRecord();
      break;
    case TDataEvent::CheckBrowseMode:
      CheckBrowseMode();
      break;
    case TDataEvent::UpdateState:
      break;
  }
}

}  // namespace fyn
