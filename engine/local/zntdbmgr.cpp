#include "local/zntdbmgr.h"

#include <cassert>
#include <exception>

#include "base/zntconsts.h"
#include "base/znterror.h"
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
    catalog_ = std::make_unique<TZNTCatalogManager>(
        files, folder, settings.Metadata(), name_, encrypted_catalog_,
        TZNTMetadataFileName{settings.CatalogName(), settings.CatalogExtension(),
                             settings.OldExtension()});
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
  if (in_transaction_) {
    // Closing rolls an open transaction back; the lock file's close below
    // gives back whatever an unlock could not.
    DiscardTableTransactions();
    try {
      EndTransaction();
    } catch (...) {
    }
  }
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

TZNTCatalogManager& TZNTLocalDatabaseManager::CatalogManager() const {
  assert(catalog_);
  return *catalog_;
}

namespace {

// The catalog read for the length of a scope.
class TCatalogRead {
 public:
  explicit TCatalogRead(TZNTCatalogManager& catalog) : catalog_(catalog) { catalog_.BeginRead(); }
  ~TCatalogRead() { catalog_.EndRead(); }
  TCatalogRead(const TCatalogRead&) = delete;
  TCatalogRead& operator=(const TCatalogRead&) = delete;

 private:
  TZNTCatalogManager& catalog_;
};

}  // namespace

void TZNTLocalDatabaseManager::CheckTransactionOperation(const std::string& operation,
                                                         bool want_transaction) const {
  if (!session_.LoggedIn()) RaiseZNTError(err::NotLoggedIn, {operation});
  if (!IsOpen()) RaiseZNTError(err::MustBeOpen, {"database", name_, operation});
  if (in_transaction_ != want_transaction) RaiseZNTError(err::Transaction, {operation});
}

TZNTLockable TZNTLocalDatabaseManager::TableLock(const std::string& name) const {
  // A name may carry its schema ("Schema.Table"); otherwise the default one.
  const TZNTCatalog& catalog = Catalog();
  const TZNTSchema* schema = catalog.DefaultSchema();
  std::string table_name = name;
  if (const size_t dot = name.find('.'); dot != std::string::npos) {
    schema = catalog.schemas.Find(std::string_view(name).substr(0, dot));
    table_name = name.substr(dot + 1);
  }
  const TZNTBaseTable* table = schema ? schema->baseTables.Find(table_name) : nullptr;
  if (table == nullptr) RaiseZNTError(err::DoesNotExist, {"table", name});
  TZNTLockable lock =
      TZNTLockable::Table(locks_.get(), table->Name(), static_cast<uint32_t>(table->lockNumber));
  // Temporary and system tables are private to the session and take no
  // locks.
  lock.SetTemporary(table->Temporary() || table->System());
  return lock;
}

void TZNTLocalDatabaseManager::StartTransaction(const std::vector<std::string>& tables) {
  try {
    CheckTransactionOperation("START TRANSACTION ON " + name_, false);
    TCatalogRead read(*catalog_);
    transaction_tables_.clear();
    transaction_tables_.reserve(tables.size());
    try {
      if (tables.empty()) {
        database_lock_.Lock(TZNTLockKind::Transaction);
        database_transaction_ = true;
      } else {
        for (const std::string& name : tables) {
          transaction_tables_.push_back(TableLock(name));
          try {
            transaction_tables_.back().Lock(TZNTLockKind::Transaction);
          } catch (...) {
            transaction_tables_.pop_back();
            throw;
          }
        }
      }
      in_transaction_ = true;
      database_lock_.SetInTransaction(true);
      BeginTableTransactions();
    } catch (...) {
      try {
        EndTransaction();
      } catch (...) {
        // The lock failure is the error to report.
      }
      throw;
    }
  } catch (...) {
    session_.LogCurrentError(op::StartTransaction);
    throw;
  }
}

void TZNTLocalDatabaseManager::Commit(bool force_flush, bool keep_transaction) {
  try {
    CheckTransactionOperation("COMMIT ON " + name_, true);
    WriteTableTransactions(force_flush || session_.Options().force_buffer_flush);
    if (!keep_transaction) EndTransaction();
  } catch (...) {
    session_.LogCurrentError(op::CommitTransaction);
    throw;
  }
}

void TZNTLocalDatabaseManager::Rollback() {
  try {
    CheckTransactionOperation("ROLLBACK ON " + name_, true);
    DiscardTableTransactions();
    EndTransaction();
  } catch (...) {
    session_.LogCurrentError(op::RollbackTransaction);
    throw;
  }
}

void TZNTLocalDatabaseManager::EndTransaction() {
  std::exception_ptr first;
  for (auto it = transaction_tables_.rbegin(); it != transaction_tables_.rend(); ++it) {
    try {
      it->Unlock(TZNTLockKind::Transaction);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  transaction_tables_.clear();
  if (database_transaction_) {
    database_transaction_ = false;
    try {
      database_lock_.Unlock(TZNTLockKind::Transaction);
    } catch (...) {
      if (!first) first = std::current_exception();
    }
  }
  in_transaction_ = false;
  database_lock_.SetInTransaction(false);
  if (first) std::rethrow_exception(first);
}

}  // namespace znt
