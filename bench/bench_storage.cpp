// The storage layer on the program's biggest table: a million Transactions
// rows with their eight indexes inserted into an encrypted table through the
// table's file group, then read back in each index's order. The peer writes
// the same row bytes to a plain sequential file: the ratio is what blocks,
// indexes, enciphering and atomic batches cost over writing the bytes once.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "base/zntcrypto.h"
#include "base/zntdatetime.h"
#include "storage/zntfilegroup.h"
#include "storage/zntindexmgr.h"
#include "storage/zntosfilemgr.h"
#include "storage/zntrowsetmgr.h"

namespace {

using namespace znt;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

const TZNTDataType kInt = TZNTDataType::Of(TZNTTypeCode::Integer);
const TZNTDataType kDate = TZNTDataType::Of(TZNTTypeCode::Date);
const TZNTDataType kBool = TZNTDataType::Of(TZNTTypeCode::Boolean);
const TZNTDataType kMoney = TZNTDataType::Decimal(2);
const TZNTDataType kType = TZNTDataType::VarChar(10);
const TZNTDataType kReference = TZNTDataType::VarChar(20);
const TZNTDataType kName = TZNTDataType::VarChar(50, kCollationANSI_CI);
const TZNTDataType kReason = TZNTDataType::VarChar(100, kCollationANSI_CI);
const TZNTDataType kAnalysis = TZNTDataType::VarChar(20, kCollationANSI_CI);

std::vector<TZNTRowsetColumn> Columns() {
  return {{"__RowID", kInt},          {"_ID", kInt},
          {"_fkAccounts", kInt},      {"_Type", kType},
          {"_Reference", kReference}, {"_Name", kName},
          {"_Date", kDate},           {"_Income", kMoney},
          {"_Expenditure", kMoney},   {"_Reason", kReason},
          {"_Analysis", kAnalysis},   {"_Reconciled", kBool},
          {"_ReconciledDate", kDate}};
}

// Index order, each with the column of the row it holds.
struct TIndexSpec {
  TZNTIndexDef def;
  size_t column;
};
std::vector<TIndexSpec> IndexSpecs() {
  auto plain = [](const char* name, const char* column, TZNTDataType type, bool down = false) {
    return TZNTIndexDef{name, kZNTIndexPlain, {{column, type, down}}, 0};
  };
  return {{{"PK", kZNTIndexPrimary, {{"_ID", kInt, false}}, 0}, 1},
          {plain("Name", "_Name", kName), 5},
          {plain("Analysis", "_Analysis", kAnalysis), 10},
          {plain("Reason", "_Reason", kReason), 9},
          {plain("DownDate", "_Date", kDate, true), 6},
          {plain("UpDate", "_Date", kDate), 6},
          {plain("Account", "_fkAccounts", kInt), 2},
          {plain("Type", "_Type", kType), 3}};
}

TZNTTableFileSettings Settings() {
  TZNTTableFileSettings s;
  s.table_name = "Transactions";
  s.encrypted = true;
  s.signature_digest = s.default_signature_digest = TZNTDigest::Compute("engine signature");
  s.password_digest = TZNTDigest::Compute("bench password");
  // Caches as a desktop session would size them for its largest table.
  s.max_row_buffer_size = 8u << 20;
  s.max_index_buffer_size = 64u << 20;
  return s;
}

// Generated Transactions rows with a fixed seed.
class TGenerator {
 public:
  explicit TGenerator(uint32_t seed) : rng_(seed) { TryEncodeDate(2019, 1, 1, first_day_); }

