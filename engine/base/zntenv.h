// What the engine asks of the machine it runs on, and the clock seam: the one
// place where the engine and the program read "now" and "today".
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace znt {

// Facts of the running process and machine. Cheap to construct; holds no
// resources.
class TZNTEnvironment {
 public:
  // The temporary folder with a trailing '/': $TMPDIR when set and non-empty,
  // otherwise /tmp/.
  static std::string TempPath();
  // The host name, cut to 15 characters as a computer name is.
  static std::string ComputerName();
  static uint32_t ProcessID();
  static uint32_t ThreadID();
  // Milliseconds of a monotonic clock, wrapping at 2^32 like a tick count.
  static uint32_t TickCount();
  // Milliseconds from `start` to `now` across one wrap of the tick count.
  static uint32_t TickDifference(uint32_t start, uint32_t now) { return now - start; }
  // "<computer name>:<process id>", the identity sessions record.
  static std::string ProcessIdentity();
};

// The clock. Now() and Today() read the computer's local time unless a test
// has installed its own source; UTC readings follow the same source.
class TZNTClock {
 public:
  // A source answers the local time as an engine timestamp
  // (day number x 86400000 + milliseconds of the day).
  using Source = std::function<int64_t()>;

  static int64_t Now();      // local timestamp
  static int64_t NowUTC();   // UTC timestamp; an installed source answers both
  static int32_t Today();    // local day number
  // Installs `source` (empty restores the real clock). For tests.
  static void SetSource(Source source);
};

// Installs a fixed local time for the lifetime of the object, restoring the
// real clock afterwards.
class TZNTFixedClock {
 public:
  explicit TZNTFixedClock(int64_t timestamp);
  ~TZNTFixedClock();
  TZNTFixedClock(const TZNTFixedClock&) = delete;
  TZNTFixedClock& operator=(const TZNTFixedClock&) = delete;
};

}  // namespace znt
