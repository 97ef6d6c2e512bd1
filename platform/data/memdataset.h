// A dataset over rows held in memory, in insertion order: the storage the
// framework's own tests and the program's tests run on. Field definitions
// are set up by the owner before Open; rows may be loaded directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/dataset.h"

namespace fyn {

class TMemoryDataSet : public TDataSet {
 public:
  TMemoryDataSet() = default;
  ~TMemoryDataSet() override;

  // Appends a stored row (values in definition order, converted by the
  // definitions' types; missing trailing values are null) without events;
  // an auto-increment value left null is assigned. An open dataset shows it
  // after the next navigation or Refresh.
  void AppendRow(const std::vector<TVariant>& values);
  // Number of stored rows, filtered or not.
  int StoredRowCount() const { return static_cast<int>(rows_.size()); }
  // Removes every stored row of a closed dataset.
  void ClearRows();
  // A read-only dataset refuses Edit, Insert, Append and Delete.
  void SetReadOnly(bool value) { read_only_ = value; }
  bool CanModify() const override { return !read_only_; }

  int CompareBookmarks(const TBookmark& a, const TBookmark& b) const override;
  bool BookmarkValid(const TBookmark& bookmark) const override;

 protected:
  void InternalOpen() override;
  void InternalClose() noexcept override;
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int>(rows_.size()); }
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalPost(TRecordBuffer& buffer) override;
  void InternalDelete() override;
  int GetRecordCount() const override;
  void ApplyFilter() override;

 private:
  struct TRow {
    int64_t id;
    std::vector<TVariant> values;
  };
  struct TCondition {
    int slot;
    bool equal;  // '=' or '<>'
    TVariant value;
  };

  bool Visible(int index);
  void ReadRow(int index, TRecordBuffer& buffer);
  int IndexOf(const TBookmark& bookmark) const;
  TVariant ConvertForDef(const TFieldDef& def, const TVariant& value) const;
  void AssignAutoInc(std::vector<TVariant>& values);

  std::vector<TRow> rows_;
  int pos_ = -1;  // -1 before the first row, rows_.size() after the last
  int64_t next_id_ = 1;
  int64_t next_auto_inc_ = 1;
  bool read_only_ = false;
  std::vector<TCondition> conditions_;  // the parsed filter text
};

// The bookmark of a TMemoryDataSet row: its permanent row id.
TBookmark MemoryBookmark(int64_t row_id);

}  // namespace fyn
