#include "engine/catalogue/media_list.h"

#include "engine/core/captions.h"
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/texts.h"
#include "engine/core/text_format.h"
#include "platform/atomic_file.h"
#include "platform/file_lock.h"
#include "platform/profile.h"
#include "platform/mounts.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <utility>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestrel {

MediaList mediaList;

MediaRecord emptyRecord() {
    MediaRecord r;
    std::memset(&r, 0, sizeof r);
    return r;
}

uint32_t recordFileSize(uint64_t size) {
    return size >= kFileSizeFull ? kFileSizeFull : static_cast<uint32_t>(size);
}

uint64_t realFileSize(const MediaRecord& rec) {
    if (rec.fileSize != kFileSizeFull) return rec.fileSize;
    std::string path(rec.path, strnlen(rec.path, sizeof rec.path));
    uint64_t real = fileSize(path);
    return real > kFileSizeFull ? real : kFileSizeFull;
}

void setField(char* field, size_t size, const char* text) {
    if (size == 0) return;
    size_t n = std::strlen(text);
    if (n > size - 1) n = size - 1;
    std::memcpy(field, text, n);
    field[n] = '\0';
}

void resetMediaList() {
    mediaList.count = 0;
    mediaList.serialCounter = 0;
    mediaList.rows.clear();
    std::memset(mediaList.records, 0, sizeof mediaList.records);
}

