// Files that appear whole or not at all.
//
// An AtomicFile is written under a temporary name beside its target
// (tempNameFor: hidden, tagged with the host and the process, short enough for
// any legal target name) and only then given the target's name, so that a
// reader never sees half a file and a failed write never costs the file that
// was there before. Opening removes the temporaries that gone runs left in the
// target's folder.
//
// - Replace: commit renames the temporary over the target. The list, the
//   settings and outputs the user asked to replace use it. An output
//   (Options::output) that is not complete (commit(false), or a stream that
//   could not be closed whole) never replaces an existing file: it takes the
//   first free suffixed name beside it instead (see NoReplace). Any other file
//   that fails is removed and the earlier one stays.
// - NoReplace: a time-stamped output never replaces an existing file, of this
//   run or of another one started in the same second: commit moves it to the
//   first free one of target, target_2, target_3 ..., never replacing a file.
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
// stem cut (on a character boundary) so that the whole stays within
// kMaxNameBytes and its last component within a legal file name.
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
        // Replace: an output; what is not complete is kept beside an
        // existing target instead of being removed.
        bool output = false;
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
    // The name the file gets: for NoReplace the first free name at open
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

    // Flushes, closes (when still open) and gives the file its name;
    // `complete` false marks an output that is not whole (no sound, a failed
    // write or finish). Replace: on failure the temporary is removed and the
    // earlier file stays, except for an output, which then goes to a free
    // name as with NoReplace. NoReplace: the first free one of the target and
    // its suffixed names; a file that cannot be moved there stays under its
    // temporary name. finalName() tells where the file is. 0 when the file is
    // whole and in place; -1 with error() set when it could not be closed
    // whole or placed.
    int commit(bool complete = true);
    // True when the committed file did not take the target's name because
    // an earlier file kept it.
    bool keptBeside() const { return keptBeside_; }
    // Closes the stream and removes the temporary.
    void abandon();
    // After commit: the name the file has (empty when it is gone).
    const std::string& finalName() const { return final_; }

  private:
    int fail(int err);
    int commitReplace(bool complete);
    int placeFree();

    Mode mode_ = Mode::Replace;
    Options options_;
    FILE* stream_ = nullptr;
    std::string asked_;  // the target as asked at open
    std::string target_; // the name chosen at open
    std::string temp_;
    std::string final_;
    int error_ = 0;
    bool keptBeside_ = false;
};

} // namespace kestrel
