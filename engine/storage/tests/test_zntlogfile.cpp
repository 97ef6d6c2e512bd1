// The engine log file: the ring on disk, the category rules, reading oldest
// first, and the locks a write takes.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "base/zntcommon.h"
#include "base/znterror.h"
#include "base/zntlogmgr.h"
#include "storage/zntfaultfilemgr.h"
#include "storage/zntlockmgr.h"
#include "storage/zntlogfile.h"
#include "storage/zntmemfilemgr.h"

namespace znt {
namespace {

constexpr const char* kFolder = "/cfg";
constexpr const char* kLockName = "ZNTConfig.ZNTLck";
constexpr const char* kLogPath = "/cfg/ZNTConfig.ZNTLog";

// A folder that refuses new files.
class NoCreateFileManager : public TZNTFaultFileManager {
 public:
  using TZNTFaultFileManager::TZNTFaultFileManager;
  TZNTFileStream CreateFile(const std::string& path, bool, bool) override {
    RaiseZNTFileError(TZNTFileAction::Create, path, EACCES);
  }
};

TZNTLogEvent EventWithOperation(int32_t operation) {
  TZNTLogEvent e;
  e.category = TZNTLogCategory::Error;
  e.operation = operation;
  e.error_code = 401;
  e.description = "event " + std::to_string(operation);
  e.timestamp = 63'000'000'000'000 + operation;
  e.user = "Administrator";
  e.process = "host:42";
  e.session_name = "Default";
  return e;
}

std::vector<int32_t> OperationsOf(const std::vector<TZNTLogEvent>& events) {
  std::vector<int32_t> ops;
  for (const auto& e : events) ops.push_back(e.operation);
  return ops;
}

std::vector<int32_t> Range(int32_t from, int32_t to) {
  std::vector<int32_t> v;
  for (int32_t i = from; i <= to; ++i) v.push_back(i);
  return v;
}

class LogFileTest : public ::testing::Test {
 protected:
  LogFileTest() : locks_(files_, kFolder, kLockName) {
    locks_.SetSleepFunction([this](uint32_t) { ++sleeps_; });
    locks_.Open();
  }

  std::unique_ptr<TZNTLogFile> OpenLog(uint64_t max_size,
                                       TZNTLogCategories categories = kZNTLogAllCategories) {
    auto log =
        std::make_unique<TZNTLogFile>(files_, locks_, kLogPath, "ZNTConfig", max_size, categories);
    log->Open();
    return log;
  }
  std::string Contents() {
    TZNTFileStream s = files_.OpenFile(kLogPath, false, true);
    return static_cast<const TZNTMemoryFile&>(s.File()).Contents();
  }
  int32_t Header() { return static_cast<int32_t>(LoadLE32(Contents().data())); }
  TZNTLogEvent RecordAt(int32_t n) {
    return DecodeLogRecord(std::string_view(Contents()).substr(LogRecordOffset(n), 512));
  }

