#include "data/dataset.h"

#include <algorithm>

#include "data/datasource.h"
#include "data/dberror.h"

namespace fyn {

namespace {

constexpr const char* kClosedDataSet = "Cannot perform this operation on a closed dataset";
constexpr const char* kOpenDataSet = "Cannot perform this operation on an open dataset";
constexpr const char* kEmptyDataSet = "Cannot perform this operation on an empty dataset";
constexpr const char* kReadOnlyDataSet = "Cannot modify a read-only dataset";
constexpr const char* kFieldNotFound = "Field '%s' not found";
constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
constexpr const char* kFieldRequired = "Field '%s' must have a value";
constexpr const char* kDuplicateField = "Duplicate field name '%s'";
constexpr const char* kRecordNotFound = "Record not found";
constexpr const char* kNoLocateFields = "No fields specified for locate";
constexpr const char* kNoLookupFields = "No fields specified for lookup";
constexpr const char* kLocateValueCount = "Locate needs one value for each key field";

bool IsEditing(TDataSetState s) { return s == TDataSetState::Edit || s == TDataSetState::Insert; }

bool IsInternalState(TDataSetState s) {
  return s == TDataSetState::SetKey || s == TDataSetState::CalcFields || s == TDataSetState::Filter;
}

bool SameName(const std::string& a, const std::string& b) { return CompareTextNoCase(a, b) == 0; }

// Storage types a field may bind to besides its own.
bool TypesCompatible(TFieldType field, TFieldType def) {
  if (field == def) return true;
  auto integer = [](TFieldType t) { return t == TFieldType::Integer || t == TFieldType::AutoInc; };
  auto text = [](TFieldType t) { return t == TFieldType::String || t == TFieldType::FixedChar; };
  return (integer(field) && integer(def)) || (text(field) && text(def));
}

std::function<void(const std::exception&)>& ExceptionHandler() {
  static std::function<void(const std::exception&)> handler;
  return handler;
}

}  // namespace

const char* DataSetStateName(TDataSetState state) noexcept {
  switch (state) {
    case TDataSetState::Inactive:
      return "Inactive";
    case TDataSetState::Browse:
      return "Browse";
    case TDataSetState::Edit:
      return "Edit";
    case TDataSetState::Insert:
      return "Insert";
    case TDataSetState::SetKey:
      return "SetKey";
    case TDataSetState::CalcFields:
      return "CalcFields";
    case TDataSetState::Filter:
      return "Filter";
  }
  return "?";
}

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  std::vector<TDataSource*> sources = sources_;
  sources_.clear();
  for (TDataSource* source : sources) source->DetachDataSet();
}

void TDataSet::SetExceptionHandler(std::function<void(const std::exception&)> handler) {
  ExceptionHandler() = std::move(handler);
}

// ---- Opening and closing

void TDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen, *this);
  try {
    InternalOpen();
    BindFields();
    AllocateBuffers(buffer_count_ > 0 ? buffer_count_ : 1);
    UpdateBufferCount();
    ApplyFilter();
    ClearBuffers();
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    CloseCursor();
    throw;
  }
  bof_ = true;
  SetState(TDataSetState::Browse);
  Fire(AfterOpen, *this);
  if (!IsEmpty()) Fire(AfterScroll, *this);
}

void TDataSet::Close() {
  if (!Active()) return;
  Fire(BeforeClose, *this);
  if (IsEditing(state_)) InternalCancel();
  SetState(TDataSetState::Inactive);
  CloseCursor();
  Fire(AfterClose, *this);
}

void TDataSet::CloseCursor() noexcept {
  InternalClose();
  UnbindFields();
  buffers_.clear();
  work_buffer_.reset();
  ClearBuffers();
  modified_ = false;
  state_ = TDataSetState::Inactive;
}

void TDataSet::CheckActive() const {
  if (!Active()) throw EDatabaseError(kClosedDataSet);
}

void TDataSet::CheckInactive() const {
  if (Active()) throw EDatabaseError(kOpenDataSet);
}

