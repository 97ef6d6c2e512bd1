// The in-memory effects of the metadata DDL: CREATE DATABASE on the
// configuration, CREATE TABLE, CREATE INDEX (and TEXT INDEX) and CREATE
// TRIGGER on a catalog, each from a statement tree the binder has bound. The
// functions change only the tree and leave the file to the caller, who runs
// them between BeginWrite and CommitWrite (ApplyMetadataChange does exactly
// that). TZNTCatalogBindAdapter lets the binder resolve table names against
// a catalog.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "catalog/zntconfig.h"
#include "sql/zntbind.h"
#include "sql/zntexpr.h"

namespace znt {

// CREATE DATABASE name {PATH text | IN MEMORY} [ENCRYPTED CATALOG]
// [DESCRIPTION text]: adds the database, created by `creator`. Without a
// path the database is in memory. Raises 406 for an invalid name and 400
// "The database %s already exists" for a taken one; the configuration is
// unchanged on failure.
TZNTDatabaseContainer& CreateDatabase(TZNTConfig& config, TZNTExprToken& statement,
                                      std::string_view creator);

// CREATE TABLE name (elements) options, into the statement's schema (the
// "Default" schema when none is named): __RowID first, the options (sizes
// corrected), the columns in written order, then the constraints in written
// order, each key constraint with its enforcing index (type 1 primary key,
// 2 foreign key, 3 unique) named as the constraint; finally the row size.
// Raises 400 for a taken table, column, constraint or index name, 401 for an
// unknown column, collation or referred table, 406 for invalid names, 200 in
// the system schema, 100 for an index whose keys do not fit its page; the
// catalog is unchanged on failure. The AS and LIKE forms raise error 700.
TZNTBaseTable& CreateTable(TZNTCatalog& catalog, TZNTExprToken& statement,
                           std::string_view creator);

// CREATE INDEX name ON table (column [COLLATE c] [ASC|DESC], ...) and CREATE
// TEXT INDEX: adds the index (type 0, or 4 for a text index, whose word
// generator is looked up in `config` when given) and raises the table's
// internal version by 1. Building the index from the table's rows is the
// caller's; RemoveIndex undoes the addition when that fails. Raises 401 for
// an unknown table, column or word generator, 400 for a taken name, 200 on
// a system table, 100 for keys that do not fit the table's index page.
TZNTIndex& CreateIndex(TZNTCatalog& catalog, TZNTExprToken& statement,
                       const TZNTConfig* config = nullptr);

// Takes `index` out of its table again and lowers the internal version.
void RemoveIndex(TZNTBaseTable& table, const TZNTIndex& index);

// CREATE TRIGGER name time event [OF columns] ON table [WHEN c] block: adds
// the trigger with its action time and type, update columns, condition text
// (rendered from the tree) and body text (the statement's stored text).
// Raises 401 for an unknown table or column, 400 for a taken name, 200 on a
// system table.
TZNTTrigger& CreateTrigger(TZNTCatalog& catalog, TZNTExprToken& statement);

// Error 100 unless `index`'s keys fit `table`'s index page (four keys per
// page) and its columns suit its type.
void CheckIndexKeys(const TZNTBaseTable& table, const TZNTIndex& index);

// Runs `change` as one metadata write: BeginWrite, change, CommitWrite; on
// any failure CancelWrite (dropping the change from memory) and rethrow, so
// the file is left as it was.
void ApplyMetadataChange(TZNTConfigObjectManager& manager, const std::function<void()>& change);

// The catalog of the in-memory "Configuration" database: a read-only system
// schema "Default" holding the configuration's system tables, besides
// "Information".
std::unique_ptr<TZNTCatalog> NewConfigurationCatalog();

// The binder's view of a catalog: table names resolve to the base tables and
// views of its schemas (the "Default" schema when none is named). Tables of
// other databases resolve through the resolver, when one is set.
class TZNTCatalogBindAdapter : public TZNTBindCatalog {
 public:
  // `catalog` must outlive the adapter; `databaseName` is the name by which
  // statements may qualify its tables.
  TZNTCatalogBindAdapter(TZNTCatalog& catalog, std::string databaseName)
      : catalog_(catalog), databaseName_(std::move(databaseName)) {}

  const TZNTBindTable* FindTable(std::string_view database, std::string_view schema,
                                 std::string_view name) override;

  // Gives the catalog of another database by name, or null.
  void SetDatabaseResolver(std::function<TZNTCatalog*(std::string_view)> resolver) {
    resolver_ = std::move(resolver);
  }

 private:
  TZNTCatalog& catalog_;
  std::string databaseName_;
  std::function<TZNTCatalog*(std::string_view)> resolver_;
};

}  // namespace znt
