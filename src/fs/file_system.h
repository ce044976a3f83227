#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/debug_writer.h"
#include "common/mutex.h"
#include "common/poisoned_lock.h"
#include "common/try.h"
#include "fs/error.h"
#include "fs/file_handle_type.h"
#include "fs/inode_id.h"
#include "fs/internal/inode_table.h"
#include "fs/internal/path_cache.h"
#include "fs/listing.h"

namespace sandrig::fs {

class FileHandle;
class INodeKind;
class Directory;

// The in-memory filesystem: a concurrent table of nodes keyed by id and the
// counter that hands out new ids. Every operation is safe for concurrent
// callers; mutation happens behind per-node locks, hence the const methods.
//
// The operations are spread over one file per group:
//   file_system.cc      construction, the id primitives, link following, debug text
//   path_resolution.cc  names and paths to ids and back, the kind checks
//   creation.cc         create_inode and its front ends (mkdir, touch, create_*)
//   removal.cc          rm_raw and rm
//   listing.cc          ls_raw and ls_packed
//   opening.cc          open_raw and open; reads and writes are in file_handle.cc
class FileSystem {
 public:
  // An empty filesystem holding only the root directory.
  FileSystem();
  ~FileSystem();
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  // Resolves an id, following links, to the node operations act on.
  IoResult<InodeId> get_inode_raw(InodeId id) const;
  // Takes a node out of the table and destroys it, once no walk stands on
  // it; absent ids are ignored. Its directory is expected to have let it
  // go first; one that still lists it lists it as a vanished entry from
  // then on, and a node whose directory cannot be told is kept (see
  // retired_) instead of destroyed.
  void release_inode_id(InodeId id) const;

  // Resolves a path from the root (slashes or backslashes, ".", "..").
  IoResult<InodeId> get_inode_by_path_raw(std::string_view path) const;
  // The id listed under `name` in directory `dir` ("", "." and ".." too).
  IoResult<InodeId> find_inode_by_name(InodeId dir, std::string_view name) const;
  // True if the node, after following links, is not a directory.
  IoResult<bool> is_file_raw(InodeId id) const;
  // True if the node, after following links, is a directory.
  IoResult<bool> is_directory_raw(InodeId id) const;
  // The absolute path of a node, always written with "/".
  IoResult<std::string> get_path_by_inode(InodeId id) const;

  // Adds the entry `name` of the given kind to directory `parent`.
  IoResult<InodeId> create_inode(InodeId parent, std::string name, INodeKind kind) const;
  // create_inode of an empty file, for callers that do not build kinds.
  IoResult<InodeId> create_file(InodeId parent, std::string name) const;
  // create_inode of an empty directory, for callers that do not build kinds.
  IoResult<InodeId> create_directory(InodeId parent, std::string name) const;
  // Creates an empty directory at `path`; the parent must exist.
  IoResult<void> mkdir(std::string_view path) const;
  // Creates an empty file at `path`; never changes an existing node.
  IoResult<void> touch(std::string_view path) const;

  // Removes a node, and with `recursive` a whole tree, post-order.
  IoResult<void> rm_raw(InodeId id, bool recursive) const;
  // Resolves `path` as get_inode_by_path_raw does, then rm_raw.
  IoResult<void> rm(std::string_view path, bool recursive) const;