// ---- Fields

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
  CheckInactive();
  if (!field) throw EDatabaseError("Cannot add a null field");
  if (field->dataset_ != nullptr) {
    DatabaseErrorFmt("Field '%s' already belongs to a dataset", field->FieldName());
  }
  if (FindField(field->FieldName())) DatabaseErrorFmt(kDuplicateField, field->FieldName());
  field->dataset_ = this;
  fields_.push_back(std::move(field));
  return *fields_.back();
}

TField& TDataSet::AddField(const std::string& name, TFieldType type, int size, TFieldKind kind) {
  return AddField(std::make_unique<TField>(name, type, size, kind));
}

void TDataSet::ClearFields() {
  CheckInactive();
  fields_.clear();
}

TField* TDataSet::FindField(const std::string& name) const {
  for (const auto& f : fields_) {
    if (SameName(f->FieldName(), name)) return f.get();
  }
  return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
  TField* f = FindField(name);
  if (!f) DatabaseErrorFmt(kFieldNotFound, name);
  return *f;
}

void TDataSet::BindFields() {
  bool persistent_data = std::any_of(fields_.begin(), fields_.end(),
                                     [](const auto& f) { return f->Kind() == TFieldKind::Data; });
  if (!persistent_data) {
    std::vector<std::unique_ptr<TField>> defaults;
    for (int i = 0; i < field_defs_.Count(); ++i) {
      const TFieldDef& def = field_defs_[i];
      auto f = std::make_unique<TField>(def.name, def.type, def.size);
      f->dataset_ = this;
      f->default_field_ = true;
      defaults.push_back(std::move(f));
    }
    fields_.insert(fields_.begin(), std::make_move_iterator(defaults.begin()),
                   std::make_move_iterator(defaults.end()));
  }
  int calc_slot = field_defs_.Count();
  for (auto& f : fields_) {
    if (f->Kind() == TFieldKind::Calculated) {
      f->slot_ = calc_slot++;
      continue;
    }
    const TFieldDef* def = field_defs_.Find(f->FieldName());
    if (!def) DatabaseErrorFmt(kFieldNotFound, f->FieldName());
    if (!TypesCompatible(f->DataType(), def->type)) {
      throw EDatabaseError("Type mismatch for field '" + f->FieldName() + "', expecting: " +
                           FieldTypeName(f->DataType()) + " actual: " + FieldTypeName(def->type));
    }
    f->field_no_ = def->field_no;
    f->slot_ = def->field_no - 1;
    if (def->read_only) f->read_only_ = true;
    if (def->required) f->required_ = true;
  }
  slot_count_ = calc_slot;
}

void TDataSet::UnbindFields() noexcept {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                               [](const auto& f) { return f->default_field_; }),
                fields_.end());
  for (auto& f : fields_) {
    f->slot_ = -1;
    f->field_no_ = 0;
  }
  slot_count_ = 0;
}

const TVariant& TDataSet::SlotValue(const TRecordBuffer& buffer, const TField& field) {
  static const TVariant kNull;
  if (field.slot_ < 0 || field.slot_ >= static_cast<int>(buffer.values.size())) return kNull;
  return buffer.values[field.slot_];
}

TRecordBuffer* TDataSet::ActiveBuffer() const {
  if (record_count_ == 0 || buffers_.empty()) return nullptr;
  return buffers_[active_record_].get();
}

TRecordBuffer* TDataSet::CurrentBuffer() const {
  switch (state_) {
    case TDataSetState::Inactive:
      return nullptr;
    case TDataSetState::CalcFields:
    case TDataSetState::Filter:
      return internal_buffer_;
    default:
      return ActiveBuffer();
  }
}

std::string TDataSet::NotEditingMessage() const { return "Dataset not in edit or insert mode"; }

void TDataSet::SetFieldData(TField& field, const TVariant& value) {
  CheckActive();
  bool internal = IsInternalState(state_);
  if (field.Kind() == TFieldKind::Calculated ? state_ != TDataSetState::CalcFields
                                             : field.read_only_ && !internal) {
    DatabaseErrorFmt(kFieldReadOnly, field.FieldName());
  }
  if (!internal && !IsEditing(state_)) throw EDatabaseError(NotEditingMessage());
  TVariant converted = field.Convert(value);
  TRecordBuffer* buffer = CurrentBuffer();
  if (!buffer || field.slot_ < 0 || field.slot_ >= static_cast<int>(buffer->values.size())) {
    throw EDatabaseError(kRecordNotFound);
  }
  buffer->values[field.slot_] = std::move(converted);
  if (IsEditing(state_)) {
    modified_ = true;
    DataEvent(TDataEvent::FieldChange, &field);
  }
  if (field.OnChange) field.OnChange(field);
}

