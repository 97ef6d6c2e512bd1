// A session's handle on one database: its lock file, its catalog and the
// session's lock on the database. One per database per session, kept for
// the session's lifetime and opened and closed with the components.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalog/zntconfig.h"
#include "storage/zntlockmgr.h"

namespace znt {

class TZNTLocalSessionManager;

// The metadata locks of a configuration or catalog taken on its lockable in
// the lock file: Read, Transaction and Write of the lock-file object.
class TZNTLockableMetadataLocks : public TZNTMetadataLocks {
 public:
  // `object` must outlive the adapter.
  explicit TZNTLockableMetadataLocks(TZNTLockable& object) : object_(object) {}
  void LockRead() override { object_.Lock(TZNTLockKind::Read); }
  void UnlockRead() noexcept override { Release(TZNTLockKind::Read); }
  void LockTransaction() override { object_.Lock(TZNTLockKind::Transaction); }
  void UnlockTransaction() noexcept override { Release(TZNTLockKind::Transaction); }
  void LockWrite() override { object_.Lock(TZNTLockKind::Write); }
  void UnlockWrite() noexcept override { Release(TZNTLockKind::Write); }

 private:
  void Release(TZNTLockKind kind) noexcept;
  TZNTLockable& object_;
};

// Open modes of a database: shared with other sessions, or exclusive.
enum class TZNTOpenMode : int { Shared = 1, Exclusive = 2 };

// The interface the session and the components see of a database.
class TZNTDatabaseManager {
 public:
  virtual ~TZNTDatabaseManager() = default;
  // Opens the database in `mode`; opening an open one only counts a user.
  virtual void Open(TZNTOpenMode mode) = 0;
  // Gives up one user; the last closes the database. Never raises for a
  // closed one.
  virtual void Close() = 0;
  virtual bool IsOpen() const noexcept = 0;
  // The database's name in the configuration.
  virtual const std::string& Name() const noexcept = 0;

  // Starts a transaction over the tables named in `tables`, or over the
  // whole database when the list is empty.
  virtual void StartTransaction(const std::vector<std::string>& tables) = 0;
  // Writes the transaction's changes (flushing the operating system's
  // buffers when `force_flush`) and, unless `keep_transaction`, ends it.
  virtual void Commit(bool force_flush, bool keep_transaction = false) = 0;
  // Discards the transaction's changes and ends it.
  virtual void Rollback() = 0;
  virtual bool InTransaction() const noexcept = 0;
};

// A database of the local engine: a folder holding the lock file (catalog
// name + lock extension) and the catalog file, both created on first open.
class TZNTLocalDatabaseManager : public TZNTDatabaseManager {
 public:
  // The database `name` in `folder` (empty: the database is in memory), for
  // `session`, which must outlive it.
  TZNTLocalDatabaseManager(TZNTLocalSessionManager& session, std::string name, std::string folder,
                           bool in_memory, bool encrypted_catalog);
  ~TZNTLocalDatabaseManager() override;

  // Makes the folder when missing, opens the lock file with the session's
  // slot, loads (or creates) the catalog and takes the database's Shared
  // (mode 1) or Exclusive (mode 2) lock; on failure everything is closed
  // again and the error passes on.
  void Open(TZNTOpenMode mode) override;
  void Close() override;
  bool IsOpen() const noexcept override { return users_ > 0; }
  const std::string& Name() const noexcept override { return name_; }
  const std::string& Folder() const noexcept { return folder_; }
  int Users() const noexcept { return users_; }

  // Error 500 unless a user is logged in, 402 unless open and 404 when a
  // transaction is already active (each naming "START TRANSACTION ON
  // <name>"). Under the catalog read lock takes the Transaction lock of the
  // database (empty list) or of each listed table (401 for an unknown one,
  // 300 when another session holds it); a failure unlocks what was taken,
  // in reverse order. Errors log code 40.
  void StartTransaction(const std::vector<std::string>& tables) override;
  // Checks as StartTransaction with "COMMIT ON <name>" (404 without a
  // transaction); writes the changes and, unless `keep_transaction`,
  // releases the locks. Errors log code 41.
  void Commit(bool force_flush, bool keep_transaction = false) override;
  // Checks with "ROLLBACK ON <name>"; discards the changes and releases the
  // locks. Errors log code 42.
  void Rollback() override;
  bool InTransaction() const noexcept override { return in_transaction_; }

  // The catalog; valid while open.
  TZNTCatalog& Catalog() const;
  // The catalog's file manager; valid while open.
  TZNTCatalogManager& CatalogManager() const;
  TZNTDatabaseLockManager* LockManager() const noexcept { return locks_.get(); }
  TZNTLockable& DatabaseLock() noexcept { return database_lock_; }
  // The tables locked for the current transaction, in locking order (empty
  // for a whole-database transaction).
  const std::vector<TZNTLockable>& TransactionTableLocks() const noexcept {
    return transaction_tables_;
  }

 protected:
  // The table layer's part of a transaction: mark every open table as in
  // the transaction, write the changes of every table, and discard them.
  // Nothing is open through this manager yet, so there is nothing to do.
  virtual void BeginTableTransactions() {}
  virtual void WriteTableTransactions(bool /*force_flush*/) {}
  virtual void DiscardTableTransactions() noexcept {}

 private:
  void CloseAll() noexcept;
  // The checks of a transaction operation named `operation`: logged in,
  // open, and in a transaction exactly when `want_transaction`.
  void CheckTransactionOperation(const std::string& operation, bool want_transaction) const;
  // The Transaction lock of the table `name` from the catalog (401 when
  // there is no such table).
  TZNTLockable TableLock(const std::string& name) const;
  // Releases the transaction's locks, the last taken first, and ends it;
  // raises the first unlock failure (301) after trying every lock.
  void EndTransaction();

  TZNTLocalSessionManager& session_;
  std::string name_;
  std::string folder_;
  bool in_memory_;
  bool encrypted_catalog_;
  int users_ = 0;
  TZNTOpenMode mode_ = TZNTOpenMode::Shared;
  std::unique_ptr<TZNTDatabaseLockManager> locks_;
  TZNTLockable database_lock_;
  TZNTLockable catalog_lock_;
  std::unique_ptr<TZNTLockableMetadataLocks> metadata_locks_;
  std::unique_ptr<TZNTCatalogManager> catalog_;
  bool in_transaction_ = false;
  bool database_transaction_ = false;
  std::vector<TZNTLockable> transaction_tables_;
};

}  // namespace znt
