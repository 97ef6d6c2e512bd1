// The engine-wide objects behind the components: the engine settings as the
// components publish them, the running engine (TZNTEngineManager) with its
// own checked copy of the settings, and the one engine instance of the
// process that every engine component shares.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/zntcrypto.h"
#include "base/zntenv.h"
#include "base/zntlogmgr.h"
#include "catalog/zntconfig.h"
#include "storage/zntfilemgr.h"

namespace znt {

class TZNTSessionManager;
class TZNTEngine;
class TZNTSession;

inline constexpr std::string_view kZNTLockExtension = ".ZNTLck";
inline constexpr std::string_view kZNTLogExtension = ".ZNTLog";
inline constexpr std::string_view kZNTBackupExtension = ".ZNTBkp";
inline constexpr std::string_view kZNTUpdateExtension = ".ZNTUpd";
inline constexpr std::string_view kZNTTableExtension = ".ZNTTbl";
inline constexpr std::string_view kZNTTableIndexExtension = ".ZNTIdx";
inline constexpr std::string_view kZNTTableBlobExtension = ".ZNTBlb";
inline constexpr std::string_view kZNTTablePublishExtension = ".ZNTPbl";
inline constexpr int64_t kZNTDefaultMaxLogFileSize = 1048576;

// `extension` with a leading "." added when it has none (an empty text stays
// empty).
std::string NormalisedExtension(std::string_view extension);
// `size` raised to the smallest maximum log size the engine accepts.
int64_t NormalisedMaxLogFileSize(int64_t size) noexcept;

enum class TZNTEngineType { Client, Server };

// The engine settings of the engine component (and the nineteen local
// copies of a session), with their defaults. Plain values; the setters of
// the components normalise through Normalise().
struct TZNTEngineSettings {
  std::string signature{kZNTDefaultSignature};
  std::string encryption_password{kZNTDefaultEncryptionPassword};
  bool large_file_support = false;
  std::string config_path;
  std::string config_name{kZNTConfigName};
  std::string config_extension{kZNTConfigExtension};
  std::string lock_extension{kZNTLockExtension};
  std::string log_extension{kZNTLogExtension};
  int64_t max_log_file_size = kZNTDefaultMaxLogFileSize;
  TZNTLogCategories log_categories = kZNTLogAllCategories;
  std::string catalog_name{kZNTCatalogName};
  std::string catalog_extension{kZNTCatalogExtension};
  std::string backup_extension{kZNTBackupExtension};
  std::string update_extension{kZNTUpdateExtension};
  std::string table_extension{kZNTTableExtension};
  std::string table_index_extension{kZNTTableIndexExtension};
  std::string table_blob_extension{kZNTTableBlobExtension};
  std::string table_publish_extension{kZNTTablePublishExtension};
  std::string temp_tables_path = TZNTEnvironment::TempPath();

  // Adds the leading "." to every extension and raises the log size.
  void Normalise();
  // Equal as the setters compare: names and paths case-insensitively, the
  // signature and the password exactly.
  bool SameAs(const TZNTEngineSettings& other) const noexcept;
};

// The server settings of the engine component. They reach the engine
// manager only for a server engine, which this engine does not run.
struct TZNTServerSettings {
  std::string name = "ZNTSrvr";
  std::string description = "Zentaro Server";
  std::string address;
  int32_t port = 12010;
  int32_t thread_cache_size = 10;
  bool encrypted_only = false;
  int32_t session_timeout = 180;
  int32_t dead_session_interval = 30;
  int32_t dead_session_expiration = 300;
  int32_t max_dead_sessions = 64;
  std::vector<std::string> authorized_addresses{"*"};
  std::vector<std::string> blocked_addresses;
  bool run_jobs = true;
  std::string job_category;

  // Raises every number to its minimum.
  void Normalise() noexcept;
};

// The running engine's settings. Every setter compares first and does
// nothing for an unchanged value; a change while the owning engine manager
// is started raises error 408 for the "Zentaro" "engine" with "MODIFY
// ENGINE". A copy (Snapshot) belongs to nobody and can always be changed.
class TZNTEngineManagerSettings {
 public:
  // Defaults; `started` (may be null) is the owner's started flag.
  explicit TZNTEngineManagerSettings(const bool* started = nullptr);

  // A copy of the values that no started flag guards.
  TZNTEngineManagerSettings Snapshot() const;
  // Sets every value of `s` in the order of the engine start.
  void Assign(const TZNTEngineSettings& s);

