#include "local/zntsessionmgr.h"

#include <exception>

#include "base/zntconsts.h"
#include "base/zntenv.h"
#include "base/znterror.h"
#include "base/zntstring.h"

namespace znt {

namespace {

constexpr int kMaxLoginAttempts = 3;

[[noreturn]] void RaiseLoginFailed(std::string_view detail) {
  RaiseZNTError(err::LoginFailed, {detail});
}

// Releases a lock taken for the length of a scope, swallowing a failure to
// unlock (the lock file's close gives it back).
class TScopedLock {
 public:
  TScopedLock(TZNTLockable& object, TZNTLockKind kind) : object_(object), kind_(kind) {
    object_.Lock(kind_);
  }
  ~TScopedLock() {
    try {
      object_.Unlock(kind_);
    } catch (...) {
    }
  }
  TScopedLock(const TScopedLock&) = delete;
  TScopedLock& operator=(const TScopedLock&) = delete;

 private:
  TZNTLockable& object_;
  TZNTLockKind kind_;
};

// The configuration read for the length of a scope.
class TConfigRead {
 public:
  explicit TConfigRead(TZNTConfigManager& config) : config_(config) { config_.BeginRead(); }
  ~TConfigRead() { config_.EndRead(); }
  TConfigRead(const TConfigRead&) = delete;
  TConfigRead& operator=(const TConfigRead&) = delete;

