// The components the program places on its data module: the engine, its
// sessions and their databases. They validate settings, fire their events
// and turn engine failures into EZNTError; misuse raises the data-access
// layer's EDatabaseError with fixed texts.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/zntcomperror.h"
#include "local/zntdbmgr.h"
#include "local/zntlocal.h"
#include "local/zntsessionmgr.h"

namespace znt {

class TZNTSession;
class TZNTDatabase;

// What a data module is to its components: it knows the session and
// database components created with it (it does not free them). Components
// leave it when destroyed; an owner destroyed first is forgotten by them.
class TZNTComponentOwner {
 public:
  TZNTComponentOwner() = default;
  ~TZNTComponentOwner();
  TZNTComponentOwner(const TZNTComponentOwner&) = delete;
  TZNTComponentOwner& operator=(const TZNTComponentOwner&) = delete;

  // The components created with this owner, in creation order.
  const std::vector<TZNTSession*>& Sessions() const noexcept { return sessions_; }
  const std::vector<TZNTDatabase*>& Databases() const noexcept { return databases_; }

 private:
  friend class TZNTSession;
  friend class TZNTDatabase;
  std::vector<TZNTSession*> sessions_;
  std::vector<TZNTDatabase*> databases_;
};

// The engine component. Every engine component shares the process's one
// engine instance: its settings, events and running engine. Besides the
// default component at most one more may exist.
class TZNTEngine {
 public:
  using Event = TZNTEngineInstance::EngineEvent;

  // A second engine component over the instance; a third raises "An engine
  // component already exists".
  TZNTEngine();
  // The last engine component gone frees the instance (stopping it).
  ~TZNTEngine();
  TZNTEngine(const TZNTEngine&) = delete;
  TZNTEngine& operator=(const TZNTEngine&) = delete;

  std::string_view EngineVersion() const noexcept { return kEngineVersionText; }

  // The engine manager's started flag. Setting it starts or stops the
  // engine with the Before/After events; a failed start leaves it stopped
  // and raises EZNTError.
  bool Active() const;
  void SetActive(bool value);

  // The settings; each setter does nothing for the current value (names
  // compared without case) and raises "Cannot perform this operation when
  // the engine has been started" for a change while started.
  TZNTEngineType EngineType() const;
  void SetEngineType(TZNTEngineType value);
  bool UseLocalSessionEngineSettings() const;
  void SetUseLocalSessionEngineSettings(bool value);
  // All the engine settings at once.
  const TZNTEngineSettings& Settings() const;
  const std::string& Signature() const { return Settings().signature; }
  void SetSignature(std::string_view v) { SetSecret(&TZNTEngineSettings::signature, v); }
  const std::string& EncryptionPassword() const { return Settings().encryption_password; }
  void SetEncryptionPassword(std::string_view v) {
    SetSecret(&TZNTEngineSettings::encryption_password, v);
  }
  bool LargeFileSupport() const { return Settings().large_file_support; }
  void SetLargeFileSupport(bool value);
  const std::string& ConfigPath() const { return Settings().config_path; }
  void SetConfigPath(std::string_view v) { SetName(&TZNTEngineSettings::config_path, v); }
  const std::string& ConfigName() const { return Settings().config_name; }
  void SetConfigName(std::string_view v) { SetName(&TZNTEngineSettings::config_name, v); }
  const std::string& ConfigExtension() const { return Settings().config_extension; }
  void SetConfigExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::config_extension, v);
  }
  const std::string& LockExtension() const { return Settings().lock_extension; }
  void SetLockExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::lock_extension, v);
  }
  const std::string& LogExtension() const { return Settings().log_extension; }
  void SetLogExtension(std::string_view v) { SetExtension(&TZNTEngineSettings::log_extension, v); }
  int64_t MaxLogFileSize() const { return Settings().max_log_file_size; }
  // Values below 262144 become 262144.
  void SetMaxLogFileSize(int64_t value);
  TZNTLogCategories LogCategories() const { return Settings().log_categories; }
  void SetLogCategories(TZNTLogCategories value);
  const std::string& CatalogName() const { return Settings().catalog_name; }
  void SetCatalogName(std::string_view v) { SetName(&TZNTEngineSettings::catalog_name, v); }
  const std::string& CatalogExtension() const { return Settings().catalog_extension; }
  void SetCatalogExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::catalog_extension, v);
  }
  const std::string& BackupExtension() const { return Settings().backup_extension; }
  void SetBackupExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::backup_extension, v);
  }
  const std::string& UpdateExtension() const { return Settings().update_extension; }
  void SetUpdateExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::update_extension, v);
  }
  const std::string& TableExtension() const { return Settings().table_extension; }
  void SetTableExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::table_extension, v);
  }
  const std::string& TableIndexExtension() const { return Settings().table_index_extension; }
  void SetTableIndexExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::table_index_extension, v);
  }
  const std::string& TableBlobExtension() const { return Settings().table_blob_extension; }
  void SetTableBlobExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::table_blob_extension, v);
  }
  const std::string& TablePublishExtension() const { return Settings().table_publish_extension; }
  void SetTablePublishExtension(std::string_view v) {
    SetExtension(&TZNTEngineSettings::table_publish_extension, v);
  }
  const std::string& TempTablesPath() const { return Settings().temp_tables_path; }
  void SetTempTablesPath(std::string_view v) { SetName(&TZNTEngineSettings::temp_tables_path, v); }
  // The server settings, numbers raised to their minimums; refused while
  // started like the others.
  const TZNTServerSettings& ServerSettings() const;
  void SetServerSettings(const TZNTServerSettings& value);

  // Plain notifications with this component as sender, shared by every
  // engine component.
  void SetBeforeStart(Event e);
  void SetAfterStart(Event e);
  void SetBeforeStop(Event e);
  void SetAfterStop(Event e);

  // The process's engine instance (alive while any engine component is).
  static TZNTEngineInstance& Instance();

 private:
  friend TZNTEngine& DefaultEngine();
  struct DefaultTag {};
  explicit TZNTEngine(DefaultTag);
  void Register();
  void CheckInactive() const;
  void SetSecret(std::string TZNTEngineSettings::*field, std::string_view value);
  void SetName(std::string TZNTEngineSettings::*field, std::string_view value);
  void SetExtension(std::string TZNTEngineSettings::*field, std::string_view value);
};

