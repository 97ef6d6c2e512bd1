// A table's row and index files written as one group: a crash or a full disk
// at any write or flush of a sequence of batches leaves the rows and every
// index exactly as before or after the interrupted batch, the session that
// saw the failure keeps working from the state before it, and the commit mark
// alone decides a batch whose files all finished.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/zntconsts.h"
#include "base/zntcrypto.h"
#include "storage/tests/table_test_util.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntfilegroup.h"
#include "storage/zntindexmgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntrowsetmgr.h"

namespace znt {
namespace {

using testing::TCountingFileManager;

const std::string kRows = "/Info/Ledger.ZNTTbl";
const std::string kIndexes = "/Info/Ledger.ZNTIdx";
const TZNTDataType kInt = TZNTDataType::Of(TZNTTypeCode::Integer);
const TZNTDataType kDate = TZNTDataType::Of(TZNTTypeCode::Date);
const TZNTDataType kType = TZNTDataType::VarChar(10);

enum : size_t { kPrimary = 0, kByType = 1, kDownDate = 2 };

// A ledger row as the model holds it, keyed by _ID.
struct TRow {
  std::string type;
  int32_t date = 0;
  int32_t amount = 0;
  bool operator==(const TRow&) const = default;
};
using TModel = std::map<int32_t, TRow>;

TZNTTableFileSettings Settings() {
  TZNTTableFileSettings s;
  s.table_name = "Ledger";
  s.signature_digest = s.default_signature_digest = TZNTDigest::Compute("engine signature");
  s.password_digest = TZNTDigest::Compute("engine password");
  // Small pages so that a few dozen rows split every index.
  s.index_page_size = 512;
  return s;
}

std::vector<TZNTRowsetColumn> Columns() {
  return {{"__RowID", kInt}, {"_ID", kInt}, {"_Type", kType}, {"_Date", kDate}, {"_Amount", kInt}};
}

std::vector<TZNTIndexDef> Indexes() {
  TZNTIndexDef pk{"PK", kZNTIndexPrimary, {{"_ID", kInt}}, 0};
  TZNTIndexDef type{"Type", kZNTIndexPlain, {{"_Type", kType}}, 0};
  TZNTIndexDef down{"DownDate", kZNTIndexPlain, {{"_Date", kDate, true}}, 0};
  return {pk, type, down};
}

// The test table: a row file and an index file with three indexes, grouped.
struct TLedger {
  TZNTRowsetManager rows;
  TZNTIndexManager indexes;
  TZNTTableFileGroup group;

  explicit TLedger(TZNTFileManager& files)
      : rows(files, kRows, Settings(), Columns()),
        indexes(files, kIndexes, Settings(), Indexes()),
        group({&rows, &indexes}) {}

  void Create(bool exclusive) {
    rows.CreateTableFile(exclusive);
    indexes.CreateTableFile(exclusive);
  }
  void Open(bool exclusive) {
    rows.OpenTableFile(exclusive, false);
    indexes.OpenTableFile(exclusive, false);
  }

  static TZNTValues RowValues(int32_t rowid, int32_t id, const TRow& r) {
    TZNTValues v;
    v.AddContained(kInt).SetInteger(rowid);
    v.AddContained(kInt).SetInteger(id);
    v.AddContained(kType).SetString(r.type);
    v.AddContained(kDate).SetDate(r.date);
    v.AddContained(kInt).SetInteger(r.amount);
    return v;
  }
  static TZNTValues KeyValues(size_t index, int32_t id, const TRow& r) {
    TZNTValues v;
    if (index == kPrimary) v.AddContained(kInt).SetInteger(id);
    if (index == kByType) v.AddContained(kType).SetString(r.type);
    if (index == kDownDate) v.AddContained(kDate).SetDate(r.date);
    return v;
  }

