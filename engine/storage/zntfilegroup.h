// The files of one table (row file, index file, blob file) written as one
// atomic batch, so a crash never leaves a row without its index entries or
// an index entry without its row.
//
// A group batch spanning several files runs in three steps: every file's
// journal (format 2: tagged with a fresh group id and the commit mark's path)
// is written and flushed; then every file's batch; then the commit mark, a
// small file beside the first file holding the group id, is written (and
// flushed with the batch). Only then are the journals deleted, the mark last.
// Each file decides its recovery alone from its own journal and the mark:
// an intact grouped journal rolls the file back unless its final header is on
// disk and the mark holds the group's id. A journal that fails its digest was
// torn before any file of the batch was touched. So every file of the group
// ends as before the batch, or every file as after it. A batch that changes a
// single file of the group is written as that file alone would write it.
//
// Commit mark (the first file's path + "-commit"):
//   0  8   magic "ZNTCMIT" followed by the format number 1
//   8  16  the group id
//   24 16  MD5 of the 24 bytes before it
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/zntcrypto.h"
#include "storage/zntfilemgr.h"
#include "storage/zntstoremgr.h"

namespace znt {

// True when `path` holds a whole commit mark of group `id`.
bool ZNTCommitMarkHolds(TZNTFileManager& files, const std::string& path,
                        const TZNTDigest::TValue& id);

// The table files of one table, whose writes become one batch. Every
// WriteChanges of a member (its own, cache pressure, closing) writes the
// whole group. The members belong to the caller, must outlive the group and
// should be used in the same mode; opening and creating them stays with the
// caller. Not thread-safe, like its members.
//
// Invariants (checked by CheckInvariants, beyond those of the members):
//  1. every member names this group as its group, and none appears twice;
//  2. between calls no member holds a journal of an unfinished batch.
class TZNTTableFileGroup {
 public:
  // Joins `members` (in the order batches write them); none may be in a
  // group already.
  explicit TZNTTableFileGroup(std::vector<TZNTTableFileManager*> members);
  // The members leave the group and are used alone again.
  ~TZNTTableFileGroup();
  TZNTTableFileGroup(const TZNTTableFileGroup&) = delete;
  TZNTTableFileGroup& operator=(const TZNTTableFileGroup&) = delete;

  size_t Count() const noexcept { return members_.size(); }
  TZNTTableFileManager& Member(size_t i) const { return *members_[i]; }

  // Writes the pending changes of every open member as one atomic batch, and
  // with `flush` forces them to disk. Does nothing when nothing changed. On
  // failure every member is rolled back, the changes are discarded and the
  // error passes.
  void WriteChanges(bool flush);
  // BeginOperation on every open member; true when any dropped its cache.
  bool BeginOperation();
  // Enters transaction mode on every open member (writing pending changes
  // first as one batch); on failure none is left in it.
  void BeginTransaction();
  // Writes every member's transaction as one batch and restores the modes,
  // also when the write fails.
  void CommitTransaction(bool flush);
  // Discards every member's transaction; the first error passes once all
  // have been rolled back.
  void RollbackTransaction();
  // Writes pending changes as one batch and closes every member, even when
  // the write fails; the first error passes.
  void Close();

  // Block bytes written by all members.
  uint64_t WriteBytes() const noexcept;

  // Describes the first broken invariant of the group or a member; empty
  // when all hold.
  std::string VerifyInvariants();
  // Asserts VerifyInvariants(); does nothing in a release build.
  void CheckInvariants();

 private:
  std::vector<TZNTTableFileManager*> members_;
};

}  // namespace znt
