#include "engine/catalogue/analysis.h"

#include "engine/captions.h"
#include "platform/ports.h"

#include <cstdio>

namespace kestrel {

int analyzeMedia(const std::string& path, MediaRecord&) {
    char msg[1100];
    std::snprintf(msg, sizeof msg, "文件%s:不确定文件类型错", path.c_str());
    showMessage(caption::kMainWide, msg);
    return -2;
}

} // namespace kestrel