// ---- Buffers

std::unique_ptr<TRecordBuffer> TDataSet::AllocRecordBuffer() const {
  return std::make_unique<TRecordBuffer>();
}

void TDataSet::AllocateBuffers(int count) {
  buffers_.clear();
  for (int i = 0; i <= count; ++i) buffers_.push_back(AllocRecordBuffer());
  work_buffer_ = AllocRecordBuffer();
  buffer_count_ = count;
}

void TDataSet::UpdateBufferCount() {
  int wanted = 1;
  for (TDataSource* source : sources_) {
    for (TDataLink* link : source->links_) wanted = std::max(wanted, link->buffer_count_);
  }
  if (!Active() && buffers_.empty()) {
    buffer_count_ = wanted;
    return;
  }
  if (wanted == buffer_count_) return;
  if (wanted > buffer_count_) {
    while (static_cast<int>(buffers_.size()) <= wanted) buffers_.push_back(AllocRecordBuffer());
    buffer_count_ = wanted;
    if (state_ == TDataSetState::Browse && record_count_ > 0) {
      GetNextRecords();
      GetPriorRecords();
    }
  } else {
    int drop = std::max(0, active_record_ - (wanted - 1));
    if (drop > 0) {
      std::rotate(buffers_.begin(), buffers_.begin() + drop, buffers_.begin() + record_count_);
      record_count_ -= drop;
      active_record_ -= drop;
    }
    record_count_ = std::min(record_count_, wanted);
    buffers_.resize(wanted + 1);
    buffer_count_ = wanted;
    CursorPosChanged();
  }
  if (Active()) DataEvent(TDataEvent::DataSetChange);
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto b = buffers_.begin();
  if (from < to) {
    std::rotate(b + from, b + from + 1, b + to + 1);
    if (current_record_ == from) {
      current_record_ = to;
    } else if (current_record_ > from && current_record_ <= to) {
      --current_record_;
    }
  } else {
    std::rotate(b + to, b + from, b + from + 1);
    if (current_record_ == from) {
      current_record_ = to;
    } else if (current_record_ >= to && current_record_ < from) {
      ++current_record_;
    }
  }
}

void TDataSet::InternalSetToRecord(const TRecordBuffer& buffer) {
  switch (buffer.flag) {
    case TBookmarkFlag::Bof:
      InternalFirst();
      break;
    case TBookmarkFlag::Eof:
      InternalLast();
      break;
    default:
      if (!buffer.bookmark.empty()) InternalGotoBookmark(buffer.bookmark);
      break;
  }
}

