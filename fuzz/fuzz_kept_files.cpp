// Fuzz target for the files the program keeps: the input is read as the media
// list (a damaged one keeps its intact records) and as the settings file
// (read, then changed by one key and read again).
#include "engine/catalogue/media_list.h"
#include "platform/ports.h"
#include "platform/profile.h"

#include "fuzz_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <string>

namespace {

class Quiet : public kestrel::MessagePort {
  public:
    kestrel::MsgAnswer show(const std::string&, const std::string&, kestrel::MsgButtons,
                            kestrel::MsgAnswer fallback) override {
        return fallback;
    }
};

void put(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// A folder of its own: writing a setting replaces the file through a
// temporary beside it, and looks for leftovers there.
std::string scratchInFolder() {
    static char dir[64];
    std::snprintf(dir, sizeof dir, "%s/kestrel_fuzz_kept_XXXXXX", fuzz::scratchFolder());
    if (!::mkdtemp(dir)) std::abort();
    std::atexit([] { std::filesystem::remove_all(dir); });
    return std::string(dir) + "/tavolin.ini";
}

} // namespace

constexpr size_t kMaxSettingsBytes = 8192;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Quiet quiet;
    static const std::string path = scratchInFolder();
    kestrel::setMessagePort(&quiet);

    put(path, data, size);
    kestrel::resetMediaList();
    if (kestrel::loadMediaListFrom(path) > kestrel::kMaxRecords) std::abort();
    if (kestrel::mediaList.rows.size() != static_cast<size_t>(kestrel::mediaList.count))
        std::abort();

    // A settings file is a few hundred bytes; its reader takes each line
    // apart, so the first 8 KiB (any number of lines) show all that more
    // would.
    if (size > kMaxSettingsBytes) put(path, data, kMaxSettingsBytes);
    const std::string section = "岚石多媒体MP3转换器";
    (void)kestrel::getPrivateProfileInt(section, "转换文件类型", -1, path);
    const std::string save =
        kestrel::getPrivateProfileString(section, "转换文件保存路径", "", 512, path);
    if (save.size() > 511 * 2)
        std::abort(); // at most 511 bytes in the file, each at most 2 in UTF-8
    if (!kestrel::writePrivateProfileString(section, "界面显示", "3", path)) return 0;
    if (kestrel::getPrivateProfileInt(section, "界面显示", -1, path) != 3) std::abort();
    return 0;
}
