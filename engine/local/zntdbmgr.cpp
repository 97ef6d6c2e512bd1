#include "local/zntdbmgr.h"

#include <cassert>

#include "local/zntsessionmgr.h"

namespace znt {

void TZNTLockableMetadataLocks::Release(TZNTLockKind kind) noexcept {
  try {
    object_.Unlock(kind);
  } catch (...) {
    // Closing the lock file gives the bytes back in any case.
  }
}

TZNTLocalDatabaseManager::TZNTLocalDatabaseManager(TZNTLocalSessionManager& session,
                                                   std::string name, std::string folder,
                                                   bool in_memory, bool encrypted_catalog)
    : session_(session),
      name_(std::move(name)),
      folder_(std::move(folder)),
      in_memory_(in_memory),
      encrypted_catalog_(encrypted_catalog) {}

TZNTLocalDatabaseManager::~TZNTLocalDatabaseManager() { CloseAll(); }

void TZNTLocalDatabaseManager::Open(TZNTOpenMode mode) {
  if (users_ > 0) {
    ++users_;
    return;
  }
  const TZNTEngineManagerSettings& settings = session_.Settings();
  // A database in memory lives in the engine's memory files, under its name.
  TZNTFileManager& files = in_memory_ ? session_.Engine().MemoryFileManager() : session_.Files();
  const std::string folder = in_memory_ ? name_ : folder_;
  try {
    if (!files.FolderExists(folder)) files.MakeFolder(folder);
    const int slot = session_.ConfigLocks() ? session_.ConfigLocks()->Slot() : 0;
    locks_ = std::make_unique<TZNTDatabaseLockManager>(
        files, folder, settings.CatalogName() + settings.LockExtension(), slot, in_memory_);
    locks_->Open();
    database_lock_ = TZNTLockable::Database(locks_.get(), name_);
    catalog_lock_ = TZNTLockable::Catalog(locks_.get(), name_);
    metadata_locks_ = std::make_unique<TZNTLockableMetadataLocks>(catalog_lock_);
    catalog_ = std::make_unique<TZNTCatalogManager>(files, folder, settings.Metadata(), name_,
                                                    encrypted_catalog_);
    catalog_->SetLocks(metadata_locks_.get());
    catalog_->OpenMetadata();
    database_lock_.Lock(mode == TZNTOpenMode::Exclusive ? TZNTLockKind::Exclusive
                                                        : TZNTLockKind::Shared);
  } catch (...) {
    CloseAll();
    throw;
  }
  mode_ = mode;
  users_ = 1;
}

void TZNTLocalDatabaseManager::Close() {
  if (users_ == 0) return;
  if (--users_ > 0) return;
  CloseAll();
}

void TZNTLocalDatabaseManager::CloseAll() noexcept {
  users_ = 0;
  if (database_lock_.Manager() != nullptr) {
    try {
      database_lock_.Unlock(mode_ == TZNTOpenMode::Exclusive ? TZNTLockKind::Exclusive
                                                             : TZNTLockKind::Shared);
    } catch (...) {
      // Closing the lock file below releases it anyway.
    }
  }
  if (catalog_) catalog_->CloseMetadata();
  catalog_.reset();
  metadata_locks_.reset();
  if (locks_) locks_->Close();
  database_lock_ = TZNTLockable();
  catalog_lock_ = TZNTLockable();
  locks_.reset();
}

TZNTCatalog& TZNTLocalDatabaseManager::Catalog() const {
  assert(catalog_);
  return catalog_->Catalog();
}

}  // namespace znt