// The engine component created with the process, and the default session
// ("Default", "Auto-Created Default Session") that components with an empty
// session name use.
TZNTEngine& DefaultEngine();
TZNTSession& DefaultSession();

// Starts the engine of the instance if it is stopped (as Active on does).
void StartEngine();
// Stops it: disconnects every session, the last registered first.
void StopEngine();

enum class TZNTSessionType { Local, Remote };

// A session component: a connection to the engine with its own user and,
// optionally, its own engine settings. Connected exactly when it holds a
// session manager. Session names are unique in the process.
class TZNTSession {
 public:
  using Event = std::function<void(TZNTSession&)>;
  // Edits user name and password; clear `go_on` to abort the login.
  using LoginEvent =
      std::function<void(TZNTSession&, std::string& user, std::string& password, bool& go_on)>;

  // An unnamed, disconnected session with the engine's current settings as
  // its local copies, held by `owner` when one is given.
  explicit TZNTSession(TZNTComponentOwner* owner = nullptr);
  // Disconnects (swallowing failures), closes its databases and frees its
  // temporary ones.
  ~TZNTSession();
  TZNTSession(const TZNTSession&) = delete;
  TZNTSession& operator=(const TZNTSession&) = delete;

  // The session component named `name` (case-insensitive); the default one
  // for an empty name. Raises "Session name '%s' is not valid".
  static TZNTSession& Find(std::string_view name);

