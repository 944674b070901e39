#include "engine/catalogue/media_list.h"

#include "engine/core/captions.h"
#include "engine/catalogue/analysis.h"
#include "engine/catalogue/texts.h"
#include "engine/core/text_format.h"
#include "platform/atomic_file.h"
#include "platform/mounts.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <algorithm>
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

int saveMediaList() {
    return saveMediaListTo(listFilePath());
}

int saveMediaListTo(const std::string& path) {
    AtomicFile out;
    int32_t n = mediaList.count;
    bool ok = out.open(path, AtomicFile::Mode::Replace, {.sync = true}) == 0 && out.write(&n, 4);
    for (int i = 0; ok && i < n; ++i)
        ok = out.write(&mediaList.records[i], sizeof(MediaRecord));
    if (!ok || out.commit() != 0) {
        char msg[1024];
        std::snprintf(msg, sizeof msg, text::kListSaveFailed, path.c_str());
        showMessage(caption::kMain, msg, out.error());
        return -1;
    }
    return 0;
}

int loadMediaList() {
    return loadMediaListFrom(listFilePath());
}

int loadMediaListFrom(const std::string& path) {
    mediaList.count = 0;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    int32_t n = 0;
    if (std::fread(&n, 4, 1, f) != 1) n = 0;
    for (int32_t k = 0; k < n && mediaList.count < kMaxRecords; ++k) {
        MediaRecord rec;
        if (std::fread(&rec, sizeof rec, 1, f) != 1) break; // shorter than its count
        rec.path[sizeof rec.path - 1] = '\0';
        rec.typeName[sizeof rec.typeName - 1] = '\0';
        if (fileSize(rec.path) <= 1000) continue;
        MediaRecord& slot = mediaList.records[mediaList.count];
        slot = rec;
        slot.serial = mediaList.serialCounter;
        insertRow(slot);
        ++mediaList.count;
        ++mediaList.serialCounter;
    }
    std::fclose(f);
    return mediaList.count;
}

} // namespace kestrel
