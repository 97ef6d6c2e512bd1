#include "components/zntcomps.h"

#include <algorithm>
#include <cassert>
#include <mutex>
#include <utility>

#include "base/zntenv.h"
#include "base/zntstring.h"
#include "data/dberror.h"

namespace znt {

namespace {

constexpr const char* kEngineStarted =
    "Cannot perform this operation when the engine has been started";
constexpr const char* kSessionOpen = "Cannot perform this operation on an open session";
constexpr const char* kDatabaseOpen = "Cannot perform this operation on an open database";
constexpr const char* kDatabaseClosed = "Cannot perform this operation on a closed database";
constexpr const char* kOpenAutoSession = "Cannot perform this operation on the open auto-session";

// Every database component of the process, so that a session finds the
// closed ones that name it as well as those bound to it.
std::mutex g_databases_mutex;
std::vector<TZNTDatabase*> g_databases;

template <class T>
void EraseFrom(std::vector<T*>& list, const T* item) noexcept {
  auto it = std::find(list.begin(), list.end(), item);
  if (it != list.end()) list.erase(it);
}

// Runs an engine call: a silent abort and the components' own errors pass,
// anything else arrives as EZNTError.
template <class F>
void CallEngine(F&& call) {
  try {
    call();
  } catch (const EZNTAbortException&) {
    throw;
  } catch (const fyn::EDatabaseError&) {
    throw;
  } catch (...) {
    throw CurrentExceptionAsZNTError();
  }
}

// The engine components and their shared instance. The instance lives from
// the first engine component to the last.
std::mutex g_engines_mutex;
TZNTEngineInstance* g_instance = nullptr;
std::vector<TZNTEngine*> g_engines;

// The component named as sender of the engine events: the one the program
// placed when there is one, else the default.
TZNTEngine& EventSender() {
  std::lock_guard<std::mutex> guard(g_engines_mutex);
  assert(!g_engines.empty());
  return *g_engines.back();
}

void Fire(const TZNTEngineInstance::EngineEvent& event) {
  if (event) event(EventSender());
}

}  // namespace

// ---------------------------------------------------------------------------
// TZNTEngine
// ---------------------------------------------------------------------------

TZNTEngine& DefaultEngine() {
  static TZNTEngine engine{TZNTEngine::DefaultTag{}};
  return engine;
}

TZNTSession& DefaultSession() {
  DefaultEngine();
  static TZNTSession session{TZNTSession::DefaultTag{}};
  return session;
}

TZNTEngine::TZNTEngine(DefaultTag) { Register(); }

TZNTEngine::TZNTEngine() {
  DefaultSession();
  Register();
}

void TZNTEngine::Register() {
  std::lock_guard<std::mutex> guard(g_engines_mutex);
  if (g_engines.size() >= 2) throw fyn::EDatabaseError("An engine component already exists");
  if (g_instance == nullptr) g_instance = new TZNTEngineInstance();
  g_engines.push_back(this);
}

TZNTEngine::~TZNTEngine() {
  TZNTEngineInstance* last = nullptr;
  {
    std::lock_guard<std::mutex> guard(g_engines_mutex);
    g_engines.erase(std::find(g_engines.begin(), g_engines.end(), this));
    if (g_engines.empty()) std::swap(last, g_instance);
  }
  delete last;
}

TZNTEngineInstance& TZNTEngine::Instance() {
  if (g_instance == nullptr) DefaultEngine();
  return *g_instance;
}

bool TZNTEngine::Active() const { return Instance().Manager().Started(); }

void TZNTEngine::SetActive(bool value) {
  if (value)
    StartEngine();
  else
    StopEngine();
}

void TZNTEngine::CheckInactive() const {
  if (Active()) throw fyn::EDatabaseError(kEngineStarted);
}

TZNTEngineType TZNTEngine::EngineType() const { return Instance().engine_type; }

void TZNTEngine::SetEngineType(TZNTEngineType value) {
  if (value == Instance().engine_type) return;
  CheckInactive();
  Instance().engine_type = value;
}

bool TZNTEngine::UseLocalSessionEngineSettings() const {
  return Instance().use_local_session_engine_settings;
}

void TZNTEngine::SetUseLocalSessionEngineSettings(bool value) {
  if (value == Instance().use_local_session_engine_settings) return;
  CheckInactive();
  Instance().use_local_session_engine_settings = value;
}

const TZNTEngineSettings& TZNTEngine::Settings() const { return Instance().settings; }

void TZNTEngine::SetSecret(std::string TZNTEngineSettings::*field, std::string_view value) {
  std::string& target = Instance().settings.*field;
  if (target == value) return;
  CheckInactive();
  target.assign(value);
}

void TZNTEngine::SetName(std::string TZNTEngineSettings::*field, std::string_view value) {
  std::string& target = Instance().settings.*field;
  if (ZNTSameText(target, value)) return;
  CheckInactive();
  target.assign(value);
}

void TZNTEngine::SetExtension(std::string TZNTEngineSettings::*field, std::string_view value) {
  SetName(field, NormalisedExtension(value));
}

void TZNTEngine::SetLargeFileSupport(bool value) {
  if (value == Settings().large_file_support) return;
  CheckInactive();
  Instance().settings.large_file_support = value;
}

void TZNTEngine::SetMaxLogFileSize(int64_t value) {
  value = NormalisedMaxLogFileSize(value);
  if (value == Settings().max_log_file_size) return;
  CheckInactive();
  Instance().settings.max_log_file_size = value;
}

void TZNTEngine::SetLogCategories(TZNTLogCategories value) {
  value &= kZNTLogAllCategories;
  if (value == Settings().log_categories) return;
  CheckInactive();
  Instance().settings.log_categories = value;
}

const TZNTServerSettings& TZNTEngine::ServerSettings() const { return Instance().server; }

void TZNTEngine::SetServerSettings(const TZNTServerSettings& value) {
  TZNTServerSettings s = value;
  s.Normalise();
  const TZNTServerSettings& c = Instance().server;
  const bool same =
      ZNTSameText(s.name, c.name) && s.description == c.description && s.address == c.address &&
      s.port == c.port && s.thread_cache_size == c.thread_cache_size &&
      s.encrypted_only == c.encrypted_only && s.session_timeout == c.session_timeout &&
      s.dead_session_interval == c.dead_session_interval &&
      s.dead_session_expiration == c.dead_session_expiration &&
      s.max_dead_sessions == c.max_dead_sessions &&
      s.authorized_addresses == c.authorized_addresses &&
      s.blocked_addresses == c.blocked_addresses && s.run_jobs == c.run_jobs &&
      s.job_category == c.job_category;
  if (same) return;
  CheckInactive();
  Instance().server = std::move(s);
}

void TZNTEngine::SetBeforeStart(Event e) { Instance().before_start = std::move(e); }
void TZNTEngine::SetAfterStart(Event e) { Instance().after_start = std::move(e); }
void TZNTEngine::SetBeforeStop(Event e) { Instance().before_stop = std::move(e); }
void TZNTEngine::SetAfterStop(Event e) { Instance().after_stop = std::move(e); }

void StartEngine() {
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  TZNTEngineManager& manager = instance.Manager();
  if (manager.Started()) return;
  Fire(instance.before_start);
  try {
    manager.Settings().Assign(instance.settings);
    manager.Start();
    Fire(instance.after_start);
  } catch (...) {
    EZNTError error = CurrentExceptionAsZNTError();
    // The failure is what the caller must see; the stop notifications and
    // the stop itself may not replace it.
    try {
      Fire(instance.before_stop);
    } catch (...) {
    }
    try {
      manager.Stop();
    } catch (...) {
    }
    try {
      Fire(instance.after_stop);
    } catch (...) {
    }
    throw error;
  }
}

void StopEngine() {
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  TZNTEngineManager& manager = instance.Manager();
  if (!manager.Started()) return;
  Fire(instance.before_stop);
  std::vector<TZNTSession*> sessions;
  {
    std::lock_guard<std::recursive_mutex> guard(instance.Lock());
    sessions = instance.Sessions();
  }
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->SetConnected(false);
  try {
    manager.Stop();
  } catch (...) {
    throw CurrentExceptionAsZNTError();
  }
  Fire(instance.after_stop);
}

// ---------------------------------------------------------------------------
// TZNTComponentOwner
// ---------------------------------------------------------------------------

TZNTComponentOwner::~TZNTComponentOwner() {
  for (TZNTSession* s : sessions_) s->owner_ = nullptr;
  for (TZNTDatabase* d : databases_) d->owner_ = nullptr;
}

// ---------------------------------------------------------------------------
// TZNTSession
// ---------------------------------------------------------------------------

TZNTSession::TZNTSession(DefaultTag)
    : session_name_("Default"), session_description_("Auto-Created Default Session") {
  Init();
}

TZNTSession::TZNTSession(TZNTComponentOwner* owner) : owner_(owner) {
  DefaultSession();
  Init();
  if (owner_ != nullptr) owner_->sessions_.push_back(this);
}

void TZNTSession::Init() {
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  local_ = instance.settings;
  instance.AddSession(*this);
}

TZNTSession::~TZNTSession() {
  try {
    SetConnected(false);
  } catch (...) {
  }
  temporaries_.clear();
  for (TZNTDatabase* db : databases_) db->session_ = nullptr;
  if (auto_number_ != 0) TZNTEngine::Instance().ReleaseAutoSessionNumber(auto_number_);
  if (owner_ != nullptr) EraseFrom(owner_->sessions_, this);
  TZNTEngine::Instance().RemoveSession(*this);
}

TZNTSession& TZNTSession::Find(std::string_view name) {
  if (name.empty()) return DefaultSession();
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  std::lock_guard<std::recursive_mutex> guard(instance.Lock());
  for (TZNTSession* s : instance.Sessions())
    if (ZNTSameText(s->session_name_, name)) return *s;
  fyn::DatabaseErrorFmt("Session name '%s' is not valid", std::string(name));
}

void TZNTSession::CheckDisconnected() const {
  if (Connected()) throw fyn::EDatabaseError(kSessionOpen);
}

void TZNTSession::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value)
    Connect();
  else
    Disconnect();
}