  bool LargeFileSupport() const noexcept { return large_file_support_; }
  void SetLargeFileSupport(bool value);
  const std::string& Signature() const noexcept { return signature_; }
  void SetSignature(std::string_view value);
  const TZNTDigest::TValue& SignatureDigest() const noexcept { return signature_digest_; }
  const TZNTDigest::TValue& DefaultSignatureDigest() const noexcept {
    return default_signature_digest_;
  }
  const std::string& EncryptionPassword() const noexcept { return password_; }
  void SetEncryptionPassword(std::string_view value);
  const TZNTDigest::TValue& PasswordDigest() const noexcept { return password_digest_; }
  // The digests as the metadata files check them.
  TZNTMetadataSettings Metadata() const noexcept;
  // Always off in this program.
  bool InMemoryConfig() const noexcept { return in_memory_config_; }
  void SetInMemoryConfig(bool value);
  const std::string& ConfigPath() const noexcept { return config_path_; }
  void SetConfigPath(std::string_view value);
  const std::string& ConfigName() const noexcept { return config_name_; }
  void SetConfigName(std::string_view value);
  const std::string& ConfigExtension() const noexcept { return config_extension_; }
  void SetConfigExtension(std::string_view value);
  const std::string& LockExtension() const noexcept { return lock_extension_; }
  void SetLockExtension(std::string_view value);
  const std::string& LogExtension() const noexcept { return log_extension_; }
  void SetLogExtension(std::string_view value);
  int64_t MaxLogFileSize() const noexcept { return max_log_file_size_; }
  // Values below 262144 are stored as 262144.
  void SetMaxLogFileSize(int64_t value);
  TZNTLogCategories LogCategories() const noexcept { return log_categories_; }
  void SetLogCategories(TZNTLogCategories value);
  const std::string& CatalogName() const noexcept { return catalog_name_; }
  void SetCatalogName(std::string_view value);
  const std::string& CatalogExtension() const noexcept { return catalog_extension_; }
  void SetCatalogExtension(std::string_view value);
  const std::string& TableExtension() const noexcept { return table_extension_; }
  void SetTableExtension(std::string_view value);
  const std::string& TableIndexExtension() const noexcept { return table_index_extension_; }
  void SetTableIndexExtension(std::string_view value);
  const std::string& TableBlobExtension() const noexcept { return table_blob_extension_; }
  void SetTableBlobExtension(std::string_view value);
  const std::string& TablePublishExtension() const noexcept { return table_publish_extension_; }
  void SetTablePublishExtension(std::string_view value);
  // The extension of the previous copy of a rewritten configuration file.
  const std::string& OldExtension() const noexcept { return old_extension_; }
  const std::string& BackupExtension() const noexcept { return backup_extension_; }
  void SetBackupExtension(std::string_view value);
  const std::string& UpdateExtension() const noexcept { return update_extension_; }
  void SetUpdateExtension(std::string_view value);
  const std::string& TempTablesPath() const noexcept { return temp_tables_path_; }
  void SetTempTablesPath(std::string_view value);

 private:
  void CheckNotStarted() const;
  void ChangeName(std::string& field, std::string_view value);
  void ChangeExtension(std::string& field, std::string_view value);

  const bool* started_;
  bool large_file_support_ = false;
  std::string signature_;
  TZNTDigest::TValue signature_digest_{};
  TZNTDigest::TValue default_signature_digest_{};
  std::string password_;
  TZNTDigest::TValue password_digest_{};
  bool in_memory_config_ = false;
  std::string config_path_;
  std::string config_name_;
  std::string config_extension_;
  std::string lock_extension_;
  std::string log_extension_;
  int64_t max_log_file_size_;
  TZNTLogCategories log_categories_;
  std::string catalog_name_;
  std::string catalog_extension_;
  std::string table_extension_;
  std::string table_index_extension_;
  std::string table_blob_extension_;
  std::string table_publish_extension_;
  std::string old_extension_;
  std::string backup_extension_;
  std::string update_extension_;
  std::string temp_tables_path_;
};

// The running engine: started flag, settings, environment, file managers
// and the registered session managers with their IDs. Thread-safe for
// registration; settings change only while stopped.
class TZNTEngineManager {
 public:
  TZNTEngineManager();
  virtual ~TZNTEngineManager();
  TZNTEngineManager(const TZNTEngineManager&) = delete;
  TZNTEngineManager& operator=(const TZNTEngineManager&) = delete;