void TDataSet::SetCurrentRecord(int index) {
  if (current_record_ == index) return;
  InternalSetToRecord(*buffers_[index]);
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

TGetResult TDataSet::Fetch(TRecordBuffer& buffer, TGetMode mode) {
  if (static_cast<int>(buffer.values.size()) != slot_count_) buffer.values.assign(slot_count_, {});
  TGetResult result = GetRecord(buffer, mode);
  if (result == TGetResult::Ok) CalculateFields(buffer);
  return result;
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = TGetMode::Next;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    // An inserted record at the window's end sits before the row the cursor
    // is on, so that row is the next one.
    const TRecordBuffer& active = *buffers_[active_record_];
    if (state_ == TDataSetState::Insert && current_record_ == active_record_ &&
        active.flag == TBookmarkFlag::Inserted && !active.bookmark.empty()) {
      mode = TGetMode::Current;
    }
  }
  if (Fetch(*buffers_[record_count_], mode) != TGetResult::Ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else if (record_count_ < buffer_count_) {
    ++record_count_;
  } else {
    MoveBuffer(0, record_count_);
  }
  current_record_ = record_count_ - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  if (Fetch(*buffers_[record_count_], TGetMode::Prior) != TGetResult::Ok) {
    CursorPosChanged();
    return false;
  }
  if (record_count_ == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(record_count_, 0);
    if (record_count_ < buffer_count_) {
      ++record_count_;
      ++active_record_;
    }
  }
  current_record_ = 0;
  return true;
}

void TDataSet::GetNextRecords() {
  while (record_count_ < buffer_count_ && GetNextRecord()) {
  }
}

void TDataSet::GetPriorRecords() {
  while (record_count_ < buffer_count_ && GetPriorRecord()) {
  }
}

// Rebuilds the window around the cursor's row: `exact` demands that row,
// otherwise its neighbour will do; `center` puts it mid-window.
void TDataSet::Resync(bool exact, bool center) {
  TRecordBuffer& spare = *buffers_[record_count_];
  if (exact) {
    CursorPosChanged();
    if (Fetch(spare, TGetMode::Current) != TGetResult::Ok) throw EDatabaseError(kRecordNotFound);
  } else if (Fetch(spare, TGetMode::Current) != TGetResult::Ok &&
             Fetch(spare, TGetMode::Next) != TGetResult::Ok &&
             Fetch(spare, TGetMode::Prior) != TGetResult::Ok) {
    ClearBuffers();
    DataEvent(TDataEvent::DataSetChange);
    return;
  }
  int before = center ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  while (before > 0 && GetPriorRecord()) --before;
  GetNextRecords();
  GetPriorRecords();
  DataEvent(TDataEvent::DataSetChange);
}

void TDataSet::CalculateFields(TRecordBuffer& buffer) {
  int first_calc = field_defs_.Count();
  for (int i = first_calc; i < static_cast<int>(buffer.values.size()); ++i) buffer.values[i] = {};
  if (!OnCalcFields || first_calc == slot_count_) return;
  TDataSetState saved_state = state_;
  TRecordBuffer* saved_buffer = internal_buffer_;
  state_ = TDataSetState::CalcFields;
  internal_buffer_ = &buffer;
  try {
    OnCalcFields(*this);
  } catch (...) {
    state_ = saved_state;
    internal_buffer_ = saved_buffer;
    throw;
  }
  state_ = saved_state;
  internal_buffer_ = saved_buffer;
}

// ---- Navigation

bool TDataSet::IsEmpty() const { return !Active() || record_count_ == 0; }

void TDataSet::First() {
  CheckBrowseMode();
  Fire(BeforeScroll, *this);
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(TDataEvent::DataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterScroll, *this);
}

void TDataSet::Last() {
  CheckBrowseMode();
  Fire(BeforeScroll, *this);
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(TDataEvent::DataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterScroll, *this);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  Fire(BeforeScroll, *this);
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int shift = 0;  // how far the buffers moved: -1 for each row dropped at the top
    try {
      while (distance > 0) {
        if (active_record_ < record_count_ - 1) {
          ++active_record_;
        } else {
          bool full = record_count_ == buffer_count_;
          if (!GetNextRecord()) {
            eof_ = true;
            break;
          }
          if (full) --shift;
          active_record_ = record_count_ - 1;
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (active_record_ > 0) {
          --active_record_;
        } else {
          if (!GetPriorRecord()) {
            bof_ = true;
            break;
          }
          ++shift;
          active_record_ = 0;
        }
        ++distance;
        --moved;
      }
    } catch (...) {
      DataEvent(TDataEvent::DataSetScroll, nullptr, shift);
      throw;
    }
    DataEvent(TDataEvent::DataSetScroll, nullptr, shift);
    Fire(AfterScroll, *this);
  }
  return moved;
}

int TDataSet::RecordCount() const {
  CheckActive();
  return GetRecordCount();
}

int TDataSet::RecNo() const {
  TRecordBuffer* buffer = ActiveBuffer();
  if (!Active() || !buffer || buffer->flag != TBookmarkFlag::Current) return -1;
  return buffer->rec_no;
}

bool TDataSet::InternalSetRecNo(int rec_no) {
  if (rec_no < 1) return false;
  InternalFirst();
  for (int i = 0; i < rec_no; ++i) {
    if (GetRecord(*work_buffer_, TGetMode::Next) != TGetResult::Ok) return false;
  }
  return true;
}

void TDataSet::SetRecNo(int rec_no) {
  CheckBrowseMode();
  Fire(BeforeScroll, *this);
  if (!InternalSetRecNo(rec_no)) {
    CursorPosChanged();
    return;
  }
  Resync(true, true);
  Fire(AfterScroll, *this);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  InternalRefresh();
  Resync(false, false);
}

// ---- Editing

void TDataSet::CheckCanModify() const {
  if (!CanModify()) throw EDatabaseError(kReadOnlyDataSet);
}

void TDataSet::CheckRequiredFields() {
  for (const auto& f : fields_) {
    if (f->Kind() == TFieldKind::Data && f->Required() && f->DataType() != TFieldType::AutoInc &&
        f->IsNull()) {
      DatabaseErrorFmt(kFieldRequired, f->FieldName());
    }
  }
}

void TDataSet::InternalInitRecord(TRecordBuffer& buffer) { buffer.values.assign(slot_count_, {}); }

void TDataSet::InternalEdit(TRecordBuffer&) {}

void TDataSet::InternalPost(TRecordBuffer&) { CheckRequiredFields(); }

void TDataSet::Edit() {
  if (IsEditing(state_)) return;
  CheckActive();
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeEdit, *this);
  UpdateCursorPos();
  TRecordBuffer& buffer = *ActiveBuffer();
  InternalEdit(buffer);
  CalculateFields(buffer);
  SetState(TDataSetState::Edit);
  DataEvent(TDataEvent::RecordChange);
  Fire(AfterEdit, *this);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  Fire(BeforeInsert, *this);
  Fire(BeforeScroll, *this);
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::Insert);
  try {
    Fire(OnNewRecord, *this);
  } catch (...) {
    InternalCancel();
    SetState(TDataSetState::Browse);
    InternalSetToRecord(*ActiveBuffer());
    Resync(false, false);
    throw;
  }
  modified_ = false;
  DataEvent(TDataEvent::DataSetChange);
  Fire(AfterInsert, *this);
  Fire(AfterScroll, *this);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  UpdateCursorPos();
  TBookmark old_current = record_count_ > 0 ? buffers_[active_record_]->bookmark : TBookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer& buffer = *buffers_[active_record_];
  buffer.values.assign(slot_count_, {});
  InternalInitRecord(buffer);
  buffer.flag = record_count_ == 0 ? TBookmarkFlag::Bof : TBookmarkFlag::Inserted;
  buffer.bookmark = old_current;
  buffer.rec_no = -1;
  if (record_count_ < buffer_count_) ++record_count_;
  bof_ = false;
  eof_ = false;
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer& buffer = *buffers_[0];
  buffer.values.assign(slot_count_, {});
  InternalInitRecord(buffer);
  buffer.flag = TBookmarkFlag::Eof;
  buffer.bookmark.clear();
  buffer.rec_no = -1;
  record_count_ = 1;
  current_record_ = -1;
  GetPriorRecords();
  InternalLast();
  current_record_ = active_record_;
  bof_ = false;
  eof_ = false;
  EndInsertAppend();
}

