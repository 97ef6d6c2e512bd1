// The abstract dataset: a row-at-a-time view of some storage with states,
// field objects, a window of record buffers, navigation, editing with events,
// filters, locate, bookmarks and the notification of data sources. Storage
// classes (the engine's tables and queries, TMemoryDataSet) implement the
// protected "internal" operations; everything else lives here.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "data/datavalue.h"
#include "data/field.h"

namespace fyn {

class TDataSource;

// Inactive: closed. Browse: open, no pending change. Edit, Insert: a pending
// change of the active record. SetKey: key buffers are being written (engine
// tables). CalcFields, Filter: internal, while OnCalcFields or OnFilterRecord
// runs on a fetched buffer.
enum class TDataSetState { Inactive, Browse, Edit, Insert, SetKey, CalcFields, Filter };

// The state's name for messages and traces ("Browse", "Edit", ...).
const char* DataSetStateName(TDataSetState state) noexcept;

// What GetRecord is asked for and what it reports.
enum class TGetMode { Current, Next, Prior };
enum class TGetResult { Ok, Bof, Eof, Error };

// Where a buffered record stands: a stored row, a placeholder before the first
// or after the last row, or a row being inserted.
enum class TBookmarkFlag { Current, Bof, Eof, Inserted };

// A bookmark is the storage's opaque key of a row; empty means "none".
using TBookmark = std::string;

struct TLocateOptions {
  bool case_insensitive = false;
  bool partial_key = false;  // the last key field matches as a text prefix
};

struct TFilterOptions {
  bool case_insensitive = false;
  bool no_partial_compare = false;
};

// What a dataset tells its data sources (and they their links).
enum class TDataEvent {
  FieldChange,      // info: the field
  RecordChange,     // the active record's values changed as a whole
  DataSetChange,    // the buffers were rebuilt
  DataSetScroll,    // the active record moved; distance in `distance`
  LayoutChange,     // fields were added, removed or rebound
  UpdateRecord,     // controls write pending input back (before post)
  UpdateState,      // the state changed
  CheckBrowseMode,  // a control should finish its own pending input
};

// One buffered row: the values of the data fields (in definition order) and
// then of the calculated fields, with the row's bookmark, flag and number.
// Storage classes may derive to keep more per row.
struct TRecordBuffer {
  virtual ~TRecordBuffer() = default;
  std::vector<TVariant> values;
  TBookmark bookmark;
  TBookmarkFlag flag = TBookmarkFlag::Current;
  int rec_no = -1;  // 1-based, -1 when unknown
};

class TDataSet {
 public:
  using TNotifyEvent = std::function<void(TDataSet&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  // Detaches every data source (their links see the dataset go inactive).
  // Storage classes call Close() in their own destructor: the internal
  // operations are gone by the time this one runs.
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // ---- Opening and closing
  // BeforeOpen, open the storage, bind the fields, fetch the first rows,
  // state Browse, AfterOpen, AfterScroll. On failure the dataset stays closed.
  void Open();
  // BeforeClose; a pending insert or edit is dropped (never posted); state
  // Inactive, storage closed, default fields destroyed; AfterClose.
  void Close();
  void SetActive(bool active) { active ? Open() : Close(); }
  bool Active() const { return state_ != TDataSetState::Inactive; }
  TDataSetState State() const { return state_; }

  // ---- Fields
  // The storage's field definitions: filled by the storage at open (an
  // in-memory dataset has them set up by its owner).
  TFieldDefs& FieldDefs() { return field_defs_; }
  const TFieldDefs& FieldDefs() const { return field_defs_; }
  // Adds a persistent field to a closed dataset and returns it; bound to its
  // definition by name at open. The dataset owns it.
  TField& AddField(std::unique_ptr<TField> field);
  TField& AddField(const std::string& name, TFieldType type, int size = 0,
                   TFieldKind kind = TFieldKind::Data);
  // Destroys every persistent field of a closed dataset.
  void ClearFields();
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int index) const { return *fields_.at(index); }
  // The field named `name` ignoring case; nullptr / "Field 'X' not found".
  TField* FindField(const std::string& name) const;
  TField& FieldByName(const std::string& name) const;

  // ---- Navigation
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // True when open with no record (and no record being inserted).
  bool IsEmpty() const;
  // Each first ends a pending change (CheckBrowseMode) and fires BeforeScroll
  // and AfterScroll. First and Last set Bof / Eof.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves up to `distance` records (negative: backwards); returns the
  // distance moved. Stopping early sets Eof (forwards) or Bof (backwards).
  int MoveBy(int distance);
  // Rows visible through the filter, as the storage counts them.
  int RecordCount() const;
  // The active record's 1-based number, or -1 when unknown or empty.
  int RecNo() const;
  // Makes record `rec_no` (1-based) active.
  void SetRecNo(int rec_no);
  // Re-reads the rows around the active record from the storage.
  void Refresh();