 private:
  TZNTConfigManager& config_;
};

}  // namespace

// ---------------------------------------------------------------------------
// TZNTSessionManager
// ---------------------------------------------------------------------------

TZNTSessionManager::TZNTSessionManager(TZNTEngineManager& engine)
    : engine_(engine), settings_(engine.Settings().Snapshot()) {
  session_id_ = engine_.RegisterSession(*this);
}

TZNTSessionManager::~TZNTSessionManager() { engine_.UnregisterSession(*this); }

TZNTSessionManager::LoginAnswer TZNTSessionManager::DoLogin(std::string& user,
                                                            std::string& password) {
  LoginAnswer answer;
  if (!login_handler_) return answer;
  answer.ran = true;
  answer.go_on = login_handler_(user, password);
  return answer;
}

// ---------------------------------------------------------------------------
// TZNTLocalSessionManager
// ---------------------------------------------------------------------------

TZNTLocalSessionManager::TZNTLocalSessionManager(TZNTEngineManager& engine)
    : TZNTSessionManager(engine) {}

TZNTLocalSessionManager::~TZNTLocalSessionManager() { StopSession(); }

TZNTFileManager& TZNTLocalSessionManager::Files() const {
  auto& self = const_cast<TZNTLocalSessionManager&>(*this);
  TZNTEngineManagerSettings& s = self.Settings();
  if (s.InMemoryConfig()) return Engine().MemoryConfigFileManager();
  return Engine().DiskFileManager(s.LargeFileSupport());
}

void TZNTLocalSessionManager::StartSession(std::string_view process, std::string_view name,
                                           std::string_view description) {
  if (started_) return;
  const TZNTEngineManagerSettings& s = Settings();
  if (!s.InMemoryConfig() && s.ConfigPath().empty())
    RaiseZNTError(err::Configuration, {"The configuration path is empty"});
  TZNTFileManager& files = Files();
  const std::string& folder = s.ConfigPath();
  config_locks_ = std::make_unique<TZNTConfigLockManager>(
      files, folder, s.ConfigName() + s.LockExtension(), s.InMemoryConfig());
  config_ = std::make_unique<TZNTConfigManager>(
      files, folder, s.Metadata(),
      TZNTMetadataFileName{s.ConfigName(), s.ConfigExtension(), s.OldExtension()});
  config_lock_ = TZNTLockable::Configuration(config_locks_.get(), s.ConfigName());
  config_metadata_locks_ = std::make_unique<TZNTLockableMetadataLocks>(config_lock_);
  config_->SetLocks(config_metadata_locks_.get());
  log_ = std::make_unique<TZNTLogFile>(
      files, *config_locks_, JoinMetadataPath(folder, s.ConfigName() + s.LogExtension()),
      s.ConfigName(), static_cast<uint64_t>(s.MaxLogFileSize()), s.LogCategories());
  process_.assign(process);
  session_name_.assign(name);
  session_description_.assign(description);
  started_ = true;
  try {
    config_locks_->Open();
    config_->OpenMetadata();
    log_->Open();
  } catch (...) {
    LogCurrentError(op::OpenSession);
    CloseFiles();
    started_ = false;
    throw;
  }
}

void TZNTLocalSessionManager::StopSession() noexcept {
  if (!started_) return;
  try {
    Logout();
  } catch (...) {
    // Logout has logged it; stopping goes on regardless.
  }
  CloseFiles();
  started_ = false;
}

void TZNTLocalSessionManager::CloseFiles() noexcept {
  databases_.clear();
  user_.clear();
  user_lock_ = TZNTLockable();
  if (log_) log_->Close();
  if (config_) config_->CloseMetadata();
  if (config_locks_) config_locks_->Close();
  log_.reset();
  config_.reset();
  config_metadata_locks_.reset();
  config_lock_ = TZNTLockable();
  config_locks_.reset();
}

bool TZNTLocalSessionManager::TryLogin(const std::string& user, const std::string& password) {
  const TZNTUser* found = config_->Config().users.Find(user);
  if (found == nullptr || found->loginDisabled || found->password != password) return false;
  user_lock_ = TZNTLockable::User(config_locks_.get(), found->Name(),
                                  static_cast<uint32_t>(found->lockNumber));
  user_lock_.Lock(TZNTLockKind::Shared);
  user_ = found->Name();
  LogEvent(TZNTLogCategory::Information, op::Login, 0, "User " + user_ + " logged in");
  return true;
}

void TZNTLocalSessionManager::Login(std::string_view user_name, std::string_view password_text) {
  try {
    if (LoggedIn()) return;
    TConfigRead read(*config_);
    std::string user(user_name), password(password_text);
    bool to_try = !user.empty() && !password.empty();
    int failures = 0;
    while (true) {
      if (!to_try) {
        LoginAnswer answer = DoLogin(user, password);
        if (!answer.ran) RaiseLoginFailed("The user name or password is incorrect");
        if (!answer.go_on) RaiseLoginFailed("Login aborted");
      }
      if (TryLogin(user, password)) return;
      user.clear();
      password.clear();
      if (++failures >= kMaxLoginAttempts)
        RaiseLoginFailed("The maximum number of login attempts has been exceeded");
      to_try = false;
    }
  } catch (...) {
    LogCurrentError(op::Login);
    throw;
  }
}

void TZNTLocalSessionManager::Logout() {
  if (!LoggedIn()) return;
  try {
    // Databases hold the user's rights; they go with the user.
    databases_.clear();
    user_lock_.Unlock(TZNTLockKind::Shared);
    LogEvent(TZNTLogCategory::Information, op::Logout, 0, "User " + user_ + " logged out");
    user_.clear();
    user_lock_ = TZNTLockable();
  } catch (...) {
    LogCurrentError(op::Logout);
    user_.clear();
    user_lock_ = TZNTLockable();
    throw;
  }
}

TZNTDatabaseManager& TZNTLocalSessionManager::OpenDatabase(std::string_view name,
                                                           TZNTOpenMode mode) {
  try {
    if (!LoggedIn()) RaiseZNTError(err::NotLoggedIn, {"OPEN DATABASE " + std::string(name)});
    TConfigRead read(*config_);
    const TZNTDatabaseContainer* db = config_->Config().databases.Find(name);
    if (db == nullptr) RaiseZNTError(err::DoesNotExist, {"database", name});
    std::unique_ptr<TZNTLocalDatabaseManager>& slot = databases_[ZNTUpperCase(db->Name())];
    if (!slot) {
      slot = std::make_unique<TZNTLocalDatabaseManager>(
          *this, db->Name(), db->path, db->InMemory() || db->path.empty(), db->encryptedCatalog);
    }
    slot->Open(mode);
    return *slot;
  } catch (...) {
    LogCurrentError(op::OpenDatabase);
    throw;
  }
}

void TZNTLocalSessionManager::CloseDatabase(TZNTDatabaseManager*& database) {
  if (database == nullptr) return;
  try {
    database->Close();
  } catch (...) {
    database = nullptr;
    LogCurrentError(op::CloseDatabase);
    throw;
  }
  database = nullptr;
}

void TZNTLocalSessionManager::LogEvent(TZNTLogCategory category, int32_t operation,
                                       int32_t error_code, std::string_view description) noexcept {
  if (!log_ || !log_->IsOpen()) return;
  try {
    TZNTLogEvent event;
    event.category = category;
    event.operation = operation;
    event.error_code = error_code;
    event.description.assign(description);
    event.timestamp = TZNTClock::Now();
    event.user = user_;
    event.process = process_;
    event.thread_id = TZNTEnvironment::ThreadID();
    event.session_id = SessionID();
    event.session_name = session_name_;
    event.session_description = session_description_;
    log_->LogEvent(std::move(event));
  } catch (...) {
    // A log that cannot be written must not hide the error being logged.
  }
}

void TZNTLocalSessionManager::LogCurrentError(int32_t operation) noexcept {
  try {
    throw;
  } catch (const EZNTException& e) {
    LogEvent(TZNTLogCategory::Error, operation, e.ErrorCode(), e.ErrorMessage());
  } catch (const std::exception& e) {
    LogEvent(TZNTLogCategory::Error, operation, err::NonEngine, e.what());
  } catch (...) {
    LogEvent(TZNTLogCategory::Error, operation, err::NonEngine, "Unknown exception");
  }
}

}  // namespace znt