void TZNTSession::Connect() {
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  if (session_type_ == TZNTSessionType::Remote && instance.engine_type == TZNTEngineType::Server)
    throw fyn::EDatabaseError("Cannot connect a remote session with the server engine");
  StartEngine();
  if (before_connect_) before_connect_(*this);
  if (session_name_.empty()) throw fyn::EDatabaseError("Session name is missing");
  try {
    manager_ = std::make_unique<TZNTLocalSessionManager>(instance.Manager());
    manager_->Options() = options_;
    if (instance.use_local_session_engine_settings) manager_->Settings().Assign(local_);
    manager_->StartSession(TZNTEnvironment::ProcessIdentity(), session_name_, session_description_);
    if (on_login_) {
      manager_->SetLoginHandler([this](std::string& user, std::string& password) {
        bool go_on = true;
        on_login_(*this, user, password, go_on);
        return go_on;
      });
    }
    manager_->Login(login_user_, login_password_);
  } catch (const EZNTAbortException&) {
    try {
      Disconnect();
    } catch (...) {
    }
    throw;
  } catch (...) {
    EZNTError error = CurrentExceptionAsZNTError();
    try {
      Disconnect();
    } catch (...) {
    }
    throw error;
  }
  if (after_connect_) after_connect_(*this);
}