void TDataSet::UpdateRecord() {
  if (!IsEditing(state_)) throw EDatabaseError(NotEditingMessage());
  DataEvent(TDataEvent::UpdateRecord);
}

void TDataSet::Post() {
  CheckActive();
  UpdateRecord();
  DataEvent(TDataEvent::CheckBrowseMode);
  Fire(BeforePost, *this);
  if (state_ == TDataSetState::Edit) UpdateCursorPos();
  InternalPost(*ActiveBuffer());
  SetState(TDataSetState::Browse);
  Resync(false, false);
  Fire(AfterPost, *this);
}

void TDataSet::Cancel() {
  if (!IsEditing(state_)) return;
  DataEvent(TDataEvent::CheckBrowseMode);
  Fire(BeforeCancel, *this);
  InternalCancel();
  SetState(TDataSetState::Browse);
  InternalSetToRecord(*ActiveBuffer());
  Resync(false, false);
  Fire(AfterCancel, *this);
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == TDataSetState::Insert) {
    Cancel();
    return;
  }
  if (record_count_ == 0) throw EDatabaseError(kEmptyDataSet);
  CheckCanModify();
  DataEvent(TDataEvent::CheckBrowseMode);
  Fire(BeforeDelete, *this);
  Fire(BeforeScroll, *this);
  UpdateCursorPos();
  InternalDelete();
  SetState(TDataSetState::Browse);
  Resync(false, false);
  Fire(AfterDelete, *this);
  Fire(AfterScroll, *this);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::CheckBrowseMode);
  if (IsEditing(state_)) {
    UpdateRecord();
    if (modified_) {
      Post();
    } else {
      Cancel();
    }
  }
}

