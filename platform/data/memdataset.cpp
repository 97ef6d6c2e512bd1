#include "data/memdataset.h"

#include <algorithm>

#include "data/dberror.h"

namespace fyn {

namespace {

std::string Trim(std::string_view text) {
  size_t a = text.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  size_t b = text.find_last_not_of(" \t");
  return std::string(text.substr(a, b - a + 1));
}

[[noreturn]] void BadFilter(const std::string& text) {
  DatabaseErrorFmt("Invalid filter expression: %s", text);
}

// Splits at each AND outside quotes, ignoring letter case.
std::vector<std::string> SplitConjunction(const std::string& text) {
  std::vector<std::string> parts;
  std::string upper = UpperCase1252(text);
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') quoted = !quoted;
    if (!quoted && upper.compare(i, 5, " AND ") == 0) {
      parts.push_back(text.substr(start, i - start));
      start = i + 5;
      i += 4;
    }
  }
  parts.push_back(text.substr(start));
  return parts;
}

}  // namespace

TBookmark MemoryBookmark(int64_t row_id) {
  TBookmark b(8, '\0');
  for (int i = 0; i < 8; ++i)
    b[i] = static_cast<char>((static_cast<uint64_t>(row_id) >> (56 - 8 * i)) & 0xFF);
  return b;
}

namespace {

bool DecodeBookmark(const TBookmark& b, int64_t& id) {
  if (b.size() != 8) return false;
  uint64_t v = 0;
  for (unsigned char c : b) v = (v << 8) | c;
  id = static_cast<int64_t>(v);
  return true;
}

}  // namespace

TMemoryDataSet::~TMemoryDataSet() {
  try {
    Close();
  } catch (...) {
    // A throwing BeforeClose handler cannot stop destruction.
  }
}

TVariant TMemoryDataSet::ConvertForDef(const TFieldDef& def, const TVariant& value) const {
  TField probe(def.name, def.type, def.size);
  return probe.Convert(value);
}

void TMemoryDataSet::AssignAutoInc(std::vector<TVariant>& values) {
  for (int i = 0; i < FieldDefs().Count(); ++i) {
    if (FieldDefs()[i].type != TFieldType::AutoInc) continue;
    if (VarIsNull(values[i])) {
      values[i] = next_auto_inc_++;
    } else {
      next_auto_inc_ = std::max(next_auto_inc_, std::get<int64_t>(values[i]) + 1);
    }
  }
}

void TMemoryDataSet::AppendRow(const std::vector<TVariant>& values) {
  const TFieldDefs& defs = FieldDefs();
  if (static_cast<int>(values.size()) > defs.Count()) {
    throw EDatabaseError("More values than fields in a row");
  }
  std::vector<TVariant> row(defs.Count());
  for (size_t i = 0; i < values.size(); ++i) row[i] = ConvertForDef(defs[i], values[i]);
  AssignAutoInc(row);
  rows_.push_back(TRow{next_id_++, std::move(row)});
}

void TMemoryDataSet::ClearRows() {
  CheckInactive();
  rows_.clear();
}

void TMemoryDataSet::InternalOpen() {
  if (FieldDefs().Count() == 0) throw EDatabaseError("No fields defined for dataset");
  pos_ = -1;
}

void TMemoryDataSet::InternalClose() noexcept {
  pos_ = -1;
  conditions_.clear();
}

void TMemoryDataSet::ApplyFilter() {
  conditions_.clear();
  std::string text = Trim(Filter());
  if (text.empty()) return;
  std::vector<TCondition> conditions;
  for (const std::string& part : SplitConjunction(text)) {
    size_t op = std::string::npos;
    bool equal = true;
    bool quoted = false;
    for (size_t i = 0; i < part.size() && op == std::string::npos; ++i) {
      if (part[i] == '\'') quoted = !quoted;
      if (quoted) continue;
      if (part.compare(i, 2, "<>") == 0) {
        op = i;
        equal = false;
      } else if (part[i] == '=') {
        op = i;
      }
    }
    if (op == std::string::npos) BadFilter(text);
    std::string name = Trim(std::string_view(part).substr(0, op));
    std::string literal = Trim(std::string_view(part).substr(op + (equal ? 1 : 2)));
    const TFieldDef* def = FieldDefs().Find(name);
    if (!def) DatabaseErrorFmt("Field '%s' not found", name);
    TVariant value;
    if (literal.size() >= 2 && literal.front() == '\'' && literal.back() == '\'') {
      std::string s;
      for (size_t i = 1; i + 1 < literal.size(); ++i) {
        s += literal[i];
        if (literal[i] == '\'') ++i;  // a doubled quote stands for one
      }
      value = s;
    } else if (UpperCase1252(literal) == "NULL") {
      value = TVariant{};
    } else if (literal.empty()) {
      BadFilter(text);
    } else {
      value = literal;
    }
    conditions.push_back(TCondition{def->field_no - 1, equal, ConvertForDef(*def, value)});
  }
  conditions_ = std::move(conditions);
}