void TZNTSession::Disconnect() {
  if (before_disconnect_) before_disconnect_(*this);
  const std::vector<TZNTDatabase*> databases = databases_;
  for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
    if ((*it)->temporary_)
      FreeTemporary(**it);
    else
      (*it)->SetConnected(false);
  }
  temporaries_.clear();
  if (manager_) {
    std::unique_ptr<TZNTSessionManager> manager = std::move(manager_);
    try {
      manager->Logout();
      manager->StopSession();
    } catch (const EZNTAbortException&) {
      throw;
    } catch (...) {
      throw CurrentExceptionAsZNTError();
    }
  }
  if (after_disconnect_) after_disconnect_(*this);
}

void TZNTSession::CheckUniqueName(std::string_view name) const {
  if (name.empty()) return;
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  std::lock_guard<std::recursive_mutex> guard(instance.Lock());
  for (TZNTSession* s : instance.Sessions())
    if (s != this && ZNTSameText(s->session_name_, name))
      fyn::DatabaseErrorFmt("Session name '%s' already exists", std::string(name));
}

void TZNTSession::SetSessionName(std::string_view name) {
  if (name == session_name_) return;
  // An auto-session's name is made from its component name and number.
  if (auto_session_name_) throw fyn::EDatabaseError(kOpenAutoSession);
  CheckDisconnected();
  CheckUniqueName(name);
  session_name_.assign(name);
}