  TZNTMemoryFileManager files_;
  TZNTConfigLockManager locks_;
  int sleeps_ = 0;
};

TEST_F(LogFileTest, AWriteAddsOneRecordAndAdvancesTheHeader) {
  auto log = OpenLog(kZNTLogMinMaxFileSize);
  EXPECT_EQ(Contents().size(), 0u);
  std::vector<TZNTLogEvent> notified;
  log->SetWriteHandler([&](const TZNTLogEvent& e) { notified.push_back(e); });
  const TZNTLogEvent first = EventWithOperation(123);
  log->WriteEvent(first);
  EXPECT_EQ(Contents(), EncodeLogHeader(2) + EncodeLogRecord(first));
  log->WriteEvent(EventWithOperation(124));
  EXPECT_EQ(Contents().size(), 4u + 2 * 512);
  EXPECT_EQ(Header(), 3);
  EXPECT_EQ(OperationsOf(notified), (std::vector<int32_t>{123, 124}));
  // Both locks are given back, and no retry was needed.
  EXPECT_EQ(locks_.HeldRanges().size(), 1u);
  EXPECT_TRUE(log->Lockable().SavedFlags().empty());
  EXPECT_EQ(sleeps_, 0);

  // Another session's handle continues the same ring.
  log->Close();
  auto again = OpenLog(kZNTLogMinMaxFileSize);
  again->WriteEvent(EventWithOperation(125));
  EXPECT_EQ(OperationsOf(again->ReadEvents()), (std::vector<int32_t>{123, 124, 125}));
}

TEST_F(LogFileTest, AFullRingKeepsItsLengthAndContinuesAtRecordOne) {
  const uint64_t five_records = 4 + 5 * 512;
  auto log = OpenLog(five_records);
  for (int32_t op = 1; op <= 7; ++op) {
    log->WriteEvent(EventWithOperation(op));
    EXPECT_EQ(Contents().size(), 4 + 512 * static_cast<uint64_t>(std::min(op, 5)));
  }
  EXPECT_EQ(Header(), 3);
  EXPECT_EQ(RecordAt(1).operation, 6);
  EXPECT_EQ(RecordAt(2).operation, 7);
  EXPECT_EQ(RecordAt(3).operation, 3);
  EXPECT_EQ(OperationsOf(log->ReadEvents()), (std::vector<int32_t>{3, 4, 5, 6, 7}));
}

TEST_F(LogFileTest, TheSmallestAllowedMaximumWrapsAfter511Records) {
  auto log = OpenLog(kZNTLogMinMaxFileSize);
  for (int32_t op = 1; op <= 515; ++op) log->WriteEvent(EventWithOperation(op));
  EXPECT_EQ(Contents().size(), 4u + 511 * 512);
  EXPECT_EQ(Header(), 5);
  // Oldest first across the wrap and across the 63-record read blocks.
  EXPECT_EQ(OperationsOf(log->ReadEvents()), Range(5, 515));
}

TEST_F(LogFileTest, ALowerMaximumCutsTheRingWhenTheNextRecordWouldPassIt) {
  auto big = OpenLog(4 + 10 * 512);
  for (int32_t op = 1; op <= 10; ++op) big->WriteEvent(EventWithOperation(op));
  big->Close();

  auto small = OpenLog(4 + 4 * 512);
  small->WriteEvent(EventWithOperation(11));  // record 11 would pass: back to 1, nothing cut
  EXPECT_EQ(Contents().size(), 4u + 10 * 512);
  for (int32_t op = 12; op <= 14; ++op) small->WriteEvent(EventWithOperation(op));
  EXPECT_EQ(Contents().size(), 4u + 10 * 512);
  small->WriteEvent(EventWithOperation(15));  // record 5 would pass: cut after record 4
  EXPECT_EQ(Contents().size(), 4u + 4 * 512);
  EXPECT_EQ(OperationsOf(small->ReadEvents()), (std::vector<int32_t>{12, 13, 14, 15}));
}

TEST_F(LogFileTest, CategoriesFilterEventsAndRowWarningsStayWarnings) {
  const struct {
    const char* label;
    TZNTLogCategories enabled;
    TZNTLogCategory category;
    int32_t error_code;
    bool written;
    TZNTLogCategory stored;
  } cases[] = {
      {"nothing enabled", 0, TZNTLogCategory::Error, 401, false, {}},
      {"nothing enabled, warning", 0, TZNTLogCategory::Error, 1008, false, {}},
      {"error enabled", kZNTLogError, TZNTLogCategory::Error, 401, true, TZNTLogCategory::Error},
      {"information filtered",
       kZNTLogError | kZNTLogWarning,
       TZNTLogCategory::Information,
       0,
       false,
       {}},
      {"1008 under warnings", kZNTLogWarning, TZNTLogCategory::Error, 1008, true,
       TZNTLogCategory::Warning},
      {"1010 under warnings", kZNTLogWarning, TZNTLogCategory::Error, 1010, true,
       TZNTLogCategory::Warning},
      {"1008 not as error", kZNTLogError, TZNTLogCategory::Error, 1008, false, {}},
      {"information", kZNTLogInformation, TZNTLogCategory::Information, 0, true,
       TZNTLogCategory::Information},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    if (files_.FileExists(kLogPath)) files_.DeleteFile(kLogPath);
    auto log = OpenLog(kZNTLogMinMaxFileSize, c.enabled);
    TZNTLogEvent e = EventWithOperation(236);
    e.category = c.category;
    e.error_code = c.error_code;
    EXPECT_EQ(log->LogEvent(e), c.written);
    const std::vector<TZNTLogEvent> events = log->ReadEvents();
    ASSERT_EQ(events.size(), c.written ? 1u : 0u);
    if (c.written) {
      EXPECT_EQ(events[0].category, c.stored);
    }
  }
}

TEST_F(LogFileTest, AReadOnlyLogRefusesWritesWithError101) {
  NoCreateFileManager refusing(files_);
  TZNTLogFile log(refusing, locks_, kLogPath, "ZNTConfig", kZNTLogMinMaxFileSize);
  log.Open();  // no error
  EXPECT_TRUE(log.IsReadOnly());
  try {
    log.WriteEvent(EventWithOperation(1));
    ADD_FAILURE() << "no error was raised";
  } catch (const EZNTException& e) {
    EXPECT_EQ(e.ErrorCode(), 101);
    EXPECT_EQ(e.ErrorMessage(),
              "There was an error updating the log ZNTConfig (The file is read-only)");
  }
  EXPECT_TRUE(log.ReadEvents().empty());
  EXPECT_EQ(locks_.HeldRanges().size(), 1u);
}

TEST_F(LogFileTest, AWriteWaitsForOtherSessionsAndLeavesNothingLockedWhenItGivesUp) {
  auto log = OpenLog(kZNTLogMinMaxFileSize);
  log->WriteEvent(EventWithOperation(1));
  const std::string before = Contents();

  TZNTConfigLockManager other(files_, kFolder, kLockName);
  other.Open();
  TZNTLockable other_log = TZNTLockable::Log(&other, "ZNTConfig");
  const struct {
    const char* label;
    TZNTLockKind held;
    const char* message;
  } cases[] = {
      {"writer in progress", TZNTLockKind::Transaction,
       "Cannot lock the log ZNTConfig for transaction access"},
      {"reader in progress", TZNTLockKind::Read, "Cannot lock the log ZNTConfig for write access"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(other_log.Lock(c.held));
    sleeps_ = 0;
    try {
      log->WriteEvent(EventWithOperation(2));
      ADD_FAILURE() << "no error was raised";
    } catch (const EZNTException& e) {
      EXPECT_EQ(e.ErrorCode(), 300);
      EXPECT_EQ(e.ErrorMessage(), c.message);
    }
    EXPECT_EQ(sleeps_, 32768);
    EXPECT_EQ(Contents(), before);
    EXPECT_EQ(locks_.HeldRanges().size(), 1u);
    EXPECT_EQ(log->Lockable().HeldFlags(), 0u);
    EXPECT_TRUE(log->Lockable().SavedFlags().empty());
    other_log.Unlock(c.held);
  }
  log->WriteEvent(EventWithOperation(2));
  EXPECT_EQ(Header(), 3);
}

TEST_F(LogFileTest, ReadingSurvivesADamagedHeader) {
  auto log = OpenLog(kZNTLogMinMaxFileSize);
  for (int32_t op = 1; op <= 3; ++op) log->WriteEvent(EventWithOperation(op));
  TZNTFileStream raw = files_.OpenFile(kLogPath, false, false);
  for (int32_t bad : {0, -7, 9}) {
    SCOPED_TRACE(bad);
    const std::string header = EncodeLogHeader(bad);
    raw.WriteAt(0, header.data(), header.size());
    EXPECT_EQ(OperationsOf(log->ReadEvents()), (std::vector<int32_t>{1, 2, 3}));
  }
  // A writer starts over at record 1 rather than leave a hole.
  log->WriteEvent(EventWithOperation(4));
  EXPECT_EQ(Header(), 2);
  EXPECT_EQ(RecordAt(1).operation, 4);
}

}  // namespace
}  // namespace znt