bool TMemoryDataSet::Visible(int index) {
  const TRow& row = rows_[index];
  if (!FilterActive()) return true;
  for (const TCondition& c : conditions_) {
    const TVariant& have = row.values[c.slot];
    bool same;
    const std::string* a = std::get_if<std::string>(&have);
    const std::string* b = std::get_if<std::string>(&c.value);
    if (a && b && FilterOptions().case_insensitive) {
      same = CompareTextNoCase(*a, *b) == 0;
    } else {
      same = have == c.value;
    }
    if (same != c.equal) return false;
  }
  return true;
}

void TMemoryDataSet::ReadRow(int index, TRecordBuffer& buffer) {
  const TRow& row = rows_[index];
  buffer.values.assign(row.values.begin(), row.values.end());
  buffer.values.resize(SlotCount());
  buffer.bookmark = MemoryBookmark(row.id);
  buffer.flag = TBookmarkFlag::Current;
  buffer.rec_no = FilterActive() ? -1 : index + 1;
}

TGetResult TMemoryDataSet::GetRecord(TRecordBuffer& buffer, TGetMode mode) {
  const int n = static_cast<int>(rows_.size());
  auto accept = [&](int index) {
    if (!Visible(index)) return false;
    ReadRow(index, buffer);
    return !FilterActive() || FilterRecord(buffer);
  };
  switch (mode) {
    case TGetMode::Current:
      if (pos_ < 0) return TGetResult::Bof;
      if (pos_ >= n) return TGetResult::Eof;
      return accept(pos_) ? TGetResult::Ok : TGetResult::Error;
    case TGetMode::Next:
      while (pos_ < n) {
        ++pos_;
        if (pos_ < n && accept(pos_)) return TGetResult::Ok;
      }
      return TGetResult::Eof;
    case TGetMode::Prior:
      if (pos_ > n) pos_ = n;
      while (pos_ >= 0) {
        --pos_;
        if (pos_ >= 0 && accept(pos_)) return TGetResult::Ok;
      }
      return TGetResult::Bof;
  }
  return TGetResult::Error;
}

int TMemoryDataSet::IndexOf(const TBookmark& bookmark) const {
  int64_t id;
  if (!DecodeBookmark(bookmark, id)) return -1;
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].id == id) return static_cast<int>(i);
  }
  return -1;
}

void TMemoryDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  int index = IndexOf(bookmark);
  if (index < 0) throw EDatabaseError("Record not found");
  pos_ = index;
}

void TMemoryDataSet::InternalPost(TRecordBuffer& buffer) {
  TDataSet::InternalPost(buffer);
  const int defs = FieldDefs().Count();
  std::vector<TVariant> values(buffer.values.begin(), buffer.values.begin() + defs);
  if (State() == TDataSetState::Insert) {
    AssignAutoInc(values);
    int at = static_cast<int>(rows_.size());
    if (buffer.flag == TBookmarkFlag::Bof) {
      at = 0;
    } else if (buffer.flag == TBookmarkFlag::Inserted) {
      int index = IndexOf(buffer.bookmark);
      if (index >= 0) at = index;
    }
    rows_.insert(rows_.begin() + at, TRow{next_id_++, std::move(values)});
    pos_ = at;
  } else {
    int index = IndexOf(buffer.bookmark);
    if (index < 0) throw EDatabaseError("Record not found");
    rows_[index].values = std::move(values);
    pos_ = index;
  }
}

void TMemoryDataSet::InternalDelete() {
  if (pos_ < 0 || pos_ >= static_cast<int>(rows_.size())) throw EDatabaseError("Record not found");
  rows_.erase(rows_.begin() + pos_);
}

int TMemoryDataSet::GetRecordCount() const {
  if (!FilterActive()) return static_cast<int>(rows_.size());
  // Counting runs the filter callback, which reads through the dataset's
  // fields; that is a read of the rows, not a change of them.
  auto* self = const_cast<TMemoryDataSet*>(this);
  std::unique_ptr<TRecordBuffer> buffer = AllocRecordBuffer();
  int count = 0;
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i) {
    if (!self->Visible(i)) continue;
    self->ReadRow(i, *buffer);
    if (self->FilterRecord(*buffer)) ++count;
  }
  return count;
}

int TMemoryDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) const {
  if (a.empty() || b.empty()) return a.empty() ? (b.empty() ? 0 : -1) : 1;
  int ia = IndexOf(a), ib = IndexOf(b);
  if (ia >= 0 && ib >= 0) return ia < ib ? -1 : (ia > ib ? 1 : 0);
  return a < b ? -1 : (a > b ? 1 : 0);
}

bool TMemoryDataSet::BookmarkValid(const TBookmark& bookmark) const {
  return IndexOf(bookmark) >= 0;
}

}  // namespace fyn