namespace {

std::string AutoName(std::string_view name, int number) {
  return std::string(name) + "_" + std::to_string(number);
}

}  // namespace

void TZNTSession::SetName(std::string_view name) {
  if (name == name_) return;
  if (auto_session_name_) {
    if (Connected()) throw fyn::EDatabaseError(kOpenAutoSession);
    const std::string session = AutoName(name, auto_number_);
    CheckUniqueName(session);
    const std::string old = std::exchange(session_name_, session);
    try {
      CopySessionNameToOwner();
    } catch (...) {
      session_name_ = old;
      throw;
    }
  }
  name_.assign(name);
}

void TZNTSession::SetAutoSessionName(bool value) {
  if (value == auto_session_name_) return;
  CheckDisconnected();
  TZNTEngineInstance& instance = TZNTEngine::Instance();
  if (!value) {
    instance.ReleaseAutoSessionNumber(auto_number_);
    auto_number_ = 0;
    auto_session_name_ = false;
    return;
  }
  if (owner_ != nullptr) {
    for (const TZNTSession* s : owner_->sessions_)
      if (s != this && s->auto_session_name_)
        throw fyn::EDatabaseError("This auto-session already exists");
    for (const TZNTSession* s : owner_->sessions_)
      if (s != this)
        throw fyn::EDatabaseError("The open auto-session can be the only open session");
  }
  const int number = instance.AcquireAutoSessionNumber();
  const std::string old = session_name_;
  try {
    const std::string session = AutoName(name_, number);
    CheckUniqueName(session);
    session_name_ = session;
    CopySessionNameToOwner();
  } catch (...) {
    session_name_ = old;
    instance.ReleaseAutoSessionNumber(number);
    throw;
  }
  auto_number_ = number;
  auto_session_name_ = true;
}

void TZNTSession::CopySessionNameToOwner() {
  if (owner_ == nullptr) return;
  for (const TZNTDatabase* db : owner_->databases_)
    if (db->session_name_ != session_name_) db->CheckClosed();
  for (TZNTDatabase* db : owner_->databases_) db->session_name_ = session_name_;
}

void TZNTSession::SetSessionDescription(std::string_view text) {
  if (text == session_description_) return;
  CheckDisconnected();
  session_description_.assign(text);
}

void TZNTSession::SetSessionType(TZNTSessionType value) {
  if (value == session_type_) return;
  CheckDisconnected();
  session_type_ = value;
}

void TZNTSession::SetKeepConnections(bool value) {
  if (value == keep_connections_) return;
  CheckDisconnected();
  keep_connections_ = value;
}

void TZNTSession::SetKeepTablesOpen(bool value) {
  if (value == options_.keep_tables_open) return;
  CheckDisconnected();
  options_.keep_tables_open = value;
}

void TZNTSession::SetForceBufferFlush(bool value) {
  if (value == options_.force_buffer_flush) return;
  CheckDisconnected();
  options_.force_buffer_flush = value;
}

void TZNTSession::SetRecordLockProtocol(TZNTRecordLockProtocol value) {
  if (value == options_.record_lock_protocol) return;
  CheckDisconnected();
  options_.record_lock_protocol = value;
}

void TZNTSession::SetRecordLockRetryCount(int32_t value) {
  value = std::max(value, 0);
  if (value == options_.record_lock_retry_count) return;
  CheckDisconnected();
  options_.record_lock_retry_count = value;
}

