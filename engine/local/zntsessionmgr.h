// A session of the engine: its copy of the settings, its configuration with
// the configuration lock file and the log, the logged-in user, and one
// database manager per database it has opened. Created by a connecting
// session component and used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "base/zntlogmgr.h"
#include "catalog/zntconfig.h"
#include "local/zntdbmgr.h"
#include "local/zntlocal.h"
#include "storage/zntlockmgr.h"
#include "storage/zntlogfile.h"

namespace znt {

enum class TZNTRecordLockProtocol { Pessimistic, Optimistic };

// What a session component hands to its session manager at connect.
struct TZNTSessionOptions {
  bool keep_tables_open = false;
  TZNTRecordLockProtocol record_lock_protocol = TZNTRecordLockProtocol::Pessimistic;
  int32_t record_lock_retry_count = 15;
  int32_t record_lock_wait_time = 100;
  bool record_change_detection = false;
  bool force_buffer_flush = false;
  int32_t progress_time_interval = 1000;
};

// The session-manager interface. Construction registers with the engine
// manager (which gives the session ID) and copies its settings;
// destruction unregisters.
class TZNTSessionManager {
 public:
  // Asks for a user name and password (both may be edited); returns whether
  // to go on.
  using LoginHandler = std::function<bool(std::string& user, std::string& password)>;

  explicit TZNTSessionManager(TZNTEngineManager& engine);
  virtual ~TZNTSessionManager();
  TZNTSessionManager(const TZNTSessionManager&) = delete;
  TZNTSessionManager& operator=(const TZNTSessionManager&) = delete;

  TZNTEngineManager& Engine() const noexcept { return engine_; }
  int32_t SessionID() const noexcept { return session_id_; }
  // The session's own copy of the engine settings; change it before
  // StartSession.
  TZNTEngineManagerSettings& Settings() noexcept { return settings_; }
  TZNTSessionOptions& Options() noexcept { return options_; }
  void SetLoginHandler(LoginHandler handler) { login_handler_ = std::move(handler); }
  bool HasLoginHandler() const noexcept { return static_cast<bool>(login_handler_); }

  const std::string& ProcessIdentity() const noexcept { return process_; }
  const std::string& SessionName() const noexcept { return session_name_; }
  const std::string& SessionDescription() const noexcept { return session_description_; }

  virtual bool Started() const noexcept = 0;
  // Opens the session's configuration, lock file and log.
  virtual void StartSession(std::string_view process, std::string_view name,
                            std::string_view description) = 0;
  // Logs out and releases every file; never raises.
  virtual void StopSession() noexcept = 0;
  virtual void Login(std::string_view user, std::string_view password) = 0;
  virtual void Logout() = 0;
  virtual bool LoggedIn() const noexcept = 0;
  virtual const std::string& CurrentUserName() const noexcept = 0;
  // The open database manager of the configuration's database `name`.
  virtual TZNTDatabaseManager& OpenDatabase(std::string_view name, TZNTOpenMode mode) = 0;
  // Gives up one use of `database` and clears the pointer.
  virtual void CloseDatabase(TZNTDatabaseManager*& database) = 0;

 protected:
  // Runs the login handler: whether one ran, and whether to go on.
  struct LoginAnswer {
    bool ran = false;
    bool go_on = false;
  };
  LoginAnswer DoLogin(std::string& user, std::string& password);

  std::string process_;
  std::string session_name_;
  std::string session_description_;

 private:
  TZNTEngineManager& engine_;
  TZNTEngineManagerSettings settings_;
  TZNTSessionOptions options_;
  LoginHandler login_handler_;
  int32_t session_id_ = 0;
};

// The in-process session manager.
class TZNTLocalSessionManager : public TZNTSessionManager {
 public:
  explicit TZNTLocalSessionManager(TZNTEngineManager& engine);
  ~TZNTLocalSessionManager() override;

  bool Started() const noexcept override { return started_; }
  // Error 409 "The configuration path is empty" for an empty path; then
  // opens the configuration lock file (taking a slot), the configuration
  // (created holding the user "Administrator" when missing) and the log.
  // A failure closes what was opened; errors are logged with code 1.
  void StartSession(std::string_view process, std::string_view name,
                    std::string_view description) override;
  void StopSession() noexcept override;
  // Tries `user` and `password` when both are given, then the login
  // handler; error 501 for no handler ("The user name or password is
  // incorrect"), a declining one ("Login aborted") and the third failure
  // ("The maximum number of login attempts has been exceeded"). Success
  // takes the user's Shared lock and logs operation 3; errors log code 3.
  void Login(std::string_view user, std::string_view password) override;
  // Releases the user's lock and logs operation 4; errors log code 4.
  void Logout() override;
  bool LoggedIn() const noexcept override { return !user_.empty(); }
  const std::string& CurrentUserName() const noexcept override { return user_; }
  // Error 500 unless logged in; error 401 "The database X does not exist"
  // for a name the configuration lacks. Errors log code 33.
  TZNTDatabaseManager& OpenDatabase(std::string_view name, TZNTOpenMode mode) override;
  void CloseDatabase(TZNTDatabaseManager*& database) override;

  // The disk (or, for an in-memory configuration, memory) file manager.
  TZNTFileManager& Files() const;
  TZNTConfigLockManager* ConfigLocks() const noexcept { return config_locks_.get(); }
  TZNTConfigManager* ConfigManager() const noexcept { return config_.get(); }
  TZNTLogFile* Log() const noexcept { return log_.get(); }
  // The user's lock in the configuration lock file; holds nothing when no
  // user is logged in.
  const TZNTLockable& UserLock() const noexcept { return user_lock_; }
  // The session's database managers, by upper-cased name.
  size_t DatabaseManagerCount() const noexcept { return databases_.size(); }

  // Writes an event with the common fields filled in when its category is
  // enabled. Never raises: a log that cannot be written loses the event.
  void LogEvent(TZNTLogCategory category, int32_t operation, int32_t error_code,
                std::string_view description) noexcept;
  // Logs the exception in flight as an error of `operation` (call in a
  // catch block).
  void LogCurrentError(int32_t operation) noexcept;

 private:
  void CloseFiles() noexcept;
  bool TryLogin(const std::string& user, const std::string& password);

  bool started_ = false;
  std::unique_ptr<TZNTConfigLockManager> config_locks_;
  std::unique_ptr<TZNTConfigManager> config_;
  TZNTLockable config_lock_;
  std::unique_ptr<TZNTLockableMetadataLocks> config_metadata_locks_;
  std::unique_ptr<TZNTLogFile> log_;
  std::string user_;
  TZNTLockable user_lock_;
  std::map<std::string, std::unique_ptr<TZNTLocalDatabaseManager>> databases_;
};

}  // namespace znt