  void Fill(TZNTValues& v, int32_t rowid, int32_t id) {
    static const char* const kFirst[] = {"Alice", "Bram", "Chloe", "Dev",   "Elena", "Farid",
                                         "Grace", "Hugo", "Ines",  "Jonas", "Kiri",  "Liam"};
    static const char* const kLast[] = {"Okafor", "Smith",    "Nakamura", "Jensen", "Moreau",
                                        "Rossi",  "Kowalski", "Byrne",    "Silva",  "Haddad"};
    static const char* const kShops[] = {"Corner Grocer", "City Power",    "Northside Water",
                                         "Harbour Fuel",  "Lakeview Rent", "Metro Transit"};
    static const char* const kTypes[] = {"DEP", "WDL", "CHQ", "DD", "SO", "TFR", "ATM", "POS"};
    static const char* const kReasons[] = {
        "Monthly salary", "Groceries", "Electricity bill", "Water rates",       "Rent",
        "Fuel",           "Bus pass",  "Birthday present", "Insurance premium", "Refund"};
    static const char* const kAnalysisCodes[] = {"HOUSE", "FOOD",   "TRAVEL", "UTIL",
                                                 "GIFT",  "INCOME", "INSURE", "MISC"};
    const bool income = Pick(5) == 0;
    const int32_t day = first_day_ + static_cast<int32_t>(Pick(6 * 365 + 1));
    std::string name = Pick(3) == 0 ? std::string(kShops[Pick(6)])
                                    : std::string(kFirst[Pick(12)]) + " " + kLast[Pick(10)];
    v[0].SetInteger(rowid);
    v[1].SetInteger(id);
    v[2].SetInteger(1 + static_cast<int32_t>(Pick(20)));
    v[3].SetString(kTypes[Pick(8)]);
    v[4].SetString("REF" + std::to_string(100000 + Pick(900000)));
    v[5].SetString(name);
    v[6].SetDate(day);
    const int64_t cents = income ? 50000 + Pick(400000) : 100 + Pick(25000);
    if (income) {
      v[7].SetDecimal(cents * 100);
      v[8].SetNull();
    } else {
      v[7].SetNull();
      v[8].SetDecimal(cents * 100);
    }
    v[9].SetString(kReasons[Pick(10)]);
    v[10].SetString(kAnalysisCodes[Pick(8)]);
    const bool reconciled = day < first_day_ + 5 * 365;
    v[11].SetBoolean(reconciled);
    if (reconciled)
      v[12].SetDate(day + static_cast<int32_t>(Pick(30)));
    else
      v[12].SetNull();
  }

 private:
  uint64_t Pick(uint64_t n) { return rng_() % n; }
  std::mt19937_64 rng_;
  int32_t first_day_ = 0;
};

TZNTValues EmptyRow() {
  TZNTValues v;
  for (const TZNTRowsetColumn& c : Columns()) v.AddContained(c.type);
  return v;
}

// The table on disk: row and index file in one group.
struct TTable {
  TZNTRowsetManager rows;
  TZNTIndexManager indexes;
  TZNTTableFileGroup group;
  std::vector<TIndexSpec> specs = IndexSpecs();

  TTable(TZNTFileManager& files, const std::string& folder)
      : rows(files, folder + "/Transactions.ZNTTbl", Settings(), Columns()),
        indexes(files, folder + "/Transactions.ZNTIdx", Settings(), Defs()),
        group({&rows, &indexes}) {}
  static std::vector<TZNTIndexDef> Defs() {
    std::vector<TZNTIndexDef> out;
    for (const TIndexSpec& s : IndexSpecs()) out.push_back(s.def);
    return out;
  }