void TZNTSession::SetRecordLockWaitTime(int32_t value) {
  value = std::max(value, 0);
  if (value == options_.record_lock_wait_time) return;
  CheckDisconnected();
  options_.record_lock_wait_time = value;
}

void TZNTSession::SetRecordChangeDetection(bool value) {
  if (value == options_.record_change_detection) return;
  CheckDisconnected();
  options_.record_change_detection = value;
}

void TZNTSession::SetProgressTimeInterval(int32_t value) {
  value = std::max(value, 100);
  if (value == options_.progress_time_interval) return;
  CheckDisconnected();
  options_.progress_time_interval = value;
}

void TZNTSession::SetLoginUser(std::string_view value) {
  if (value == login_user_) return;
  CheckDisconnected();
  login_user_.assign(value);
}

void TZNTSession::SetLoginPassword(std::string_view value) {
  if (value == login_password_) return;
  CheckDisconnected();
  login_password_.assign(value);
}

void TZNTSession::SetLocalSettings(const TZNTEngineSettings& value) {
  TZNTEngineSettings s = value;
  s.Normalise();
  if (s.SameAs(local_)) return;
  CheckDisconnected();
  local_ = std::move(s);
}

TZNTDatabase* TZNTSession::FindDatabase(std::string_view name) const noexcept {
  for (TZNTDatabase* db : databases_)
    if (ZNTSameText(db->database_name_, name)) return db;
  return nullptr;
}

void TZNTSession::Bind(TZNTDatabase& database) {
  if (std::find(databases_.begin(), databases_.end(), &database) == databases_.end())
    databases_.push_back(&database);
  database.session_ = this;
}

void TZNTSession::Unbind(const TZNTDatabase& database) noexcept {
  EraseFrom(databases_, &database);
}

bool TZNTSession::IsNamedBy(std::string_view session_name) const noexcept {
  if (session_name.empty()) return this == &DefaultSession();
  return ZNTSameText(session_name, session_name_);
}

TZNTDatabase* TZNTSession::LookupDatabase(std::string_view name) const {
  if (TZNTDatabase* bound = FindDatabase(name)) return bound;
  std::lock_guard<std::mutex> guard(g_databases_mutex);
  for (TZNTDatabase* db : g_databases)
    if (db->session_ == nullptr && IsNamedBy(db->session_name_) &&
        ZNTSameText(db->database_name_, name))
      return db;
  return nullptr;
}

TZNTDatabase& TZNTSession::OpenDatabase(std::string_view name) {
  SetConnected(true);
  TZNTDatabase* db = LookupDatabase(name);
  if (db == nullptr) {
    auto made = std::make_unique<TZNTDatabase>();
    made->database_name_.assign(name);
    made->database_.assign(name);
    made->session_name_ = session_name_;
    made->keep_connection_ = keep_connections_;
    made->temporary_ = true;
    db = made.get();
    temporaries_.push_back(std::move(made));
  }
  try {
    db->Open();
  } catch (...) {
    if (db->temporary_) FreeTemporary(*db);
    throw;
  }
  ++db->implicit_users_;
  return *db;
}

void TZNTSession::CloseDatabase(TZNTDatabase& database) {
  if (database.implicit_users_ > 0) --database.implicit_users_;
  if (database.implicit_users_ > 0 || database.keep_connection_) return;
  if (database.temporary_)
    FreeTemporary(database);
  else
    database.Close();
}

void TZNTSession::FreeTemporary(const TZNTDatabase& database) noexcept {
  auto it = std::find_if(temporaries_.begin(), temporaries_.end(),
                         [&](const auto& p) { return p.get() == &database; });
  if (it == temporaries_.end()) return;
  // Out of the list first: its destructor unbinds it from this session.
  std::unique_ptr<TZNTDatabase> doomed = std::move(*it);
  temporaries_.erase(it);
}

// ---------------------------------------------------------------------------
// TZNTDatabase
// ---------------------------------------------------------------------------

TZNTDatabase::TZNTDatabase(TZNTComponentOwner* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->databases_.push_back(this);
  std::lock_guard<std::mutex> guard(g_databases_mutex);
  g_databases.push_back(this);
}