  // ---- Editing
  // Browse -> Edit (BeforeEdit, AfterEdit); an empty dataset inserts instead.
  void Edit();
  // Browse -> Insert of a new record before the active one (BeforeInsert,
  // BeforeScroll, OnNewRecord, AfterInsert, AfterScroll).
  void Insert();
  // As Insert, but the new record goes after the last row.
  void Append();
  // UpdateRecord, BeforePost, required-field check and storage post, state
  // Browse with the posted row active, AfterPost. Raises when not editing.
  void Post();
  // Drops the pending change (BeforeCancel, AfterCancel); no-op in Browse.
  void Cancel();
  // Deletes the active row (BeforeDelete, BeforeScroll, AfterDelete,
  // AfterScroll); during an insert it cancels instead.
  void Delete();
  // Ends a pending change: posted when a field was changed, else cancelled.
  void CheckBrowseMode();
  // Asks the links to write pending control input into the fields.
  void UpdateRecord();
  // A field of the pending record was written since Edit/Insert.
  bool Modified() const { return modified_; }
  // False when the storage refuses changes (read-only); Edit, Insert, Append
  // and Delete then raise "Cannot modify a read-only dataset".
  virtual bool CanModify() const { return true; }

  // ---- Filters
  // Changing any of these on an open dataset first ends a pending change,
  // then re-applies the filter and goes to the first row.
  const std::string& Filter() const { return filter_text_; }
  void SetFilter(const std::string& text);
  bool Filtered() const { return filtered_; }
  void SetFiltered(bool value);
  const TFilterOptions& FilterOptions() const { return filter_options_; }
  void SetFilterOptions(const TFilterOptions& options);
  // Called for each row while Filtered is on; clearing `accept` hides it. An
  // exception in it goes to the exception handler and the row is accepted.
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  void SetOnFilterRecord(TFilterRecordEvent handler);

  // ---- Searching
  // Makes the first row whose fields (names separated by ';') equal `values`
  // active; false (position kept) when there is none.
  bool Locate(const std::string& key_fields, const std::vector<TVariant>& values,
              TLocateOptions options = {});
  // The values of `result_fields` in the row Locate would find, without
  // moving; empty when there is none.
  std::vector<TVariant> Lookup(const std::string& key_fields, const std::vector<TVariant>& values,
                               const std::string& result_fields);
  // Move to the first/last/next/prior row the filter accepts, whether or not
  // Filtered is on; false (position kept) when there is none.
  bool FindFirst() { return FindRecord(true, true); }
  bool FindLast() { return FindRecord(true, false); }
  bool FindNext() { return FindRecord(false, true); }
  bool FindPrior() { return FindRecord(false, false); }
  // The result of the last Find call.
  bool Found() const { return found_; }

  // ---- Bookmarks
  // The active row's bookmark; empty when there is none.
  TBookmark GetBookmark() const;
  // Makes the bookmarked row active; raises "Record not found" when it is gone.
  void GotoBookmark(const TBookmark& bookmark);
  // <0, 0, >0 by the rows' order; an empty bookmark sorts first.
  virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b) const = 0;
  // True when the bookmark names a row that still exists.
  virtual bool BookmarkValid(const TBookmark& bookmark) const = 0;

  // ---- Controls
  // Holds every notification to data sources and links until the matching
  // EnableControls, which then tells them what changed meanwhile. Nests.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // ---- Events, called in the documented order; an exception from a Before
  // event aborts the operation and reaches the caller.
  TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  // Fills defaults of a new record (in Insert state; changes are not
  // counted as modifications).
  TNotifyEvent OnNewRecord;
  // Computes the calculated fields of a fetched record (CalcFields state).
  TNotifyEvent OnCalcFields;

  // Receives exceptions that the framework absorbs (from OnFilterRecord);
  // none installed means they are dropped.
  static void SetExceptionHandler(std::function<void(const std::exception&)> handler);