  void Insert(TZNTValues& row, std::vector<std::unique_ptr<TZNTIndexNavigator>>& navs,
              std::vector<TZNTValues>& keys) {
    const int32_t rowid = rows.NextRowIDValue();
    row[0].SetInteger(rowid);
    const auto result = rows.InsertRow(rows.NextRowID(), row);
    for (size_t i = 0; i < specs.size(); ++i) {
      keys[i][0].Assign(row[specs[i].column]);
      navs[i]->InsertKey(keys[i], rowid, result.row_number);
    }
  }
};

struct TInsertFigures {
  double seconds = 0;
  uint64_t bytes = 0;
};

TInsertFigures InsertRows(TTable& t, uint32_t count, bool batch_per_row, TGenerator& gen) {
  std::vector<std::unique_ptr<TZNTIndexNavigator>> navs;
  std::vector<TZNTValues> keys(t.specs.size());
  for (size_t i = 0; i < t.specs.size(); ++i) {
    navs.push_back(std::make_unique<TZNTIndexNavigator>(t.indexes, i));
    keys[i].AddContained(t.specs[i].def.columns[0].type);
  }
  TZNTValues row = EmptyRow();
  const uint64_t written_before = t.group.WriteBytes();
  const Clock::time_point start = Clock::now();
  t.group.BeginOperation();
  for (uint32_t n = 0; n < count; ++n) {
    gen.Fill(row, 0, static_cast<int32_t>(n + 1));
    if (batch_per_row) t.group.BeginOperation();
    t.Insert(row, navs, keys);
    if (batch_per_row) t.group.WriteChanges(false);
  }
  t.group.WriteChanges(true);
  return {Seconds(start), t.group.WriteBytes() - written_before};
}

void Report(const char* what, uint32_t rows, double seconds) {
  std::printf("  %-34s %10.0f rows/s  (%.2f s)\n", what, rows / seconds, seconds);
}

void ScanEveryIndex(TTable& t, uint32_t expected) {
  TZNTRowsetNavigator rows(t.rows);
  for (size_t i = 0; i < t.specs.size(); ++i) {
    TZNTIndexNavigator nav(t.indexes, i);
    uint32_t seen = 0;
    int64_t check = 0;
    const Clock::time_point start = Clock::now();
    for (bool ok = nav.First(); ok; ok = nav.Next()) {
      if (rows.SetToRow(nav.RowNumber())) check += rows.Value(1).AsInteger();
      ++seen;
    }
    const double s = Seconds(start);
    if (seen != expected)
      std::printf("  index %s holds %u rows, not %u\n", t.specs[i].def.name.c_str(), seen,
                  expected);
    const std::string label = "scan by " + t.specs[i].def.name;
    Report(label.c_str(), seen, s);
    if (check == 0) std::printf("  (no rows read)\n");
  }
}

// The peer: the same row bytes (one row-file block each) written once to a
// sequential file.
double PeerSeconds(const std::string& path, uint32_t count, uint32_t row_size) {
  TGenerator gen(20240601);
  TZNTValues row = EmptyRow();
  std::vector<char> block(row_size, 0);
  const Clock::time_point start = Clock::now();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (uint32_t n = 0; n < count; ++n) {
      gen.Fill(row, static_cast<int32_t>(n + 1), static_cast<int32_t>(n + 1));
      // The values' text, packed into a block of the row's size: the bytes a
      // plain file would hold, produced with comparable work per row.
      size_t at = 17;
      for (size_t c = 0; c < row.Count() && at < block.size(); ++c) {
        const std::string text = row[c].AsString();
        const size_t take = std::min(text.size(), block.size() - at);
        std::copy_n(text.data(), take, block.data() + at);
        at += take;
      }
      out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    out.flush();
  }
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const uint32_t count = argc > 1 ? static_cast<uint32_t>(std::atoi(argv[1])) : 1000000u;
  const uint32_t shared_count = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 10000u;
  std::string folder = (std::filesystem::temp_directory_path() / "fyn-bench-XXXXXX").string();
  if (::mkdtemp(folder.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  int status = 0;
  try {
    TZNTOSFileManager files(uint64_t{1} << 40);
    std::printf("Transactions, encrypted, %zu indexes\n", IndexSpecs().size());
    double engine_seconds = 0;
    uint32_t row_size = 0;
    {
      TTable t(files, folder);
      t.rows.CreateTableFile(true);
      t.indexes.CreateTableFile(true);
      row_size = t.rows.RowSize();
      TGenerator gen(20240601);
      const TInsertFigures f = InsertRows(t, count, false, gen);
      engine_seconds = f.seconds;
      std::printf("exclusive mode, %u rows (row block %u bytes)\n", count, row_size);
      Report("insert", count, f.seconds);
      std::printf("  %-34s %10.1f bytes/row (rows %.1f, indexes %.1f)\n", "block bytes written",
                  static_cast<double>(f.bytes) / count,
                  static_cast<double>(t.rows.WriteBytes()) / count,
                  static_cast<double>(t.indexes.WriteBytes()) / count);
      ScanEveryIndex(t, count);
      t.group.Close();
    }
    const double peer = PeerSeconds(folder + "/peer.dat", count, row_size);
    std::printf("peer: std::ofstream of the same row bytes\n");
    Report("sequential write", count, peer);
    std::printf("  %-34s %10.1f x\n", "insert time / peer time", engine_seconds / peer);
    std::filesystem::remove(folder + "/Transactions.ZNTTbl");
    std::filesystem::remove(folder + "/Transactions.ZNTIdx");

    if (shared_count > 0) {
      TTable t(files, folder);
      t.rows.CreateTableFile(false);
      t.indexes.CreateTableFile(false);
      TGenerator gen(7);
      const TInsertFigures f = InsertRows(t, shared_count, true, gen);
      std::printf("shared mode, one batch per row, %u rows\n", shared_count);
      Report("insert", shared_count, f.seconds);
      std::printf("  %-34s %10.1f bytes/row\n", "block bytes written",
                  static_cast<double>(f.bytes) / shared_count);
      t.group.Close();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_storage: %s\n", e.what());
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return status;
}