  // The entries of a directory: non-directories, then directories.
  IoResult<Listing> ls_raw(InodeId id) const;
  // ls_raw() packed, with the directory's stamp read under the same lock;
  // nothing when the stamp is still `seen`, i.e. the entries are those
  // of an earlier listing that had that stamp.
  IoResult<std::optional<PackedListing>> ls_packed(InodeId id,
                                                   std::optional<std::uint64_t> seen) const;
  // ls_packed() of the directory `path` leads to (resolved as by
  // get_inode_by_path_raw), in one walk, into `listing`, whose texts'
  // memory is reused (a caller that lists often keeps one). The
  // directory's id goes to `id`, and `seen_of(id)` gives the stamp the
  // caller saw; false, with `listing` untouched, when it is still that.
  template <typename SeenOf>
  IoResult<bool> ls_packed_at(std::string_view path, SeenOf&& seen_of, InodeId& id,
                              PackedListing& listing) const {
    std::optional<ListedIn> listed_in;
    const EntryGuard entry = SANDRIG_TRY(walk(path, &listed_in));
    id = entry->id();
    const std::optional<std::uint64_t> seen = seen_of(id);
    // A directory the caller has not seen may be one of a walk over its
    // siblings; one it has seen is listed again, which needs no fetching.
    if (!seen && listed_in) fetch_listings_after(*listed_in);
    listed_in.reset();
    return pack_entries(*entry, seen, listing);
  }

  // Opens the file `id` (links followed) with a share of its lock.
  static IoResult<FileHandle> open_raw(std::shared_ptr<FileSystem> fs, InodeId id,
                                       FileHandleType mode);
  // Opens the file at `path`, creating it empty first when `create` is set.
  static IoResult<FileHandle> open(std::shared_ptr<FileSystem> fs, std::string_view path,
                                   FileHandleType mode, bool create);

  // Writes `FileSystem { inodes: {...}, next_inode_id: N }`.
  void write_debug(DebugWriter& out) const;
  // The debug text of the whole filesystem.
  std::string debug() const;

  // Visits every node under its entry guard, in id order. For tests and
  // tools that check the tree's invariants; `visit` must not modify the
  // filesystem.
  void for_each_inode(const std::function<void(const INode&)>& visit) const;
  // The number of nodes in the table and of the table's buckets, for
  // tests that check that memory follows the live nodes.
  std::size_t inode_count() const { return inodes_.size(); }
  std::size_t table_buckets() const { return inodes_.bucket_count(); }

 private:
  friend class FileHandle;