 protected:
  // ---- The internal operations a storage class implements
  // Opens the storage and fills FieldDefs(); raises on failure.
  virtual void InternalOpen() = 0;
  // Releases the storage; must not raise.
  virtual void InternalClose() noexcept = 0;
  // Positions the cursor before the first / after the last row.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Reads the current row, or steps to the next/prior visible row and reads
  // it, into `buffer` (data slots, bookmark, flag Current, rec_no). Reports
  // Bof/Eof at the ends; never raises (Error for a failed read).
  virtual TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode) = 0;
  // Positions the cursor on the bookmarked row; raises when it is gone.
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  // Positions the cursor on the row of `buffer` (default: its bookmark).
  virtual void InternalSetToRecord(const TRecordBuffer& buffer);
  // Gives a new record its defaults (default: all null).
  virtual void InternalInitRecord(TRecordBuffer& buffer);
  // Called by Edit with the cursor on the active row: lock and re-read it
  // into `buffer` (default: nothing).
  virtual void InternalEdit(TRecordBuffer& buffer);
  // Checks required fields; storage classes then store `buffer` (an insert
  // when State() is Insert, where buffer.flag Eof means append, else an
  // update of the cursor's row) and leave the cursor on the stored row.
  virtual void InternalPost(TRecordBuffer& buffer);
  // Deletes the cursor's row, leaving the cursor on the row after it.
  virtual void InternalDelete() = 0;
  // Releases what Edit took (default: nothing).
  virtual void InternalCancel() {}
  // Re-reads the storage (default: nothing).
  virtual void InternalRefresh() {}
  // Rows visible through the filter.
  virtual int GetRecordCount() const = 0;
  // Makes the row `rec_no` (1-based) current; false when there is none
  // (default: counts rows from the first).
  virtual bool InternalSetRecNo(int rec_no);
  // Finds the first row matching and reads it into `buffer`; with
  // `sync_cursor` the cursor is left there. The default scans with GetRecord.
  virtual bool LocateRecord(const std::vector<TField*>& key_fields,
                            const std::vector<TVariant>& values, TLocateOptions options,
                            bool sync_cursor, TRecordBuffer& buffer);
  // The filter text, Filtered, options or callback changed on an open
  // dataset, or it is opening: the storage takes up the new filter.
  virtual void ApplyFilter() {}
  // A new, empty buffer; storage classes may return a derived type.
  virtual std::unique_ptr<TRecordBuffer> AllocRecordBuffer() const;
  // The text of the "not in edit or insert mode" error.
  virtual std::string NotEditingMessage() const;

  // ---- Helpers for storage classes
  // True when rows must pass the filter (Filtered, or a Find in progress).
  bool FilterActive() const { return filtered_ || find_filtering_; }
  // Runs OnFilterRecord on `buffer` in Filter state; true when accepted or
  // when there is no callback.
  bool FilterRecord(TRecordBuffer& buffer);
  // Whether `buffer` holds `values` (already converted to the key fields'
  // types) in `key_fields`, by the rules of Locate.
  static bool RecordMatches(const TRecordBuffer& buffer, const std::vector<TField*>& key_fields,
                            const std::vector<TVariant>& values, TLocateOptions options);
  // The number of value slots of a buffer (data then calculated fields).
  int SlotCount() const { return slot_count_; }
  // The value of `field` in `buffer`.
  static const TVariant& SlotValue(const TRecordBuffer& buffer, const TField& field);
  // The record being shown or edited; nullptr when there is none.
  TRecordBuffer* ActiveBuffer() const;
  // Forgets where the cursor is, so the next operation repositions it.
  void CursorPosChanged() { current_record_ = -1; }
  // Raises unless the dataset is open.
  void CheckActive() const;
  void CheckInactive() const;
  // Storage-class field writes (key buffers, internal states) go through here.
  virtual void SetFieldData(TField& field, const TVariant& value);

 private:
  friend class TField;
  friend class TDataSource;
  friend class TDataLink;

  void SetState(TDataSetState state);
  void DataEvent(TDataEvent event, TField* field = nullptr, int distance = 0);
  void BindFields();
  void UnbindFields() noexcept;
  void CloseCursor() noexcept;
  void AllocateBuffers(int count);
  void UpdateBufferCount();
  void ClearBuffers();
  void ActivateBuffers();
  void MoveBuffer(int from, int to);
  void SetCurrentRecord(int index);
  void UpdateCursorPos();
  TGetResult Fetch(TRecordBuffer& buffer, TGetMode mode);
  bool GetNextRecord();
  bool GetPriorRecord();
  void GetNextRecords();
  void GetPriorRecords();
  void Resync(bool exact, bool center);
  void CalculateFields(TRecordBuffer& buffer);
  void CheckCanModify() const;
  void CheckRequiredFields();
  void BeginInsertAppend();
  void EndInsertAppend();
  void FilterSettingsChanged();
  bool FindRecord(bool restart, bool forward);
  std::vector<TField*> FieldList(const std::string& names) const;
  TRecordBuffer* CurrentBuffer() const;
  static void Fire(const TNotifyEvent& event, TDataSet& self) {
    if (event) event(self);
  }

  TDataSetState state_ = TDataSetState::Inactive;
  TFieldDefs field_defs_;
  std::vector<std::unique_ptr<TField>> fields_;
  int slot_count_ = 0;

  // The buffer window: buffers_[0 .. record_count_) hold consecutive rows,
  // buffers_[buffer_count_] is the spare a fetch goes into.
  std::vector<std::unique_ptr<TRecordBuffer>> buffers_;
  int buffer_count_ = 0;
  int record_count_ = 0;
  int active_record_ = 0;
  int current_record_ = -1;                     // buffer the cursor is on; -1 unknown
  std::unique_ptr<TRecordBuffer> work_buffer_;  // locate, lookup, find
  TRecordBuffer* internal_buffer_ = nullptr;    // the buffer of CalcFields/Filter state
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;

  std::string filter_text_;
  bool filtered_ = false;
  bool find_filtering_ = false;
  TFilterOptions filter_options_;
  TFilterRecordEvent on_filter_record_;

  std::vector<TDataSource*> sources_;
  int disable_count_ = 0;
  TDataSetState disabled_state_ = TDataSetState::Inactive;
  bool held_change_ = false;
  bool held_layout_ = false;
};

}  // namespace fyn