TZNTDatabase::~TZNTDatabase() {
  try {
    SetConnected(false);
  } catch (...) {
  }
  if (session_ != nullptr) session_->Unbind(*this);
  if (owner_ != nullptr) EraseFrom(owner_->databases_, this);
  std::lock_guard<std::mutex> guard(g_databases_mutex);
  EraseFrom(g_databases, this);
}

void TZNTDatabase::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value)
    DoOpen();
  else
    DoClose();
}

void TZNTDatabase::DoOpen() {
  if (database_name_.empty()) throw fyn::EDatabaseError("Database name is missing");
  TZNTSession& session = TZNTSession::Find(session_name_);
  TZNTDatabase* other = session.FindDatabase(database_name_);
  if (other != nullptr && other != this)
    fyn::DatabaseErrorFmt("Database name '%s' already exists", database_name_);
  if (before_connect_) before_connect_(*this);
  session.Bind(*this);
  try {
    session.SetConnected(true);
    manager_ = &session.Manager()->OpenDatabase(database_, TZNTOpenMode::Shared);
  } catch (const EZNTAbortException&) {
    session.Unbind(*this);
    session_ = nullptr;
    throw;
  } catch (const fyn::EDatabaseError&) {
    session.Unbind(*this);
    session_ = nullptr;
    throw;
  } catch (...) {
    session.Unbind(*this);
    session_ = nullptr;
    throw CurrentExceptionAsZNTError();
  }
  if (after_connect_) after_connect_(*this);
}

void TZNTDatabase::DoClose() {
  if (before_disconnect_) before_disconnect_(*this);
  if (in_transaction_ && manager_ != nullptr) {
    // The component that started the transaction takes it with it; the
    // close below is what the caller asked for, so a failed rollback may
    // not stop it.
    try {
      manager_->Rollback();
    } catch (...) {
    }
  }
  in_transaction_ = false;
  implicit_users_ = 0;
  TZNTSession* session = session_;
  TZNTDatabaseManager* manager = manager_;
  manager_ = nullptr;
  session_ = nullptr;
  if (session != nullptr) {
    session->Unbind(*this);
    try {
      if (session->Manager() != nullptr) session->Manager()->CloseDatabase(manager);
    } catch (const EZNTAbortException&) {
      throw;
    } catch (...) {
      throw CurrentExceptionAsZNTError();
    }
  }
  if (after_disconnect_) after_disconnect_(*this);
}

void TZNTDatabase::CheckClosed() const {
  if (Connected()) throw fyn::EDatabaseError(kDatabaseOpen);
}

void TZNTDatabase::SetDatabaseName(std::string_view value) {
  if (value == database_name_) return;
  CheckClosed();
  database_name_.assign(value);
}

void TZNTDatabase::SetDatabase(std::string_view value) {
  if (value == database_) return;
  CheckClosed();
  database_.assign(value);
}

void TZNTDatabase::SetSessionName(std::string_view value) {
  if (value == session_name_) return;
  CheckClosed();
  session_name_.assign(value);
}

TZNTDatabaseManager& TZNTDatabase::DatabaseManager() const {
  if (manager_ == nullptr) throw fyn::EDatabaseError(kDatabaseClosed);
  return *manager_;
}

void TZNTDatabase::CheckInTransaction() const {
  if (!in_transaction_)
    fyn::DatabaseErrorFmt("Database '%s' has no active transaction", database_name_);
}

void TZNTDatabase::StartTransaction(const std::vector<std::string>& tables) {
  TZNTDatabaseManager& manager = DatabaseManager();
  if (in_transaction_)
    fyn::DatabaseErrorFmt("Database '%s' already has an active transaction", database_name_);
  CallEngine([&] { manager.StartTransaction(tables); });
  in_transaction_ = true;
}

void TZNTDatabase::Commit(bool force_flush) {
  CheckInTransaction();
  CallEngine([&] { DatabaseManager().Commit(force_flush); });
  in_transaction_ = false;
}

void TZNTDatabase::Rollback() {
  CheckInTransaction();
  CallEngine([&] { DatabaseManager().Rollback(); });
  in_transaction_ = false;
}

}  // namespace znt
