// Stand-in for `kestrel-cli fast -o DIR FILE` while the command line is not
// wired: runs the fast conversion of one file into DIR.
#include "engine/convert/fast_conversion.h"
#include "platform/paths.h"

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4 || std::strcmp(argv[1], "-o") != 0) {
        std::fprintf(stderr, "usage: %s -o DIR FILE\n", argv[0]);
        return 2;
    }
    kestrel::FastSource src;
    src.path = argv[3];
    src.savePath = argv[2];
    if (src.savePath.empty() || src.savePath.back() != '/') src.savePath += '/';
    // The stream form from the first bytes, as the analysis would find it.
    unsigned char head[4] = {};
    if (FILE* f = std::fopen(src.path.c_str(), "rb")) {
        std::fread(head, 1, 4, f);
        std::fclose(f);
    }
    if (head[0] == 0x47)
        src.kind = 3;
    else if (head[0] == 0 && head[1] == 0 && head[2] == 1)
        src.kind = 6;
    else
        src.kind = 10;
    src.fileSize = kestrel::fileSize(src.path);
    kestrel::FastOutcome outcome;
    kestrel::fast_conversion_thread(src, &outcome);
    return outcome.status == kestrel::FastStatus::Done ? 0 : 1;
}