  void Insert(int32_t id, const TRow& r) {
    const int32_t rowid = rows.NextRowIDValue();
    const auto result = rows.InsertRow(rows.NextRowID(), RowValues(rowid, id, r));
    for (size_t i = 0; i < indexes.IndexCount(); ++i) {
      TZNTIndexNavigator nav(indexes, i);
      nav.InsertKey(KeyValues(i, id, r), rowid, result.row_number);
    }
  }
  // The row number and __RowID of the row with `id`, found by primary key.
  std::pair<uint32_t, int32_t> Locate(int32_t id) {
    TZNTIndexNavigator nav(indexes, kPrimary);
    TZNTValues key;
    key.AddContained(kInt).SetInteger(id);
    EXPECT_TRUE(nav.FindByValues(key)) << "no row " << id;
    TZNTRowsetNavigator rows_nav(rows);
    EXPECT_TRUE(rows_nav.SetToRow(nav.RowNumber()));
    return {nav.RowNumber(), rows_nav.Value(0).AsInteger()};
  }
  void Update(int32_t id, const TRow& from, int32_t new_id, const TRow& to) {
    const auto [row, rowid] = Locate(id);
    for (size_t i = 0; i < indexes.IndexCount(); ++i) {
      TZNTIndexNavigator nav(indexes, i);
      nav.DeleteKey(KeyValues(i, id, from), rowid);
    }
    rows.UpdateRow(row, RowValues(rowid, new_id, to));
    for (size_t i = 0; i < indexes.IndexCount(); ++i) {
      TZNTIndexNavigator nav(indexes, i);
      nav.InsertKey(KeyValues(i, new_id, to), rowid, row);
    }
  }
  void Delete(int32_t id, const TRow& from) {
    const auto [row, rowid] = Locate(id);
    for (size_t i = 0; i < indexes.IndexCount(); ++i) {
      TZNTIndexNavigator nav(indexes, i);
      nav.DeleteKey(KeyValues(i, id, from), rowid);
    }
    rows.DeleteRow(row);
  }
};

// Whether the table holds exactly `model`: the rows, and every index walked
// in key order giving the rows' keys in that order; invariants hold.
::testing::AssertionResult Holds(TLedger& t, const TModel& model) {
  struct TStored {
    int32_t id;
    int32_t rowid;
    TRow row;
  };
  std::map<uint32_t, TStored> by_number;
  TModel found;
  TZNTRowsetNavigator nav(t.rows);
  for (bool ok = nav.First(); ok; ok = nav.Next()) {
    TStored s{nav.Value(1).AsInteger(),
              nav.Value(0).AsInteger(),
              {nav.Value(2).AsString(), nav.Value(3).AsDate(), nav.Value(4).AsInteger()}};
    if (!found.emplace(s.id, s.row).second)
      return ::testing::AssertionFailure() << "two rows with _ID " << s.id;
    by_number.emplace(nav.RowNumber(), s);
  }
  if (found != model) {
    return ::testing::AssertionFailure()
           << "rows differ: " << found.size() << " stored, " << model.size() << " expected";
  }
  if (t.rows.RowCount() != model.size())
    return ::testing::AssertionFailure() << "row count " << t.rows.RowCount();

  // Each index in key order, shared keys then by __RowID.
  using TEntry = std::tuple<int64_t, std::string, int32_t, uint32_t>;
  for (size_t i = 0; i < t.indexes.IndexCount(); ++i) {
    std::vector<TEntry> expected;
    for (const auto& [number, s] : by_number) {
      if (i == kPrimary) expected.emplace_back(s.id, "", 0, number);
      if (i == kByType) expected.emplace_back(0, s.row.type, s.rowid, number);
      if (i == kDownDate) expected.emplace_back(-int64_t{s.row.date}, "", s.rowid, number);
    }
    std::sort(expected.begin(), expected.end());
    std::vector<uint32_t> want, got;
    for (const TEntry& e : expected) want.push_back(std::get<3>(e));
    TZNTIndexNavigator walk(t.indexes, i);
    for (bool ok = walk.First(); ok; ok = walk.Next()) {
      got.push_back(walk.RowNumber());
      auto it = by_number.find(walk.RowNumber());
      if (it == by_number.end())
        return ::testing::AssertionFailure() << "index " << i << " names a missing row";
      const TZNTValues key = TLedger::KeyValues(i, it->second.id, it->second.row);
      if (walk.KeyValue(0).AsString() != key[0].AsString())
        return ::testing::AssertionFailure() << "index " << i << " key differs from its row";
    }
    if (got != want) return ::testing::AssertionFailure() << "index " << i << " out of step";
    const std::string problem = t.indexes.VerifyIndex(i);
    if (!problem.empty()) return ::testing::AssertionFailure() << "index " << i << ": " << problem;
  }
  const std::string problem = t.group.VerifyInvariants();
  if (!problem.empty()) return ::testing::AssertionFailure() << problem;
  return ::testing::AssertionSuccess();
}

TRow RowFor(int32_t id) {
  static const char* const kTypes[] = {"DEP", "PAY", "XFR", "INV"};
  return {kTypes[(id * 7) % 4], 738000 + (id * 37) % 400, id * 113 % 5000};
}

// One batch: changes to the table and the same changes to the model.
using TBatch = std::function<void(TLedger&, TModel&)>;

void InsertRange(TLedger& t, TModel& m, int32_t from, int32_t to) {
  for (int32_t id = from; id <= to; ++id) {
    t.Insert(id, RowFor(id));
    m[id] = RowFor(id);
  }
}

const std::vector<TBatch>& Batches() {
  static const std::vector<TBatch> batches = {
      [](TLedger& t, TModel& m) { InsertRange(t, m, 1, 6); },
      // Enough rows to split every index's root.
      [](TLedger& t, TModel& m) { InsertRange(t, m, 7, 70); },
      // Updates that move rows in every index, one of them to a new _ID.
      [](TLedger& t, TModel& m) {
        for (int32_t id : {3, 10, 20, 33, 52}) {
          TRow to = m[id];
          to.type = to.type == "PAY" ? "DEP" : "PAY";
          to.date -= 900;
          t.Update(id, m[id], id, to);
          m[id] = to;
        }
        t.Update(41, m[41], 141, m[41]);
        m[141] = m[41];
        m.erase(41);
      },
      [](TLedger& t, TModel& m) {
        for (int32_t id : {1, 2, 15, 16, 17, 18, 19, 21, 22, 70}) {
          t.Delete(id, m[id]);
          m.erase(id);
        }
      },
      // New rows into the freed blocks.
      [](TLedger& t, TModel& m) { InsertRange(t, m, 200, 215); },
      // One key value changed on many rows at once.
      [](TLedger& t, TModel& m) {
        for (auto& [id, row] : m) {
          if (row.type != "XFR") continue;
          TRow to = row;
          to.type = "INV";
          t.Update(id, row, id, to);
          row = to;
        }
      },
  };
  return batches;
}

void RunBatch(TLedger& t, size_t b, TModel& m, bool flush) {
  t.group.BeginOperation();
  Batches()[b](t, m);
  t.group.WriteChanges(flush);
}

struct TCrashCase {
  bool exclusive;
  bool flush;
};

class GroupCrashTest : public ::testing::TestWithParam<TCrashCase> {
 protected:
  // Runs the batches on a fresh table with `arm` setting up the failure
  // once the table exists. Returns the batch that failed (the size when none
  // did) with the models before and after it; `t` stays as the failure left it.
  size_t RunUntilFailure(TLedger& t, TZNTFaultFileManager& faults,
                         const std::function<void(TZNTFaultFileManager&)>& arm, TModel& before,
                         TModel& after) {
    t.Create(GetParam().exclusive);
    arm(faults);
    TModel model;
    for (size_t b = 0; b < Batches().size(); ++b) {
      before = model;
      try {
        RunBatch(t, b, model, GetParam().flush);
      } catch (const EZNTException& e) {
        EXPECT_EQ(e.ErrorCode(), err::FileManager) << e.what();
        after = std::move(model);
        return b;
      }
    }
    before = after = model;
    return Batches().size();
  }

