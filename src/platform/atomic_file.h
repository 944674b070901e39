// Files that appear whole or not at all.
//
// An AtomicFile is written under a temporary name beside its target and only
// then given the target's name, so that a reader never sees half a file and a
// failed write never costs the file that was there before.
//
// - Replace: the temporary is tempNameFor(target) ("<target>.<host>.<pid>.tmp",
//   which removeStaleTempFiles() recognises after a killed run); commit renames
//   it over the target. The list, the settings and fast conversion use it.
// - NoReplace: a time-stamped output never replaces an existing file, of this
//   run or of another one started in the same second. The temporary is the
//   ".part" of the first of target, target_2, target_3 ... whose file and
//   ".part" file both do not exist, created exclusively; commit moves it to the
//   first free one of those names (normally the one it stands for), never
//   replacing a file.
//
// Every failing step records its errno (error()); a failure never leaves a
// file under the target's name that looks finished.
#pragma once

#include <cstdio>
#include <string>

namespace kestrel {

// Paths are stored in 512-byte fields: a name has at most 511 bytes.
inline constexpr size_t kMaxNameBytes = 511;

// `name` with "_k" before its extension (k >= 2; k <= 1 gives `name`), the
// stem cut so that the whole stays within kMaxNameBytes.
std::string suffixedName(const std::string& name, int k);

class AtomicFile {
  public:
    enum class Mode { Replace, NoReplace };

    struct Options {
        // Replace: sync the data to the disk before the rename (the list).
        bool sync = false;
        // Replace: move an earlier target aside and remove it only once the
        // new file is in place. Renaming over an existing file makes some file
        // systems flush the new data first, which for a large output costs
        // more than writing it.
        bool moveAside = false;
    };

    AtomicFile() = default;
    ~AtomicFile(); // abandons what was neither committed nor abandoned
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&& other) noexcept;

    // Creates the temporary for `target` and opens it for binary writing
    // (fully buffered). 0 on success; -1 with error() set.
    int open(const std::string& target, Mode mode, Options options);
    int open(const std::string& target, Mode mode);

    // The open stream; null once closed. Writers may write to it directly.
    FILE* stream() const { return stream_; }
    // The name the file gets: for NoReplace the free name chosen at open
    // (commit may still move on to a later one).
    const std::string& target() const { return target_; }
    const std::string& tempName() const { return temp_; }
    // The errno of the first failure, 0 when none.
    int error() const { return error_; }
    bool isOpen() const { return !temp_.empty(); }

    // Writes `size` bytes; false (error() set) when they were not all written.
    bool write(const void* data, size_t size);

    // Flushes and closes the stream, reporting errno. For writers that finish
    // the file through the stream themselves before commit.
    int close();
    // Hands the stream over to a writer that closes it itself; the file is
    // still committed or abandoned by name.
    FILE* releaseStream();

    // Flushes, closes (when still open) and gives the file its name. Replace:
    // on failure the temporary is removed and the earlier file stays. NoReplace:
    // the name is the first free one of the target as asked at open and its
    // suffixed names; a file that cannot be closed or moved stays under its
    // temporary name, which the caller reports. Either way finalName() tells
    // where the file is. 0 on success; -1 with error() set.
    int commit();
    // Closes the stream and removes the temporary.
    void abandon();
    // After commit: the name the file has (empty when it is gone).
    const std::string& finalName() const { return final_; }

  private:
    int fail(int err);
    int commitReplace();
    int commitNoReplace();

    Mode mode_ = Mode::Replace;
    Options options_;
    FILE* stream_ = nullptr;
    std::string asked_;  // the target as asked at open
    std::string target_; // the name chosen at open
    std::string temp_;
    std::string final_;
    int error_ = 0;
};

} // namespace kestrel