// ---- Filters

void TDataSet::FilterSettingsChanged() {
  if (!Active()) return;
  ApplyFilter();
  First();
}

void TDataSet::SetFilter(const std::string& text) {
  if (Active()) CheckBrowseMode();
  filter_text_ = text;
  FilterSettingsChanged();
}

void TDataSet::SetFiltered(bool value) {
  if (value == filtered_) return;
  if (Active()) CheckBrowseMode();
  filtered_ = value;
  FilterSettingsChanged();
}

void TDataSet::SetFilterOptions(const TFilterOptions& options) {
  if (Active()) CheckBrowseMode();
  filter_options_ = options;
  FilterSettingsChanged();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active() && filtered_) CheckBrowseMode();
  on_filter_record_ = std::move(handler);
  if (filtered_) FilterSettingsChanged();
}

bool TDataSet::FilterRecord(TRecordBuffer& buffer) {
  if (!on_filter_record_) return true;
  TDataSetState saved_state = state_;
  TRecordBuffer* saved_buffer = internal_buffer_;
  state_ = TDataSetState::Filter;
  internal_buffer_ = &buffer;
  bool accept = true;
  try {
    on_filter_record_(*this, accept);
  } catch (const std::exception& e) {
    accept = true;
    try {
      if (ExceptionHandler()) ExceptionHandler()(e);
    } catch (...) {
    }
  } catch (...) {
    accept = true;
  }
  state_ = saved_state;
  internal_buffer_ = saved_buffer;
  return accept;
}

// ---- Searching

std::vector<TField*> TDataSet::FieldList(const std::string& names) const {
  std::vector<TField*> list;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == std::string::npos) end = names.size();
    std::string name = names.substr(start, end - start);
    size_t a = name.find_first_not_of(' ');
    size_t b = name.find_last_not_of(' ');
    if (a != std::string::npos) list.push_back(&FieldByName(name.substr(a, b - a + 1)));
    start = end + 1;
  }
  return list;
}

bool TDataSet::RecordMatches(const TRecordBuffer& buffer, const std::vector<TField*>& key_fields,
                             const std::vector<TVariant>& values, TLocateOptions options) {
  for (size_t i = 0; i < key_fields.size(); ++i) {
    const TVariant& have = SlotValue(buffer, *key_fields[i]);
    const TVariant& want = values[i];
    if (VarIsNull(have) || VarIsNull(want)) {
      if (VarIsNull(have) != VarIsNull(want)) return false;
      continue;
    }
    const std::string* have_text = std::get_if<std::string>(&have);
    const std::string* want_text = std::get_if<std::string>(&want);
    if (have_text && want_text) {
      std::string_view h = *have_text;
      if (options.partial_key && i + 1 == key_fields.size()) {
        if (h.size() < want_text->size()) return false;
        h = h.substr(0, want_text->size());
      }
      bool same =
          options.case_insensitive ? CompareTextNoCase(h, *want_text) == 0 : h == *want_text;
      if (!same) return false;
    } else if (have != want) {
      return false;
    }
  }
  return true;
}

bool TDataSet::LocateRecord(const std::vector<TField*>& key_fields,
                            const std::vector<TVariant>& values, TLocateOptions options,
                            bool /*sync_cursor*/, TRecordBuffer& buffer) {
  InternalFirst();
  while (Fetch(buffer, TGetMode::Next) == TGetResult::Ok) {
    if (RecordMatches(buffer, key_fields, values, options)) return true;
  }
  return false;
}