  // A crash from the k-th operation of `op` on: reopening from what reached
  // the files shows the state before or after the interrupted batch.
  void CrashAt(const std::function<void(TZNTFaultFileManager&)>& arm, bool* done) {
    TZNTMemoryFileManager inner;
    TZNTFaultFileManager faults(inner);
    TModel before, after;
    size_t failed;
    {
      TLedger t(faults);
      failed = RunUntilFailure(t, faults, arm, before, after);
      // The process dies here: the managers close without writing.
    }
    *done = failed == Batches().size();
    if (*done) return;
    TLedger t(inner);
    t.Open(GetParam().exclusive);
    const auto as_before = Holds(t, before);
    if (!as_before) {
      const auto as_after = Holds(t, after);
      EXPECT_TRUE(as_after) << "batch " << failed << ": " << as_before.message() << " / "
                            << as_after.message();
    }
    for (const std::string& p : {kRows, kIndexes}) {
      EXPECT_FALSE(inner.FileExists(p + "-journal")) << p;
    }
    // The recovered table takes the rest of the batches, the lost one again.
    const bool lost = static_cast<bool>(Holds(t, before));
    TModel model = lost ? before : after;
    for (size_t b = lost ? failed : failed + 1; b < Batches().size(); ++b)
      RunBatch(t, b, model, false);
    EXPECT_TRUE(Holds(t, model));
  }

