#include "engine/catalogue/disc_scan.h"

#include "engine/catalogue/analysis.h"
#include "engine/catalogue/media_list.h"
#include "platform/mounts.h"

#include <dirent.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace kestrel {

namespace {

bool equalsNoCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return i == a.size() && !b[i];
}

bool endsWithNoCase(const std::string& name, const char* ext) {
    const std::string e(ext);
    return name.size() > e.size() && equalsNoCase(name.substr(name.size() - e.size()), ext);
}

bool isDirectoryEntry(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return false;
    closedir(d);
    return true;
}

// Names in `dir` (without "." and ".."), sorted regardless of case, so that tracks come in
// their numbered order whatever the file system returns.
std::vector<std::string> folderNames(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d) return names;
    while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
    });
    return names;
}

// The child folder of `root` named `name` in any case (discs written on
// other systems carry MPEGAV or mpegav alike), or "".
std::string childFolder(const std::string& root, const char* name) {
    for (const auto& n : folderNames(root)) {
        const std::string p = root + "/" + n;
        if (equalsNoCase(n, name) && isDirectoryEntry(p)) return p;
    }
    return {};
}

int listDiscFiles(const std::string& root, const char* folder, const char* ext,
                  const char* typeText) {
    const std::string dir = childFolder(root, folder);
    if (dir.empty()) return 0;
    int added = 0;
    for (const auto& n : folderNames(dir)) {
        if (!endsWithNoCase(n, ext)) continue;
        const std::string path = dir + "/" + n;
        if (isDirectoryEntry(path)) continue;
        MediaRecord rec = emptyRecord();
        if (analyzeMedia(path, rec) != 0) continue;
        setField(rec.typeName, sizeof rec.typeName, typeText);
        addDiscRow(rec);
        ++added;
    }
    return added;
}

} // namespace

int scanDiscs() {
    int added = 0;
    for (const auto& root : opticalMountPoints()) {
        added += listDiscFiles(root, "mpegav", ".dat", "VCD");
        added += listDiscFiles(root, "VIDEO_TS", ".vob", "DVD");
    }
    return added;
}

int refreshMediaList() {
    mediaList.rows.clear();
    mediaList.serialCounter = 0;
    scanDiscs();
    relistStoredRecords();
    return static_cast<int>(mediaList.rows.size());
}

} // namespace kestrel