  // release_inode_id() of a node that no directory lists any more.
  void drop_unlisted(InodeId id) const;
  // Destroys `node`, out of the table and listed nowhere, once no walk
  // stands on it.
  static void destroy(std::unique_ptr<INode> node);
  // Keeps `node` until the filesystem goes (see retired_).
  void retire(std::unique_ptr<INode> node) const;
  // Has the directory of `node`, released out of the table, list a
  // vanished entry in its place, should it still list it; false when the
  // directory cannot be found, so that whether it lists the node is unknown.
  bool unlist_released(const INode& node) const;
  // Follows links from `id`; the entry guard of the node reached.
  IoResult<EntryGuard> resolve(InodeId id) const;
  IoResult<EntryGuard> resolve_link(const INode& link, std::size_t hops) const;
  // The id listed under `name` in `dir` (empty, "." and ".." included).
  IoResult<InodeId> find_inode_by_name_with_handle(const INode& dir, std::string_view name) const;
  // An entry found by name: the id as listed and the guard of the node it
  // resolves to (the same node unless the entry is a link).
  struct Found {
    InodeId listed;
    EntryGuard node;
  };
  // The entry guard of `node`, found listed in a directory whose payload
  // the caller locks; InodeNotFound for none, or for a node whose removal
  // holds its entry.
  static IoResult<EntryGuard> take_listed(const INode* node);
  // The entry listed under `name` in a directory whose payload the caller locks.
  IoResult<Found> search(const Directory& directory, std::string_view name) const;
  // search() in `dir` (not NotADirectory), under a read hold of its payload.
  IoResult<Found> search_in(const INode& dir, std::string_view name) const;
  // What find_inode_by_name_with_handle() finds, with the guard of the node
  // it resolves to.
  IoResult<Found> find_entry(const INode& dir, std::string_view name) const;
  // What find_listed() learnt about a name in a directory.
  struct Listed {
    const INode* node;       // the entry of that name, if found
    bool decided;            // false if a link was in the way
    std::uint32_t slot = 0;  // where `node` is listed (see Directory::slots_with_holes())
  };
  // The entry listed under `name` in a directory whose payload the caller
  // read-locks, found without taking entries; links are left undecided.
  Listed find_listed(const Directory& directory, std::string_view name) const;
  // The node reached from `dir` by the path component `name` (not empty
  // nor "."), under its entry guard.
  IoResult<EntryGuard> step(const INode& dir, std::string_view name) const;
  // The directory in which a walk found the node it reached, still
  // read-held, and the node's slot there.
  struct ListedIn {
    ReadGuard<INodeKind> directory;
    std::uint32_t slot;
  };
  // The node a path from the root leads to, under its entry guard (what
  // get_inode_by_path_raw names by id). Given `listed_in`, a walk of names
  // (see walk_names()) also keeps where it found the node there.
  IoResult<EntryGuard> walk(std::string_view path,
                            std::optional<ListedIn>* listed_in = nullptr) const;
  // fetch_next_listings() of the siblings after the node found `listed_in`.
  static void fetch_listings_after(const ListedIn& listed_in);
  // walk() for a path of names only, hand over hand on the directories'
  // payload read locks, their entries read through the directories (a
  // listed node outlives the lock of its directory: see
  // release_inode_id()); only the node reached takes its entry. Nothing
  // for the root, or when a "..", a link or a name below a non-directory
  // is met: walk() then takes the guarded steps from the root.
  std::optional<IoResult<EntryGuard>> walk_names(std::string_view path,
                                                 std::optional<ListedIn>* listed_in) const;
  // Calls `visit(node)` for each entry of `directory`, whose payload the
  // caller read-locks, in creation order, links followed; dangling links
  // are skipped. False if a link was met.
  template <typename Visit>
  bool visit_listed(const Directory& directory, Visit&& visit) const;
  // ls_packed() of `node`, whose entry the caller holds, into `listing`.
  IoResult<bool> pack_entries(const INode& node, std::optional<std::uint64_t> seen,
                              PackedListing& listing) const;
  // Packs the entries of `directory`, whose payload the caller read-locks,
  // into `listing` (its texts, counts and stability). Never inlined: its
  // loop, run for every entry, then has the registers to itself.
  [[gnu::noinline]] void pack_listed(const Directory& directory, PackedListing& listing) const;
  // Hands out the next id.
  InodeId take_inode_id() const;
  // Hands out the next directory stamp (see Directory::stamp()); never 0.
  std::uint64_t take_stamp() const;
  // Under the parent's writer hold: checks the name, depth and kind, then
  // enters `node` in the table and lists it. Sets `out_of_memory` (the
  // caller throws once the parent is unlocked) instead of unwinding.
  IoResult<InodeId> link_new_node(const INode& parent, std::string_view name,
                                  std::unique_ptr<INode> node, std::size_t depth,
                                  bool& out_of_memory) const;
  // Creates a node at `path` of the kind `kind`.
  IoResult<void> create_at(std::string_view path, INodeKind kind) const;
  // The unlinking phase of a removal, of the node whose entry is given.
  IoResult<void> unlink(EntryGuard entry) const;
  // Removes the entries `children` (ids listed in the directory `dir`) and
  // what they hold, in their order; stops at the first failure.
  IoResult<void> remove_children(InodeId dir, std::span<const InodeId> children) const;
  // Unlinks the plain files that lead `children`, up to the first entry
  // that is not one, as a run; the number removed. On a failure the files
  // before the one that failed are removed all the same.
  IoResult<std::size_t> unlink_files(InodeId dir, std::span<const InodeId> children) const;

  INodeTable inodes_;
  const INode* root_;  // never removed; owned by inodes_
  PathCache walked_;    // where recent deep walks of names led
  mutable std::atomic<InodeId> next_inode_id_{1};
  mutable std::atomic<std::uint64_t> next_stamp_{1};
  // Nodes released while a directory may still list them (directories
  // hold their entries by address), and the vanished entries listed in
  // the place of released ones; kept until the filesystem goes.
  mutable Mutex<std::vector<std::unique_ptr<INode>>> retired_{kPoisonedLock};
};

}  // namespace sandrig::fs