  // A failure the session survives: once the faults are gone, the same
  // objects show the state before the failed batch and finish the sequence.
  void FailInSession(const std::function<void(TZNTFaultFileManager&)>& arm, bool* done) {
    TZNTMemoryFileManager inner;
    TZNTFaultFileManager faults(inner);
    TLedger t(faults);
    TModel before, after;
    const size_t failed = RunUntilFailure(t, faults, arm, before, after);
    *done = failed == Batches().size();
    if (*done) return;
    faults.ClearFaults();
    t.group.BeginOperation();
    EXPECT_TRUE(Holds(t, before)) << "batch " << failed;
    TModel model = before;
    for (size_t b = failed; b < Batches().size(); ++b) RunBatch(t, b, model, false);
    EXPECT_TRUE(Holds(t, model));
    t.group.Close();
    TLedger reopened(inner);
    reopened.Open(GetParam().exclusive);
    EXPECT_TRUE(Holds(reopened, model));
  }
};

TEST_P(GroupCrashTest, ACrashAtAnyWriteOrFlushEndsBeforeOrAfterTheBatch) {
  for (TZNTFaultOp op : {TZNTFaultOp::Write, TZNTFaultOp::Flush}) {
    uint64_t k = 1;
    for (bool done = false; !done && !HasFailure(); ++k) {
      SCOPED_TRACE(::testing::Message() << "op " << static_cast<int>(op) << " k " << k);
      CrashAt([&](TZNTFaultFileManager& f) { f.FailNth(op, k, true); }, &done);
    }
    // Every write of the sequence was reached.
    EXPECT_GT(k, op == TZNTFaultOp::Write ? 40u : 1u);
  }
}

TEST_P(GroupCrashTest, ASessionSurvivesAFailedWriteOrAFullDisk) {
  // Every third write: the crash test above visits each one.
  bool done = false;
  for (uint64_t k = 1; !done && !HasFailure(); k += 3) {
    SCOPED_TRACE(::testing::Message() << "write " << k);
    FailInSession([&](TZNTFaultFileManager& f) { f.FailNth(TZNTFaultOp::Write, k, true); }, &done);
  }
  done = false;
  for (uint64_t budget = 0; !done && !HasFailure(); budget += 797) {
    SCOPED_TRACE(::testing::Message() << "budget " << budget);
    FailInSession([&](TZNTFaultFileManager& f) { f.SetWriteBudget(budget); }, &done);
  }
}

TEST_P(GroupCrashTest, AFullDiskAtAnyByteEndsBeforeOrAfterTheBatch) {
  bool done = false;
  // A prime step lands the end of the budget at every kind of place.
  for (uint64_t budget = 0; !done && !HasFailure(); budget += 293) {
    SCOPED_TRACE(::testing::Message() << "budget " << budget);
    CrashAt([&](TZNTFaultFileManager& f) { f.SetWriteBudget(budget); }, &done);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, GroupCrashTest,
                         ::testing::Values(TCrashCase{false, true}, TCrashCase{true, false}),
                         [](const ::testing::TestParamInfo<TCrashCase>& info) {
                           return std::string(info.param.exclusive ? "Exclusive" : "Shared") +
                                  (info.param.flush ? "Flushed" : "Unflushed");
                         });

// A file manager whose deletes can be refused, as when a crash comes between
// the end of a batch and the removal of its journals.
class TNoDeleteFileManager : public TCountingFileManager {
 public:
  using TCountingFileManager::TCountingFileManager;
  bool refuse = false;
  void DeleteFile(const std::string& path) override {
    if (refuse) RaiseZNTError(err::FileManager, {"Cannot delete " + path});
    TCountingFileManager::DeleteFile(path);
  }
};

class GroupRecoveryTest : public ::testing::Test {
 protected:
  // Two batches; the second leaves its journals (and mark) behind.
  void WriteWithJournalsLeft() {
    TLedger t(files_);
    t.Create(false);
    RunBatch(t, 0, model_before_, false);
    model_after_ = model_before_;
    files_.refuse = true;
    RunBatch(t, 1, model_after_, false);
    files_.refuse = false;
  }
  bool Exists(const std::string& p) { return inner_.FileExists(p); }

  TZNTMemoryFileManager inner_;
  TNoDeleteFileManager files_{inner_};
  TModel model_before_, model_after_;
};

TEST_F(GroupRecoveryTest, FinishedFilesWithTheirMarkKeepTheBatch) {
  WriteWithJournalsLeft();
  ASSERT_TRUE(Exists(kRows + "-journal") && Exists(kIndexes + "-journal"));
  ASSERT_TRUE(Exists(kRows + "-commit"));
  TLedger t(files_);
  t.Open(false);
  EXPECT_TRUE(Holds(t, model_after_));
  EXPECT_FALSE(Exists(kRows + "-journal") || Exists(kIndexes + "-journal"));
}

TEST_F(GroupRecoveryTest, WithoutTheMarkEveryFileRollsBackThoughAllFinished) {
  WriteWithJournalsLeft();
  inner_.DeleteFile(kRows + "-commit");
  // Opened one at a time, each file decides alone and both agree.
  TLedger t(files_);
  t.indexes.OpenTableFile(false, false);
  EXPECT_FALSE(Exists(kIndexes + "-journal"));
  EXPECT_TRUE(Exists(kRows + "-journal"));
  t.rows.OpenTableFile(false, false);
  EXPECT_TRUE(Holds(t, model_before_));
}

TEST_F(GroupRecoveryTest, AMarkOfAnotherBatchDoesNotCommit) {
  WriteWithJournalsLeft();
  std::string mark = testing::MemoryFileBytes(inner_, kRows + "-commit");
  mark[10] ^= 1;
  testing::WriteWholeFile(inner_, kRows + "-commit", mark);
  TLedger t(files_);
  t.Open(false);
  EXPECT_TRUE(Holds(t, model_before_));
}

TEST_F(GroupRecoveryTest, AReadOnlyOpenThatWouldRollBackIsARepair) {
  WriteWithJournalsLeft();
  inner_.DeleteFile(kRows + "-commit");
  TZNTRowsetManager rows(files_, kRows, Settings(), Columns());
  const auto raised = testing::RaisedBy([&] { rows.OpenTableFile(false, true); });
  EXPECT_EQ(raised.code, err::Metadata) << raised.message;
}

TEST_F(GroupRecoveryTest, JournalsGoToDiskBeforeAnyFileAndTheMarkAfterAll) {
  TLedger t(files_);
  t.Create(false);
  RunBatch(t, 0, model_before_, true);
  files_.Reset();
  RunBatch(t, 1, model_before_, true);
  const auto writes = files_.Writes();
  size_t last_journal = 0, first_table = writes.size(), last_table = 0, mark = writes.size();
  for (size_t i = 0; i < writes.size(); ++i) {
    const std::string& p = writes[i].path;
    if (p.ends_with("-journal")) last_journal = i;
    if (p == kRows || p == kIndexes) {
      first_table = std::min(first_table, i);
      last_table = i;
    }
    if (p.ends_with("-commit")) mark = i;
  }
  EXPECT_LT(last_journal, first_table);
  EXPECT_GT(mark, last_table);
  ASSERT_LT(mark, writes.size());
  EXPECT_EQ(static_cast<uint8_t>(files_.LastJournal()[7]), 2);
  EXPECT_FALSE(Exists(kRows + "-commit") || Exists(kRows + "-journal"));
  EXPECT_TRUE(Holds(t, model_before_));
}

TEST_F(GroupRecoveryTest, ABatchOfOneFileNeedsNoMark) {
  TLedger t(files_);
  t.Create(false);
  RunBatch(t, 0, model_before_, false);
  files_.Reset();
  // Only the row file changes: an update of a column no index holds.
  t.group.BeginOperation();
  const auto [row, rowid] = t.Locate(4);
  model_before_[4].amount = 1;
  t.rows.UpdateRow(row, TLedger::RowValues(rowid, 4, model_before_[4]));
  t.group.WriteChanges(false);
  for (const auto& w : files_.Writes()) {
    EXPECT_NE(w.path, kIndexes);
    EXPECT_FALSE(w.path.ends_with("-commit"));
  }
  EXPECT_EQ(static_cast<uint8_t>(files_.LastJournal()[7]), 1);
  EXPECT_TRUE(Holds(t, model_before_));
}

TEST_F(GroupRecoveryTest, CacheWriteBackAndClosingWriteTheWholeGroup) {
  TLedger t(files_);
  t.Create(true);
  RunBatch(t, 0, model_before_, false);
  files_.Reset();
  t.group.BeginOperation();
  InsertRange(t, model_before_, 500, 505);
  // A member closed alone writes its partners' changes with its own.
  t.rows.CloseTableFile();
  t.indexes.CloseTableFile();
  EXPECT_EQ(static_cast<uint8_t>(files_.LastJournal()[7]), 2);
  TLedger reopened(files_);
  reopened.Open(false);
  EXPECT_TRUE(Holds(reopened, model_before_));
}

TEST_F(GroupRecoveryTest, ATransactionCommitsOrRollsBackEveryMember) {
  TLedger t(files_);
  t.Create(false);
  RunBatch(t, 0, model_before_, false);
  TModel changed = model_before_;
  t.group.BeginTransaction();
  InsertRange(t, changed, 300, 310);
  t.group.RollbackTransaction();
  EXPECT_EQ(t.rows.Mode(), TZNTTableFileMode::Shared);
  EXPECT_EQ(t.indexes.Mode(), TZNTTableFileMode::Shared);
  t.group.BeginOperation();
  EXPECT_TRUE(Holds(t, model_before_));
  t.group.BeginTransaction();
  InsertRange(t, model_before_, 300, 310);
  t.group.CommitTransaction(false);
  EXPECT_EQ(t.indexes.Mode(), TZNTTableFileMode::Shared);
  TLedger other(files_);
  other.Open(false);
  EXPECT_TRUE(Holds(other, model_before_));
}

}  // namespace
}  // namespace znt
