#include "local/zntlocal.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "base/zntconsts.h"
#include "base/znterror.h"
#include "base/zntstring.h"
#include "local/zntsessionmgr.h"
#include "storage/zntmemfilemgr.h"
#include "storage/zntosfilemgr.h"

namespace znt {

std::string NormalisedExtension(std::string_view extension) {
  if (extension.empty() || extension.front() == '.') return std::string(extension);
  std::string normalised(1, '.');
  normalised.append(extension);
  return normalised;
}

int64_t NormalisedMaxLogFileSize(int64_t size) noexcept {
  return std::max<int64_t>(size, static_cast<int64_t>(kZNTLogMinMaxFileSize));
}

void TZNTEngineSettings::Normalise() {
  for (std::string* e : {&config_extension, &lock_extension, &log_extension, &catalog_extension,
                         &backup_extension, &update_extension, &table_extension,
                         &table_index_extension, &table_blob_extension, &table_publish_extension})
    *e = NormalisedExtension(*e);
  max_log_file_size = NormalisedMaxLogFileSize(max_log_file_size);
}

bool TZNTEngineSettings::SameAs(const TZNTEngineSettings& o) const noexcept {
  return signature == o.signature && encryption_password == o.encryption_password &&
         large_file_support == o.large_file_support && ZNTSameText(config_path, o.config_path) &&
         ZNTSameText(config_name, o.config_name) &&
         ZNTSameText(config_extension, o.config_extension) &&
         ZNTSameText(lock_extension, o.lock_extension) &&
         ZNTSameText(log_extension, o.log_extension) && max_log_file_size == o.max_log_file_size &&
         log_categories == o.log_categories && ZNTSameText(catalog_name, o.catalog_name) &&
         ZNTSameText(catalog_extension, o.catalog_extension) &&
         ZNTSameText(backup_extension, o.backup_extension) &&
         ZNTSameText(update_extension, o.update_extension) &&
         ZNTSameText(table_extension, o.table_extension) &&
         ZNTSameText(table_index_extension, o.table_index_extension) &&
         ZNTSameText(table_blob_extension, o.table_blob_extension) &&
         ZNTSameText(table_publish_extension, o.table_publish_extension) &&
         ZNTSameText(temp_tables_path, o.temp_tables_path);
}

void TZNTServerSettings::Normalise() noexcept {
  thread_cache_size = std::max(thread_cache_size, 1);
  session_timeout = std::max(session_timeout, 60);
  dead_session_interval = std::max(dead_session_interval, 30);
  dead_session_expiration = std::max(dead_session_expiration, 10);
  max_dead_sessions = std::max(max_dead_sessions, 1);
}

// ---------------------------------------------------------------------------
// TZNTEngineManagerSettings
// ---------------------------------------------------------------------------

TZNTEngineManagerSettings::TZNTEngineManagerSettings(const bool* started)
    : started_(started),
      signature_(kZNTDefaultSignature),
      signature_digest_(TZNTDigest::Compute(kZNTDefaultSignature)),
      default_signature_digest_(TZNTDigest::Compute(kZNTDefaultSignature)),
      password_(kZNTDefaultEncryptionPassword),
      password_digest_(TZNTDigest::Compute(kZNTDefaultEncryptionPassword)),
      config_name_(kZNTConfigName),
      config_extension_(kZNTConfigExtension),
      lock_extension_(kZNTLockExtension),
      log_extension_(kZNTLogExtension),
      max_log_file_size_(kZNTDefaultMaxLogFileSize),
      log_categories_(kZNTLogAllCategories),
      catalog_name_(kZNTCatalogName),
      catalog_extension_(kZNTCatalogExtension),
      table_extension_(kZNTTableExtension),
      table_index_extension_(kZNTTableIndexExtension),
      table_blob_extension_(kZNTTableBlobExtension),
      table_publish_extension_(kZNTTablePublishExtension),
      old_extension_(kZNTOldExtension),
      backup_extension_(kZNTBackupExtension),
      update_extension_(kZNTUpdateExtension),
      temp_tables_path_(TZNTEnvironment::TempPath()) {}

TZNTEngineManagerSettings TZNTEngineManagerSettings::Snapshot() const {
  TZNTEngineManagerSettings copy(*this);
  copy.started_ = nullptr;
  return copy;
}

void TZNTEngineManagerSettings::Assign(const TZNTEngineSettings& s) {
  SetSignature(s.signature);
  SetEncryptionPassword(s.encryption_password);
  SetLargeFileSupport(s.large_file_support);
  SetConfigPath(s.config_path);
  SetConfigName(s.config_name);
  SetConfigExtension(s.config_extension);
  SetLockExtension(s.lock_extension);
  SetLogExtension(s.log_extension);
  SetMaxLogFileSize(s.max_log_file_size);
  SetLogCategories(s.log_categories);
  SetCatalogName(s.catalog_name);
  SetCatalogExtension(s.catalog_extension);
  SetBackupExtension(s.backup_extension);
  SetUpdateExtension(s.update_extension);
  SetTableExtension(s.table_extension);
  SetTableIndexExtension(s.table_index_extension);
  SetTableBlobExtension(s.table_blob_extension);
  SetTablePublishExtension(s.table_publish_extension);
  SetTempTablesPath(s.temp_tables_path);
}

TZNTMetadataSettings TZNTEngineManagerSettings::Metadata() const noexcept {
  TZNTMetadataSettings m;
  m.signatureDigest = signature_digest_;
  m.defaultSignatureDigest = default_signature_digest_;
  m.passwordDigest = password_digest_;
  return m;
}

void TZNTEngineManagerSettings::CheckNotStarted() const {
  if (started_ != nullptr && *started_)
    RaiseZNTError(err::CannotBeOpen, {"Zentaro", "engine", "MODIFY ENGINE"});
}

void TZNTEngineManagerSettings::ChangeName(std::string& field, std::string_view value) {
  if (ZNTSameText(field, value)) return;
  CheckNotStarted();
  field.assign(value);
}

void TZNTEngineManagerSettings::ChangeExtension(std::string& field, std::string_view value) {
  ChangeName(field, NormalisedExtension(value));
}

void TZNTEngineManagerSettings::SetLargeFileSupport(bool value) {
  if (value == large_file_support_) return;
  CheckNotStarted();
  large_file_support_ = value;
}

void TZNTEngineManagerSettings::SetSignature(std::string_view value) {
  if (value == signature_) return;
  CheckNotStarted();
  signature_.assign(value);
  signature_digest_ = TZNTDigest::Compute(value);
}

void TZNTEngineManagerSettings::SetEncryptionPassword(std::string_view value) {
  if (value == password_) return;
  CheckNotStarted();
  password_.assign(value);
  password_digest_ = TZNTDigest::Compute(value);
}

void TZNTEngineManagerSettings::SetInMemoryConfig(bool value) {
  if (value == in_memory_config_) return;
  CheckNotStarted();
  in_memory_config_ = value;
}

void TZNTEngineManagerSettings::SetConfigPath(std::string_view v) { ChangeName(config_path_, v); }
void TZNTEngineManagerSettings::SetConfigName(std::string_view v) { ChangeName(config_name_, v); }
void TZNTEngineManagerSettings::SetConfigExtension(std::string_view v) {
  ChangeExtension(config_extension_, v);
}
void TZNTEngineManagerSettings::SetLockExtension(std::string_view v) {
  ChangeExtension(lock_extension_, v);
}
void TZNTEngineManagerSettings::SetLogExtension(std::string_view v) {
  ChangeExtension(log_extension_, v);
}

void TZNTEngineManagerSettings::SetMaxLogFileSize(int64_t value) {
  value = NormalisedMaxLogFileSize(value);
  if (value == max_log_file_size_) return;
  CheckNotStarted();
  max_log_file_size_ = value;
}

void TZNTEngineManagerSettings::SetLogCategories(TZNTLogCategories value) {
  value &= kZNTLogAllCategories;
  if (value == log_categories_) return;
  CheckNotStarted();
  log_categories_ = value;
}

void TZNTEngineManagerSettings::SetCatalogName(std::string_view v) { ChangeName(catalog_name_, v); }
void TZNTEngineManagerSettings::SetCatalogExtension(std::string_view v) {
  ChangeExtension(catalog_extension_, v);
}
void TZNTEngineManagerSettings::SetTableExtension(std::string_view v) {
  ChangeExtension(table_extension_, v);
}
void TZNTEngineManagerSettings::SetTableIndexExtension(std::string_view v) {
  ChangeExtension(table_index_extension_, v);
}
void TZNTEngineManagerSettings::SetTableBlobExtension(std::string_view v) {
  ChangeExtension(table_blob_extension_, v);
}
void TZNTEngineManagerSettings::SetTablePublishExtension(std::string_view v) {
  ChangeExtension(table_publish_extension_, v);
}
void TZNTEngineManagerSettings::SetBackupExtension(std::string_view v) {
  ChangeExtension(backup_extension_, v);
}
void TZNTEngineManagerSettings::SetUpdateExtension(std::string_view v) {
  ChangeExtension(update_extension_, v);
}
void TZNTEngineManagerSettings::SetTempTablesPath(std::string_view v) {
  ChangeName(temp_tables_path_, v);
}

// ---------------------------------------------------------------------------
// TZNTEngineManager
// ---------------------------------------------------------------------------

TZNTEngineManager::TZNTEngineManager() = default;

TZNTEngineManager::~TZNTEngineManager() {
  // Session managers outliving their engine would be a bug in their owners.
  assert(sessions_.empty());
}

void TZNTEngineManager::Start() {
  if (started_) return;
  try {
    DoStart();
  } catch (...) {
    try {
      DoStop();
    } catch (...) {
    }
    throw;
  }
  started_ = true;
}

void TZNTEngineManager::Stop() {
  if (!started_) return;
  try {
    DoStop();
  } catch (...) {
    started_ = false;
    throw;
  }
  started_ = false;
}

void TZNTEngineManager::DoStop() {
  // Session managers belong to their session components; stopping them here
  // releases their files, and the components free them when they disconnect.
  std::vector<TZNTSessionManager*> sessions;
  {
    std::lock_guard<std::mutex> guard(sessions_mutex_);
    sessions = sessions_;
  }
  for (auto it = sessions.rbegin(); it != sessions.rend(); ++it) (*it)->StopSession();
}

TZNTFileManager& TZNTEngineManager::MemoryFileManager() {
  std::lock_guard<std::mutex> guard(files_mutex_);
  if (!memory_files_) memory_files_ = std::make_unique<TZNTMemoryFileManager>();
  return *memory_files_;
}

TZNTFileManager& TZNTEngineManager::ConfigDatabaseFileManager() {
  std::lock_guard<std::mutex> guard(files_mutex_);
  if (!config_db_files_) config_db_files_ = std::make_unique<TZNTMemoryFileManager>();
  return *config_db_files_;
}

TZNTFileManager& TZNTEngineManager::MemoryConfigFileManager() {
  std::lock_guard<std::mutex> guard(files_mutex_);
  if (!memory_config_files_) memory_config_files_ = std::make_unique<TZNTMemoryFileManager>();
  return *memory_config_files_;
}

TZNTFileManager& TZNTEngineManager::DiskFileManager(bool large) {
  std::lock_guard<std::mutex> guard(files_mutex_);
  std::unique_ptr<TZNTFileManager>& slot = large ? large_disk_files_ : disk_files_;
  if (!slot) slot = large ? CreateLargeFileManager() : CreateFileManager();
  return *slot;
}

std::unique_ptr<TZNTFileManager> TZNTEngineManager::CreateFileManager() {
  return std::make_unique<TZNTEngineOSFileManager>();
}

std::unique_ptr<TZNTFileManager> TZNTEngineManager::CreateLargeFileManager() {
  return std::make_unique<TZNTEngineLargeOSFileManager>();
}

int32_t TZNTEngineManager::RegisterSession(TZNTSessionManager& session) {
  std::lock_guard<std::mutex> guard(sessions_mutex_);
  auto in_use = [this](int32_t id) {
    return std::any_of(sessions_.begin(), sessions_.end(),
                       [id](const TZNTSessionManager* s) { return s->SessionID() == id; });
  };
  int32_t id = last_session_id_;
  do {
    id = id == std::numeric_limits<int32_t>::max() ? 1 : id + 1;
  } while (in_use(id));
  last_session_id_ = id;
  sessions_.push_back(&session);
  return id;
}

void TZNTEngineManager::UnregisterSession(const TZNTSessionManager& session) noexcept {
  std::lock_guard<std::mutex> guard(sessions_mutex_);
  auto it = std::find(sessions_.begin(), sessions_.end(), &session);
  if (it != sessions_.end()) sessions_.erase(it);
}

size_t TZNTEngineManager::SessionCount() const {
  std::lock_guard<std::mutex> guard(sessions_mutex_);
  return sessions_.size();
}

int32_t TZNTEngineManager::LastSessionID() const {
  std::lock_guard<std::mutex> guard(sessions_mutex_);
  return last_session_id_;
}

void TZNTEngineManager::SetLastSessionID(int32_t id) {
  std::lock_guard<std::mutex> guard(sessions_mutex_);
  last_session_id_ = id;
}

// ---------------------------------------------------------------------------
// TZNTEngineInstance
// ---------------------------------------------------------------------------

TZNTEngineInstance::TZNTEngineInstance(std::unique_ptr<TZNTEngineManager> manager)
    : manager_(manager ? std::move(manager) : std::make_unique<TZNTEngineManager>()) {}

TZNTEngineInstance::~TZNTEngineInstance() {
  try {
    manager_->Stop();
  } catch (...) {
  }
}

void TZNTEngineInstance::SetManager(std::unique_ptr<TZNTEngineManager> manager) {
  assert(manager && !manager_->Started());
  manager_ = std::move(manager);
}

void TZNTEngineInstance::AddSession(TZNTSession& session) {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  sessions_.push_back(&session);
}

void TZNTEngineInstance::RemoveSession(const TZNTSession& session) noexcept {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  auto it = std::find(sessions_.begin(), sessions_.end(), &session);
  if (it != sessions_.end()) sessions_.erase(it);
}

int TZNTEngineInstance::AcquireAutoSessionNumber() {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  size_t i = 0;
  while (i < auto_numbers_.size() && auto_numbers_[i]) ++i;
  if (i == auto_numbers_.size()) auto_numbers_.push_back(false);
  auto_numbers_[i] = true;
  return static_cast<int>(i) + 1;
}

void TZNTEngineInstance::ReleaseAutoSessionNumber(int number) noexcept {
  std::lock_guard<std::recursive_mutex> guard(mutex_);
  if (number >= 1 && static_cast<size_t>(number) <= auto_numbers_.size())
    auto_numbers_[number - 1] = false;
}

}  // namespace znt