bool TDataSet::Locate(const std::string& key_fields, const std::vector<TVariant>& values,
                      TLocateOptions options) {
  CheckBrowseMode();
  std::vector<TField*> fields = FieldList(key_fields);
  if (fields.empty()) throw EDatabaseError(kNoLocateFields);
  if (fields.size() != values.size()) throw EDatabaseError(kLocateValueCount);
  std::vector<TVariant> keys;
  for (size_t i = 0; i < fields.size(); ++i) keys.push_back(fields[i]->Convert(values[i]));
  Fire(BeforeScroll, *this);
  bool found;
  try {
    found = LocateRecord(fields, keys, options, true, *work_buffer_);
  } catch (...) {
    CursorPosChanged();
    throw;
  }
  if (!found) {
    CursorPosChanged();
    return false;
  }
  Resync(true, true);
  Fire(AfterScroll, *this);
  return true;
}

std::vector<TVariant> TDataSet::Lookup(const std::string& key_fields,
                                       const std::vector<TVariant>& values,
                                       const std::string& result_fields) {
  CheckBrowseMode();
  std::vector<TField*> fields = FieldList(key_fields);
  if (fields.empty()) throw EDatabaseError(kNoLocateFields);
  if (fields.size() != values.size()) throw EDatabaseError(kLocateValueCount);
  std::vector<TField*> results = FieldList(result_fields);
  if (results.empty()) throw EDatabaseError(kNoLookupFields);
  std::vector<TVariant> keys;
  for (size_t i = 0; i < fields.size(); ++i) keys.push_back(fields[i]->Convert(values[i]));
  bool found;
  try {
    found = LocateRecord(fields, keys, {}, false, *work_buffer_);
  } catch (...) {
    CursorPosChanged();
    throw;
  }
  CursorPosChanged();
  std::vector<TVariant> out;
  if (!found) return out;
  CalculateFields(*work_buffer_);
  for (TField* f : results) out.push_back(SlotValue(*work_buffer_, *f));
  return out;
}

bool TDataSet::FindRecord(bool restart, bool forward) {
  CheckBrowseMode();
  Fire(BeforeScroll, *this);
  found_ = false;
  UpdateCursorPos();
  bool ok;
  find_filtering_ = true;
  try {
    if (restart) forward ? InternalFirst() : InternalLast();
    ok = GetRecord(*work_buffer_, forward ? TGetMode::Next : TGetMode::Prior) == TGetResult::Ok;
  } catch (...) {
    find_filtering_ = false;
    CursorPosChanged();
    throw;
  }
  find_filtering_ = false;
  if (!ok) {
    CursorPosChanged();
    return false;
  }
  Resync(true, true);
  found_ = true;
  Fire(AfterScroll, *this);
  return true;
}

// ---- Bookmarks

TBookmark TDataSet::GetBookmark() const {
  TRecordBuffer* buffer = ActiveBuffer();
  if (!Active() || !buffer || buffer->flag != TBookmarkFlag::Current) return {};
  return buffer->bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  Fire(BeforeScroll, *this);
  try {
    InternalGotoBookmark(bookmark);
  } catch (...) {
    CursorPosChanged();
    throw;
  }
  Resync(true, true);
  Fire(AfterScroll, *this);
}

// ---- Controls and notification

void TDataSet::DisableControls() {
  if (disable_count_++ == 0) {
    disabled_state_ = state_;
    held_change_ = false;
    held_layout_ = false;
  }
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ > 0) return;
  if (state_ != disabled_state_) DataEvent(TDataEvent::UpdateState);
  if (held_layout_) {
    DataEvent(TDataEvent::LayoutChange);
  } else if (held_change_ && Active()) {
    DataEvent(TDataEvent::DataSetChange);
  }
}

void TDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  modified_ = false;
  DataEvent(TDataEvent::UpdateState);
}

void TDataSet::DataEvent(TDataEvent event, TField* field, int distance) {
  if (disable_count_ > 0) {
    switch (event) {
      case TDataEvent::LayoutChange:
        held_layout_ = true;
        break;
      case TDataEvent::FieldChange:
      case TDataEvent::RecordChange:
      case TDataEvent::DataSetChange:
      case TDataEvent::DataSetScroll:
        held_change_ = true;
        break;
      default:
        break;  // state changes are compared at EnableControls
    }
    return;
  }
  std::vector<TDataSource*> sources = sources_;
  for (TDataSource* source : sources) {
    if (std::find(sources_.begin(), sources_.end(), source) != sources_.end()) {
      source->DataEvent(event, field, distance);
    }
  }
}

}  // namespace fyn