  bool Started() const noexcept { return started_; }
  // Runs the start hook and sets the started flag; when the hook fails the
  // stop hook runs and the error passes on. Starting twice does nothing.
  void Start();
  // Runs the stop hook (which stops every registered session manager) and
  // clears the started flag, even when the hook fails.
  void Stop();

  TZNTEngineManagerSettings& Settings() noexcept { return settings_; }
  const TZNTEngineManagerSettings& Settings() const noexcept { return settings_; }
  TZNTEnvironment& Environment() noexcept { return environment_; }

  // Files of databases created in memory, of each session's "Configuration"
  // database, and of an in-memory configuration.
  TZNTFileManager& MemoryFileManager();
  TZNTFileManager& ConfigDatabaseFileManager();
  TZNTFileManager& MemoryConfigFileManager();
  // The disk file manager for the large-file setting `large`, made on first
  // use by the factories below.
  TZNTFileManager& DiskFileManager(bool large);

  // Registers `session` and returns its new session ID: the last issued ID
  // plus 1, wrapping from the largest integer to 1, skipping IDs in use.
  int32_t RegisterSession(TZNTSessionManager& session);
  // Forgets `session`; unknown ones are ignored.
  void UnregisterSession(const TZNTSessionManager& session) noexcept;
  size_t SessionCount() const;
  int32_t LastSessionID() const;
  // For tests of the wrap.
  void SetLastSessionID(int32_t id);

 protected:
  // The start and stop hooks: nothing to start for the client engine; the
  // stop hook stops every registered session manager.
  virtual void DoStart() {}
  virtual void DoStop();
  // The disk file managers: 4,000,000,000 and 128,000,000,000 bytes per file.
  virtual std::unique_ptr<TZNTFileManager> CreateFileManager();
  virtual std::unique_ptr<TZNTFileManager> CreateLargeFileManager();

 private:
  bool started_ = false;
  TZNTEngineManagerSettings settings_{&started_};
  TZNTEnvironment environment_;
  mutable std::mutex files_mutex_;
  std::unique_ptr<TZNTFileManager> memory_files_, config_db_files_, memory_config_files_;
  std::unique_ptr<TZNTFileManager> disk_files_, large_disk_files_;
  mutable std::mutex sessions_mutex_;
  std::vector<TZNTSessionManager*> sessions_;
  int32_t last_session_id_ = 0;
};

// The one engine instance of the process, shared by every engine component:
// the settings as set on the components, the event handlers, the session
// components and the numbers of auto-named sessions. Owns the engine
// manager.
class TZNTEngineInstance {
 public:
  using EngineEvent = std::function<void(TZNTEngine& sender)>;

  // `manager` null: a client engine manager.
  explicit TZNTEngineInstance(std::unique_ptr<TZNTEngineManager> manager = nullptr);
  ~TZNTEngineInstance();
  TZNTEngineInstance(const TZNTEngineInstance&) = delete;
  TZNTEngineInstance& operator=(const TZNTEngineInstance&) = delete;

  TZNTEngineManager& Manager() noexcept { return *manager_; }
  // Replaces the engine manager (a stopped one only; a bug otherwise).
  void SetManager(std::unique_ptr<TZNTEngineManager> manager);

  TZNTEngineSettings settings;
  TZNTServerSettings server;
  TZNTEngineType engine_type = TZNTEngineType::Client;
  bool use_local_session_engine_settings = false;
  EngineEvent before_start, after_start, before_stop, after_stop;

  // The session components, in the order they registered. The list is
  // guarded by Lock().
  std::vector<TZNTSession*>& Sessions() noexcept { return sessions_; }
  std::recursive_mutex& Lock() noexcept { return mutex_; }
  void AddSession(TZNTSession& session);
  void RemoveSession(const TZNTSession& session) noexcept;

  // The lowest number not in use by an auto-named session, from 1, now
  // taken; and giving one back.
  int AcquireAutoSessionNumber();
  void ReleaseAutoSessionNumber(int number) noexcept;

 private:
  std::unique_ptr<TZNTEngineManager> manager_;
  std::recursive_mutex mutex_;
  std::vector<TZNTSession*> sessions_;
  std::vector<bool> auto_numbers_;
};

}  // namespace znt
