// The media list: the process-wide array of at most 128 records, its count
// and serial counter, the rows of the list view tied to records by serial
// number, and the list file mpginfo.dat (an int32 count and that many raw
// 752-byte records).
//
// Threading: only the user-interface thread changes the list; workers read an
// entry's facts from the rows before they start.
#pragma once

#include "engine/catalogue/media_record.h"
#include "engine/core/entry_facts.h"

#include <array>
#include <string>
#include <vector>

namespace kestrel {

inline constexpr int kMaxRecords = 128;

// One row of the list view (stored records and disc entries alike).
struct ListRow {
    int serial = 0;
    std::array<std::string, 8> columns; // the eight column texts
    int icon = 0;                       // 0 generic, 1 Windows Media, 2 QuickTime, 3 RealMedia
    long itemData = 0;                  // serial + 1
    bool selected = false;
};

struct MediaList {
    MediaRecord records[kMaxRecords];
    int count = 0;
    int serialCounter = 0;
    std::vector<ListRow> rows; // in view order
};

extern MediaList mediaList;

// Clears records, rows and counters (start of the program, tests).
void resetMediaList();

// The eight column texts of a record, and its row icon from typeName.
std::array<std::string, 8> columnTexts(const MediaRecord& rec);
int iconFor(const char* typeName);

// Analyse and append one file under its absolute path (absolutePath): 0
// added, -1 refused (a path longer than the record's 511 bytes, a file on an
// optical disc, which the disc scan lists by itself, or the analysis refused
// it; the message was shown), -2 already listed, -3 the list
// is full.
int addMediaFile(const std::string& path);

// Appends a record that is already analysed (after the duplicate check).
int appendRecord(const MediaRecord& rec);

// Shows a row that has no stored record (a disc entry).
void addDiscRow(const MediaRecord& rec);

// Lists the stored records again after the rows were cleared (the refresh
// command): each record whose file is larger than 1000 bytes takes the next
// serial number and a row; the others leave the array, later ones moving up.
void relistStoredRecords();

// Deletes every selected row; returns the number of rows removed, or -1 when
// none is selected (message shown).
int deleteSelectedRows();

// Selects rows by serial number (the CLI's way of picking rows).
bool selectSerial(int serial);

// List file (texts in GB18030; a list of an earlier release in UTF-8 is read
// too). Saving writes a temporary file beside it and renames it over the old
// one, under an exclusive lock: >= 0 on success, negative (message shown)
// when it failed, in which case the old file is kept. A damaged file is
// copied to "<name>.damaged" (or the next free name) before it is replaced.
int saveMediaList();
int saveMediaListTo(const std::string& path);
// Saves a change made by a process that does not own the list (the command
// line): under the lock the file is read again and gets `added` (unless
// listed) and loses `removed` (paths), so that the changes of other
// processes since the list was loaded are kept.
int saveMediaListChanges(const std::vector<MediaRecord>& added,
                         const std::vector<std::string>& removed);
int saveMediaListChangesTo(const std::string& path, const std::vector<MediaRecord>& added,
                           const std::vector<std::string>& removed);
// Loading, under a shared lock: records whose file is missing or 1000 bytes
// or smaller are dropped; loading stops at 128 records. A damaged file keeps
// every intact record (counted from the file's size when the stored count
// disagrees) and says what was dropped. Anything but a regular file is
// refused with a message.
int loadMediaList();
int loadMediaListFrom(const std::string& path);

// An entry's facts as the workers read them back from its row's columns:
// channels capped at 2 (and 2 for AC-3 kinds 5 and 11, which decode to two
// channels whatever the stream carries).
EntryFacts entryFacts(const ListRow& row);

// The record behind a row (by serial), or nullptr for a disc entry.
MediaRecord* recordForSerial(int serial);

} // namespace kestrel