  bool Connected() const noexcept { return manager_ != nullptr; }
  // Connects or disconnects with the events; a failing connect leaves the
  // session disconnected and raises EZNTError (misuse: EDatabaseError).
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  TZNTComponentOwner* Owner() const noexcept { return owner_; }
  // The component's own name, from which an auto-session name is made.
  // Renaming a connected auto-named session raises "Cannot perform this
  // operation on the open auto-session".
  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string_view name);

  // The setters below raise "Cannot perform this operation on an open
  // session" while connected.
  const std::string& SessionName() const noexcept { return session_name_; }
  // Raises "Session name '%s' already exists" for a name another session
  // component has (case-insensitive), and "Cannot perform this operation on
  // the open auto-session" while AutoSessionName is on.
  void SetSessionName(std::string_view name);
  // On: the session name becomes Name() + "_" + the lowest number free among
  // auto-named sessions, and is copied to the owner's database components.
  // Refused with "This auto-session already exists" when the owner holds an
  // auto-named session, "The open auto-session can be the only open
  // session" when it holds any other session. Off gives the number back.
  bool AutoSessionName() const noexcept { return auto_session_name_; }
  void SetAutoSessionName(bool value);
  const std::string& SessionDescription() const noexcept { return session_description_; }
  void SetSessionDescription(std::string_view text);
  TZNTSessionType SessionType() const noexcept { return session_type_; }
  void SetSessionType(TZNTSessionType value);
  bool KeepConnections() const noexcept { return keep_connections_; }
  void SetKeepConnections(bool value);
  bool KeepTablesOpen() const noexcept { return options_.keep_tables_open; }
  void SetKeepTablesOpen(bool value);
  bool ForceBufferFlush() const noexcept { return options_.force_buffer_flush; }
  void SetForceBufferFlush(bool value);
  TZNTRecordLockProtocol RecordLockProtocol() const noexcept {
    return options_.record_lock_protocol;
  }
  void SetRecordLockProtocol(TZNTRecordLockProtocol value);
  // Negative values become 0.
  int32_t RecordLockRetryCount() const noexcept { return options_.record_lock_retry_count; }
  void SetRecordLockRetryCount(int32_t value);
  // Milliseconds; negative values become 0.
  int32_t RecordLockWaitTime() const noexcept { return options_.record_lock_wait_time; }
  void SetRecordLockWaitTime(int32_t value);
  bool RecordChangeDetection() const noexcept { return options_.record_change_detection; }
  void SetRecordChangeDetection(bool value);
  // Milliseconds; values below 100 become 100.
  int32_t ProgressTimeInterval() const noexcept { return options_.progress_time_interval; }
  void SetProgressTimeInterval(int32_t value);
  const std::string& LoginUser() const noexcept { return login_user_; }
  void SetLoginUser(std::string_view value);
  const std::string& LoginPassword() const noexcept { return login_password_; }
  void SetLoginPassword(std::string_view value);
  // The nineteen Local... settings, used when the engine's
  // UseLocalSessionEngineSettings is on; extensions and log size normalised.
  const TZNTEngineSettings& LocalSettings() const noexcept { return local_; }
  void SetLocalSettings(const TZNTEngineSettings& value);

  void SetOnLogin(LoginEvent e) { on_login_ = std::move(e); }
  void SetBeforeConnect(Event e) { before_connect_ = std::move(e); }
  void SetAfterConnect(Event e) { after_connect_ = std::move(e); }
  void SetBeforeDisconnect(Event e) { before_disconnect_ = std::move(e); }
  void SetAfterDisconnect(Event e) { after_disconnect_ = std::move(e); }

  // The session manager while connected, else null.
  TZNTSessionManager* Manager() const noexcept { return manager_.get(); }
  // The database components bound to this session, in binding order.
  const std::vector<TZNTDatabase*>& Databases() const noexcept { return databases_; }
  // The bound database component named `name` (case-insensitive), or null.
  TZNTDatabase* FindDatabase(std::string_view name) const noexcept;

  // The database a dataset names: connects the session, finds the database
  // component of this session with that DatabaseName (case-insensitive) or
  // creates a temporary one (DatabaseName and Database both `name`,
  // KeepConnection from KeepConnections), opens it and counts one implicit
  // user. A temporary one that fails to open is freed again.
  TZNTDatabase& OpenDatabase(std::string_view name);
  // Gives up one implicit use of `database`; at zero, unless KeepConnection
  // is on, a temporary database is freed and a permanent one closed.
  void CloseDatabase(TZNTDatabase& database);
  // The temporary database components this session made, in creation order.
  size_t TemporaryDatabaseCount() const noexcept { return temporaries_.size(); }

 private:
  friend class TZNTDatabase;
  friend class TZNTComponentOwner;
  friend TZNTSession& DefaultSession();
  struct DefaultTag {};
  explicit TZNTSession(DefaultTag);
  void Init();
  void CheckDisconnected() const;
  void Connect();
  void Disconnect();
  void Bind(TZNTDatabase& database);
  void Unbind(const TZNTDatabase& database) noexcept;
  void CheckUniqueName(std::string_view name) const;
  // Whether a database component naming `session_name` belongs here.
  bool IsNamedBy(std::string_view session_name) const noexcept;
  TZNTDatabase* LookupDatabase(std::string_view name) const;
  void FreeTemporary(const TZNTDatabase& database) noexcept;
  // Gives the owner's database components this session's name; refuses
  // (before changing any) when one that needs it is open.
  void CopySessionNameToOwner();

  TZNTComponentOwner* owner_ = nullptr;
  std::string name_;
  bool auto_session_name_ = false;
  int auto_number_ = 0;
  std::vector<std::unique_ptr<TZNTDatabase>> temporaries_;
  std::unique_ptr<TZNTSessionManager> manager_;
  std::string session_name_;
  std::string session_description_;
  TZNTSessionType session_type_ = TZNTSessionType::Local;
  bool keep_connections_ = true;
  TZNTSessionOptions options_;
  std::string login_user_;
  std::string login_password_;
  TZNTEngineSettings local_;
  LoginEvent on_login_;
  Event before_connect_, after_connect_, before_disconnect_, after_disconnect_;
  std::vector<TZNTDatabase*> databases_;
};

