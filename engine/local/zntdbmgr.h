// A session's handle on one database: its lock file, its catalog and the
// session's lock on the database. One per database per session, kept for
// the session's lifetime and opened and closed with the components.
#pragma once

#include <memory>
#include <string>

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

  // The catalog; valid while open.
  TZNTCatalog& Catalog() const;
  TZNTDatabaseLockManager* LockManager() const noexcept { return locks_.get(); }
  TZNTLockable& DatabaseLock() noexcept { return database_lock_; }

 private:
  void CloseAll() noexcept;

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
};

}  // namespace znt
