#include "zntenv.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

#include "zntdatetime.h"

namespace znt {

std::string TZNTEnvironment::TempPath() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

std::string TZNTEnvironment::ComputerName() {
  char name[HOST_NAME_MAX + 1] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  std::string s(name);
  return s.substr(0, 15);
}

uint32_t TZNTEnvironment::ProcessID() { return static_cast<uint32_t>(getpid()); }

uint32_t TZNTEnvironment::ThreadID() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

uint32_t TZNTEnvironment::TickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000;
  return static_cast<uint32_t>(ms);
}

std::string TZNTEnvironment::ProcessIdentity() {
  return ComputerName() + ":" + std::to_string(ProcessID());
}

namespace {

std::mutex& SourceMutex() {
  static std::mutex m;
  return m;
}

TZNTClock::Source& InstalledSource() {
  static TZNTClock::Source source;
  return source;
}

int64_t FromTm(const tm& t, long nsec) {
  int32_t day = 0, msecs = 0;
  TryEncodeDate(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, day);
  TryEncodeTime(t.tm_hour, t.tm_min, t.tm_sec > 59 ? 59 : t.tm_sec,
                static_cast<int>(nsec / 1000000), msecs);
  return EncodeTimestamp(day, msecs);
}

int64_t ReadClock(bool utc) {
  {
    std::lock_guard<std::mutex> lock(SourceMutex());
    if (InstalledSource()) return InstalledSource()();
  }
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm t;
  if (utc)
    gmtime_r(&ts.tv_sec, &t);
  else
    localtime_r(&ts.tv_sec, &t);
  return FromTm(t, ts.tv_nsec);
}

}  // namespace

int64_t TZNTClock::Now() { return ReadClock(false); }
int64_t TZNTClock::NowUTC() { return ReadClock(true); }
int32_t TZNTClock::Today() { return TimestampDate(Now()); }

void TZNTClock::SetSource(Source source) {
  std::lock_guard<std::mutex> lock(SourceMutex());
  InstalledSource() = std::move(source);
}

TZNTFixedClock::TZNTFixedClock(int64_t timestamp) {
  TZNTClock::SetSource([timestamp] { return timestamp; });
}

TZNTFixedClock::~TZNTFixedClock() { TZNTClock::SetSource(nullptr); }

}  // namespace znt