// A database component: a named connection to one database of the
// configuration, through a session.
class TZNTDatabase {
 public:
  using Event = std::function<void(TZNTDatabase&)>;

  // A closed database component, held by `owner` when one is given.
  explicit TZNTDatabase(TZNTComponentOwner* owner = nullptr);
  // Closes (swallowing failures) and leaves its session and owner.
  ~TZNTDatabase();
  TZNTDatabase(const TZNTDatabase&) = delete;
  TZNTDatabase& operator=(const TZNTDatabase&) = delete;

  bool Connected() const noexcept { return manager_ != nullptr; }
  // Opens: "Database name is missing" for an empty DatabaseName, "Database
  // name '%s' already exists" when another component of the session has
  // it; connects the session and opens the database, engine failures as
  // EZNTError (the component stays closed, the session connected).
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }

  // The setters below raise "Cannot perform this operation on an open
  // database" while open.
  const std::string& DatabaseName() const noexcept { return database_name_; }
  void SetDatabaseName(std::string_view value);
  const std::string& Database() const noexcept { return database_; }
  void SetDatabase(std::string_view value);
  const std::string& SessionName() const noexcept { return session_name_; }
  void SetSessionName(std::string_view value);
  bool KeepConnection() const noexcept { return keep_connection_; }
  void SetKeepConnection(bool value) { keep_connection_ = value; }

  void SetBeforeConnect(Event e) { before_connect_ = std::move(e); }
  void SetAfterConnect(Event e) { after_connect_ = std::move(e); }
  void SetBeforeDisconnect(Event e) { before_disconnect_ = std::move(e); }
  void SetAfterDisconnect(Event e) { after_disconnect_ = std::move(e); }

  // Starts a transaction over the named tables, or the whole database for
  // an empty list: "Cannot perform this operation on a closed database",
  // "Database '%s' already has an active transaction"; engine failures as
  // EZNTError.
  void StartTransaction(const std::vector<std::string>& tables = {});
  // Writes and ends the transaction (forcing the buffers to disk when
  // `force_flush`); "Database '%s' has no active transaction" without one.
  void Commit(bool force_flush = false);
  // Discards and ends the transaction; the same refusal as Commit.
  void Rollback();
  bool InTransaction() const noexcept { return in_transaction_; }

  // Made by a session for a dataset, and freed by it.
  bool Temporary() const noexcept { return temporary_; }
  // The datasets that opened it through their session and still use it.
  int ImplicitUsers() const noexcept { return implicit_users_; }
  TZNTComponentOwner* Owner() const noexcept { return owner_; }

  // The session it is bound to while open, else null.
  TZNTSession* Session() const noexcept { return session_; }
  // The open database manager; raises "Cannot perform this operation on a
  // closed database" when closed.
  TZNTDatabaseManager& DatabaseManager() const;

 private:
  friend class TZNTSession;
  friend class TZNTComponentOwner;
  void DoOpen();
  void DoClose();
  void CheckClosed() const;
  void CheckInTransaction() const;

  TZNTComponentOwner* owner_ = nullptr;
  bool temporary_ = false;
  int implicit_users_ = 0;
  bool in_transaction_ = false;
  TZNTSession* session_ = nullptr;
  TZNTDatabaseManager* manager_ = nullptr;
  std::string database_name_;
  std::string database_;
  std::string session_name_;
  bool keep_connection_ = true;
  Event before_connect_, after_connect_, before_disconnect_, after_disconnect_;
};

}  // namespace znt