namespace {

std::string fieldText(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

void insertRow(const MediaRecord& rec) {
    ListRow row;
    row.serial = rec.serial;
    row.columns = columnTexts(rec);
    row.icon = iconFor(rec.typeName);
    row.itemData = rec.serial + 1;
    // Rows are inserted at position `serial`, which is the end of the view
    // while serials only grow.
    size_t at = static_cast<size_t>(rec.serial) < mediaList.rows.size()
                    ? static_cast<size_t>(rec.serial)
                    : mediaList.rows.size();
    mediaList.rows.insert(mediaList.rows.begin() + static_cast<long>(at), row);
}

} // namespace

std::array<std::string, 8> columnTexts(const MediaRecord& rec) {
    std::array<std::string, 8> c;
    c[0] = std::to_string(rec.serial);
    c[1] = fieldText(rec.path, sizeof rec.path);
    c[2] = std::to_string(realFileSize(rec));
    c[3] = fieldText(rec.typeName, sizeof rec.typeName);
    c[4] = std::to_string(rec.durationSec);
    double r = rec.sampleRate;
    long long ri = (r > -1e15 && r < 1e15) ? static_cast<long long>(r) : 0;
    c[5] = std::to_string(ri);
    c[6] = std::to_string(rec.channels);
    c[7] = std::to_string(rec.kind);
    return c;
}

int iconFor(const char* typeName) {
    if (typeName[0] == 'R' && typeName[1] == 'M') return 3;
    if (typeName[0] == 'A' && typeName[1] == 'S') return 1;
    if (typeName[0] == 'M' && typeName[1] == 'O') return 2;
    return 0;
}

int appendRecord(const MediaRecord& in) {
    if (mediaList.count >= kMaxRecords) {
        showMessage(caption::kAdd, text::kListFull);
        return -3;
    }
    MediaRecord& rec = mediaList.records[mediaList.count];
    rec = in;
    rec.serial = mediaList.serialCounter;
    insertRow(rec);
    ++mediaList.count;
    ++mediaList.serialCounter;
    return 0;
}

void addDiscRow(const MediaRecord& in) {
    MediaRecord rec = in;
    rec.serial = mediaList.serialCounter++;
    insertRow(rec);
    mediaList.rows.back().icon = 0;
}

int addMediaFile(const std::string& typed) {
    if (mediaList.count >= kMaxRecords) {
        showMessage(caption::kAdd, text::kListFull);
        return -3;
    }
    // The list is loaded again from any folder: it keeps absolute paths, and
    // only paths its record can hold whole.
    const std::string path = absolutePath(typed);
    if (path.size() > sizeof(MediaRecord::path) - 1) {
        showMessage(caption::kAdd, formatText(text::kPathTooLong, path));
        return -1;
    }
    if (isOnOpticalDisc(path)) {
        showMessage(caption::kAdd, text::kOpticalDriveFile);
        return -1;
    }
    MediaRecord rec = emptyRecord();
    if (analyzeMedia(path, rec) < 0) return -1;
    for (const auto& row : mediaList.rows) {
        if (row.columns[1] == path) {
            showMessage(caption::kAdd, text::kAlreadyListed);
            return -2;
        }
    }
    setField(rec.path, sizeof rec.path, path.c_str());
    return appendRecord(rec) < 0 ? -3 : 0;
}

void relistStoredRecords() {
    int kept = 0;
    for (int k = 0; k < mediaList.count; ++k) {
        MediaRecord rec = mediaList.records[k];
        if (fileSize(fieldText(rec.path, sizeof rec.path)) <= 1000) continue;
        rec.serial = mediaList.serialCounter++;
        mediaList.records[kept] = rec;
        insertRow(mediaList.records[kept]);
        ++kept;
    }
    for (int k = kept; k < mediaList.count; ++k)
        mediaList.records[k] = emptyRecord();
    mediaList.count = kept;
}

bool selectSerial(int serial) {
    for (auto& row : mediaList.rows) {
        if (row.serial == serial) {
            row.selected = true;
            return true;
        }
    }
    return false;
}

EntryFacts entryFacts(const ListRow& row) {
    EntryFacts f;
    f.serial = std::atoi(row.columns[0].c_str());
    f.path = row.columns[1];
    f.fileSize = std::strtoull(row.columns[2].c_str(), nullptr, 10);
    f.typeName = row.columns[3];
    f.durationSec = std::atoi(row.columns[4].c_str());
    f.sourceRate = std::atoi(row.columns[5].c_str());
    f.sourceChannels = std::min(2, std::max(1, std::atoi(row.columns[6].c_str())));
    f.kind = std::atoi(row.columns[7].c_str());
    if (mediaKind(f.kind) == MediaKind::ProgramStreamAc3 ||
        mediaKind(f.kind) == MediaKind::Ac3Elementary)
        f.sourceChannels = 2;
    return f;
}

MediaRecord* recordForSerial(int serial) {
    for (int i = 0; i < mediaList.count; ++i)
        if (mediaList.records[i].serial == serial) return &mediaList.records[i];
    return nullptr;
}

int deleteSelectedRows() {
    bool any = false;
    for (const auto& row : mediaList.rows)
        any = any || row.selected;
    if (!any) {
        showMessage(caption::kDelete, text::kNothingToDelete);
        return -1;
    }
    int removed = 0;
    for (size_t i = mediaList.rows.size(); i-- > 0;) {
        if (!mediaList.rows[i].selected) continue;
        int serial = std::atoi(mediaList.rows[i].columns[0].c_str());
        mediaList.rows.erase(mediaList.rows.begin() + static_cast<long>(i));
        ++removed;
        for (int k = 0; k < mediaList.count; ++k) {
            if (mediaList.records[k].serial == serial) {
                std::memmove(&mediaList.records[k], &mediaList.records[k + 1],
                             sizeof(MediaRecord) * static_cast<size_t>(mediaList.count - k - 1));
                --mediaList.count;
                break;
            }
        }
    }
    return removed;
}

namespace {

// What the list file holds: its intact records (texts as stored), and what
// was found damaged.
struct ListFileContents {
    std::vector<MediaRecord> records;
    bool damaged = false;
    int dropped = 0;
    std::string problems; // kListProblemsJoined
};

void addProblem(ListFileContents& c, const std::string& text) {
    c.damaged = true;
    c.problems =
        c.problems.empty() ? text : formatText(text::kListProblemsJoined, c.problems, text);
}

// Reads every intact record: the count comes from the file's size when the
// stored one disagrees, a cut last record and a record whose path has no
// terminator are dropped.
ListFileContents parseListFile(const std::string& bytes) {
    ListFileContents c;
    if (bytes.empty()) return c; // an empty list
    if (bytes.size() < 4) {
        addProblem(c, formatText(text::kListTooShort, std::to_string(bytes.size())));
        return c;
    }
    int32_t n = 0;
    std::memcpy(&n, bytes.data(), 4);
    const size_t whole = (bytes.size() - 4) / sizeof(MediaRecord);
    const size_t tail = (bytes.size() - 4) % sizeof(MediaRecord);
    if (n < 0 || static_cast<size_t>(n) != whole)
        addProblem(c, formatText(text::kListCountWrong, std::to_string(n), std::to_string(whole)));
    if (tail) {
        addProblem(c, formatText(text::kListTailCut, std::to_string(tail)));
        ++c.dropped;
    }
    for (size_t k = 0; k < whole; ++k) {
        MediaRecord rec;
        std::memcpy(&rec, bytes.data() + 4 + k * sizeof rec, sizeof rec);
        if (!std::memchr(rec.path, 0, sizeof rec.path)) {
            addProblem(c, formatText(text::kListPathUnended, std::to_string(k + 1)));
            ++c.dropped;
            continue;
        }
        rec.typeName[sizeof rec.typeName - 1] = '\0';
        c.records.push_back(rec);
    }
    return c;
}

void putField(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

// The record as the program holds it: its texts in UTF-8. The file keeps them
// in GB18030; a list of an earlier release kept UTF-8, which is told apart by
// the path that names a file.
MediaRecord decodeTexts(MediaRecord rec) {
    const std::string stored = fieldText(rec.path, sizeof rec.path);
    const std::string converted = gb18030ToUtf8(stored);
    std::string path = converted;
    if (converted != stored && fileSize(converted) <= 1000 && fileSize(stored) > 1000)
        path = stored;
    const std::string type = fieldText(rec.typeName, sizeof rec.typeName);
    const std::string typeText = isValidUtf8(type) ? type : gb18030ToUtf8(type);
    if (path.size() < sizeof rec.path) putField(rec.path, sizeof rec.path, path);
    if (typeText.size() < sizeof rec.typeName)
        putField(rec.typeName, sizeof rec.typeName, typeText);
    return rec;
}

// The record as the file keeps it: UTF-8 texts in GB18030; path bytes that
// are no UTF-8 as they are.
MediaRecord encodeTexts(MediaRecord rec) {
    for (auto [field, size] : {std::pair<char*, size_t>{rec.path, sizeof rec.path},
                               std::pair<char*, size_t>{rec.typeName, sizeof rec.typeName}}) {
        const std::string text = fieldText(field, size);
        if (!isValidUtf8(text)) continue;
        const std::string gb = utf8ToGb18030(text);
        if (gb.size() < size) putField(field, size, gb);
    }
    return rec;
}

// Refuses a list file name that leads to a folder, a FIFO or a device.
bool listFileUsable(const std::string& path) {
    if (const char* what = notRegularFileKind(path)) {
        showMessage(caption::kMain, formatText(text::kListNotRegular, path, what));
        return false;
    }
    return true;
}

std::string damagedCopyName(const std::string& path) {
    for (int k = 1;; ++k) {
        std::string name = suffixedName(path + ".damaged", k);
        if (!fileExists(name)) return name;
    }
}

// Under the exclusive lock: the file's bytes as they are, a damaged file kept
// under a name of its own before it is replaced.
bool readForChange(FileLock& lock, const std::string& path, ListFileContents& now) {
    std::string bytes;
    if (!readWholeFile(lock.fd(), bytes)) return false;
    now = parseListFile(bytes);
    if (now.damaged) {
        AtomicFile copy;
        const std::string name = damagedCopyName(path);
        if (copy.open(name, AtomicFile::Mode::NoReplace) != 0 ||
            !copy.write(bytes.data(), bytes.size()) || copy.commit() != 0)
            return false;
    }
    return true;
}

// Writes `records` (texts in UTF-8) while `lock` is held.
int writeListFile(const std::string& path, FileLock& lock,
                  const std::vector<MediaRecord>& records) {
    AtomicFile out;
    int32_t n = static_cast<int32_t>(records.size());
    bool ok = out.open(path, AtomicFile::Mode::Replace, {.sync = true}) == 0 && out.write(&n, 4);
    for (size_t i = 0; ok && i < records.size(); ++i) {
        MediaRecord rec = encodeTexts(records[i]);
        ok = out.write(&rec, sizeof rec);
    }
    if (!ok || out.commit() != 0) {
        const int e = out.error() ? out.error() : EIO;
        out.abandon();
        if (lock.created()) ::unlink(path.c_str());
        showMessage(caption::kMain, formatText(text::kListSaveFailed, path), e);
        return -1;
    }
    return 0;
}

// Takes the exclusive lock of the list file; its message when it cannot.
bool lockForChange(FileLock& lock, const std::string& path) {
    if (!listFileUsable(path)) return false;
    if (lock.lock(path, FileLock::Kind::Exclusive) != FileLock::kLocked) {
        showMessage(caption::kMain, formatText(text::kListSaveFailed, path), lock.error());
        return false;
    }
    return true;
}

} // namespace

int saveMediaList() {
    return saveMediaListTo(listFilePath());
}

int saveMediaListTo(const std::string& path) {
    FileLock lock;
    if (!lockForChange(lock, path)) return -1;
    ListFileContents now;
    if (!readForChange(lock, path, now)) {
        showMessage(caption::kMain, formatText(text::kListSaveFailed, path), errno);
        return -1;
    }
    return writeListFile(
        path, lock,
        std::vector<MediaRecord>(mediaList.records, mediaList.records + mediaList.count));
}

int saveMediaListChanges(const std::vector<MediaRecord>& added,
                         const std::vector<std::string>& removed) {
    return saveMediaListChangesTo(listFilePath(), added, removed);
}

int saveMediaListChangesTo(const std::string& path, const std::vector<MediaRecord>& added,
                           const std::vector<std::string>& removed) {
    FileLock lock;
    if (!lockForChange(lock, path)) return -1;
    ListFileContents now;
    if (!readForChange(lock, path, now)) {
        showMessage(caption::kMain, formatText(text::kListSaveFailed, path), errno);
        return -1;
    }
    // The list as it is now (another process may have changed it since it
    // was loaded), without the files that vanished, with this change.
    std::vector<MediaRecord> records;
    auto listed = [&records](const std::string& p) {
        for (const auto& r : records)
            if (fieldText(r.path, sizeof r.path) == p) return true;
        return false;
    };
    for (const auto& stored : now.records) {
        MediaRecord rec = decodeTexts(stored);
        const std::string p = fieldText(rec.path, sizeof rec.path);
        if (fileSize(p) <= 1000 || listed(p) ||
            std::find(removed.begin(), removed.end(), p) != removed.end())
            continue;
        if (records.size() < static_cast<size_t>(kMaxRecords)) records.push_back(rec);
    }
    for (const auto& rec : added) {
        const std::string p = fieldText(rec.path, sizeof rec.path);
        if (listed(p)) continue;
        if (records.size() >= static_cast<size_t>(kMaxRecords)) {
            showMessage(caption::kAdd, text::kListFull);
            break;
        }
        records.push_back(rec);
    }
    return writeListFile(path, lock, records);
}

int loadMediaList() {
    return loadMediaListFrom(listFilePath());
}

int loadMediaListFrom(const std::string& path) {
    mediaList.count = 0;
    if (!listFileUsable(path)) return 0;
    std::string bytes;
    {
        FileLock lock;
        if (lock.lock(path, FileLock::Kind::Shared) != FileLock::kLocked) return 0;
        if (!readWholeFile(lock.fd(), bytes)) return 0;
    }
    ListFileContents c = parseListFile(bytes);
    if (c.damaged)
        showMessage(caption::kMain, formatText(text::kListDamaged, path, c.problems,
                                               std::to_string(c.records.size()),
                                               std::to_string(c.dropped), damagedCopyName(path)));
    for (const auto& stored : c.records) {
        if (mediaList.count >= kMaxRecords) break;
        MediaRecord rec = decodeTexts(stored);
        if (fileSize(fieldText(rec.path, sizeof rec.path)) <= 1000) continue;
        MediaRecord& slot = mediaList.records[mediaList.count];
        slot = rec;
        slot.serial = mediaList.serialCounter;
        insertRow(slot);
        ++mediaList.count;
        ++mediaList.serialCounter;
    }
    return mediaList.count;
}

} // namespace kestrel
