#include "engine/convert/exe_output.h"

#include "engine/convert/output_naming.h"
#include "engine/convert/texts.h"
#include "engine/core/captions.h"
#include "engine/core/text_format.h"
#include "engine/libraries/lib_mp3enc.h"
#include "engine/libraries/lib_orvoplay.h"
#include "engine/settings/settings.h"
#include "platform/ports.h"
#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <random>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace kestrel {

namespace {

void seedOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        unsigned seed = 0;
        if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed))
            seed = std::random_device()();
        std::srand(seed);
    });
}

int drawRand() {
    return std::rand();
}

// Writes the encoder's VBR/ABR tag ("Info" at a constant bit rate) over the
// output's first frame, masked at MP3 position 0, and corrects the data CRC
// for the changed bytes, so that players show the right duration. Nothing
// when no whole first frame was written or the tag does not fit it.
void writeExeTag(ExeOutputState& st) {
    exe::Scramble& s = st.scramble;
    if (!mp3encLoaded() || !st.file || st.writeFailed || st.firstFrame.empty()) return;
    std::vector<uint8_t> tag(8192);
    int t = mp3enc.wave_enmp3_vbrheader(tag.data(), static_cast<int>(tag.size()));
    if (t <= 0 || static_cast<size_t>(t) > st.firstFrame.size() || tag[0] != 0xFF) return;
    std::vector<uint8_t> change(static_cast<size_t>(t));
    for (size_t i = 0; i < change.size(); ++i)
        change[i] = st.firstFrame[i] ^ tag[i];
    exe::maskBytes(s.keys, s.period, 0, tag.data(), change.size());
    const long at = static_cast<long>(s.playerBytes + exe::kDescriptorBytes);
    std::fflush(st.file);
    const long end = std::ftell(st.file);
    if (std::fseek(st.file, at, SEEK_SET) != 0) return;
    if (std::fwrite(tag.data(), 1, change.size(), st.file) == change.size()) {
        uint32_t delta = exe::crc32Mpeg2(0, change.data(), change.size());
        s.dataCrc ^= exe::crc32Mpeg2Zeros(delta, s.maskedBytes - change.size());
    } else {
        st.writeFailed = true;
        st.writeErrno = errno ? errno : EIO;
    }
    std::fseek(st.file, end, SEEK_SET);
}

} // namespace

void exeDrawKeys(exe::Scramble& s) {
    seedOnce();
    exe::drawKeys(s, drawRand);
}

int exeOutputStart(ExeOutputState& st, FILE* f) {
    st = ExeOutputState();
    st.file = f;
    if (!orvoplayLoaded() && loadOrvoplay() < 0) return -1;
    exeDrawKeys(st.scramble);
    exe::Scramble& s = st.scramble;
    std::vector<uint8_t> piece(exe::kPieceBufferBytes);
    uint32_t crc = exe::kCrcInit;
    s.playerBytes = 0;
    for (int i = 1; i <= exe::kPlayerPieces; ++i) {
        int n = orvoplay.orvo_getexedata(i, piece.data());
        if (n <= 0) continue;
        if (n > exe::kPieceBufferBytes) return -2;
        crc = exe::crc32Mpeg2(crc, piece.data(), static_cast<size_t>(n));
        s.playerBytes += static_cast<uint32_t>(n);
        if (std::fwrite(piece.data(), 1, static_cast<size_t>(n), f) != static_cast<size_t>(n))
            return -3;
    }
    // The player must fill its place exactly: the data starts at kDataOffset.
    if (s.playerBytes != exe::kPlayerBytes) return -2;
    s.playerCrc = crc;
    uint8_t placeholder[exe::kDescriptorBytes] = {};
    if (std::fwrite(placeholder, 1, sizeof placeholder, f) != sizeof placeholder) return -3;
    s.dataCrc = exe::kCrcInit;
    return 0;
}

void exeWriteFrames(const uint8_t* bytes, int length, void* context) {
    auto& st = *static_cast<ExeOutputState*>(context);
    if (!st.file || st.writeFailed || length <= 0) return;
    exe::Scramble& s = st.scramble;
    if (s.maskedBytes == 0) st.firstFrame.assign(bytes, bytes + length);
    std::vector<uint8_t> masked(bytes, bytes + length);
    exe::maskBytes(s.keys, s.period, s.maskedBytes, masked.data(), masked.size());
    if (std::fwrite(masked.data(), 1, masked.size(), st.file) != masked.size()) {
        st.writeFailed = true;
        st.writeErrno = errno ? errno : EIO;
        return;
    }
    s.dataCrc = exe::crc32Mpeg2(s.dataCrc, masked.data(), masked.size());
    s.maskedBytes += static_cast<uint32_t>(length);
}

int exeOutputFinish(ExeOutputState& st, uint64_t pcmBytes) {
    FILE* f = st.file;
    if (!f) return 0;
    const exe::Scramble& s = st.scramble;
    const Settings& set = settings;
    const EffectiveOutputFormat& fmt = outputFormat;
    std::fflush(f);
    std::clearerr(f);
    if (st.writeFailed)
        (void)::ftruncate(
            fileno(f), static_cast<off_t>(s.playerBytes + exe::kDescriptorBytes + s.maskedBytes));
    exe::Descriptor d;
    d.maskedBytes = s.maskedBytes;
    const uint64_t perSecond = static_cast<uint64_t>(fmt.out_rate) * fmt.out_channels * 2;
    d.seconds = perSecond ? static_cast<uint32_t>(pcmBytes / perSecond) : 0;
    d.period = s.period;
    d.speedControl = set.exe_variable_speed ? 1 : 0;
    d.passwordOn = set.exe_password_on ? 1 : 0;
    d.password = cutGb18030(utf8ToGb18030(set.exe_password), exe::kPasswordBytes);
    d.description = cutGb18030(utf8ToGb18030(set.exe_description), exe::kDescriptionBytes);
    for (int i = 0; i < 5; ++i)
        d.keys[i] = s.keys[i];
    for (int i = 0; i < 4; ++i)
        d.layout[i] = s.layout[i];
    d.outRate = fmt.out_rate;
    d.mpegVersion = fmt.out_version;
    d.variableRate = set.mp3_rate_mode > 0 ? 1 : 0;
    d.channels = static_cast<uint8_t>(fmt.out_channels);
    d.playerCrc = s.playerCrc;
    d.dataCrc = s.dataCrc;
    uint8_t bytes[exe::kDescriptorBytes];
    exe::buildDescriptor(d, bytes);
    exe::encipherDescriptor(bytes);
    errno = 0;
    if (std::fseek(f, static_cast<long>(s.playerBytes), SEEK_SET) != 0 ||
        std::fwrite(bytes, 1, sizeof bytes, f) != sizeof bytes || std::fflush(f) != 0)
        return errno ? errno : EIO;
    std::fseek(f, 0, SEEK_END);
    return st.writeFailed ? (st.writeErrno ? st.writeErrno : EIO) : 0;
}

} // namespace kestrel

namespace kestrel {

int exeOpenOutput(ExeOutputState& st, Mp3EncoderState& mp3, FILE* f, const std::string& name) {
    errno = 0;
    int rc = exeOutputStart(st, f);
    if (rc == -3) {
        showMessage(caption::kMain, formatText(text::kOutputWriteFailed, name,
                                               writeFailureReason(errno ? errno : EIO)));
    } else if (rc == -2) {
        showMessage(caption::kMain, formatText(text::kExePlayerBroken, name));
    } else if (rc >= 0 && mp3EncoderSetup(mp3, kOutExe) < 0) {
        rc = -1;
    }
    return rc < 0 ? -1 : 0;
}

int exeCloseOutput(ExeOutputState& st, Mp3EncoderState& mp3, uint64_t pcmBytes, bool writeFailed) {
    if (writeFailed) {
        mp3EncoderAbandon(mp3);
    } else {
        const bool tagged = mp3.tagged;
        mp3EncoderFinish(mp3, exeWriteFrames, &st, nullptr);
        if (tagged) writeExeTag(st);
    }
    int err = exeOutputFinish(st, pcmBytes);
    return writeFailed ? 0 : err;
}

void exeRecordKeys(const ExeOutputState& st, int32_t keys[5], int32_t& period) {
    for (int i = 0; i < 5; ++i)
        keys[i] = st.scramble.keys[i];
    period = st.scramble.period;
}

int readExeOutput(const std::string& path, ExeContents& out, bool withData) {
    out = ExeContents();
    // Only a regular file: a pipe or a device would block or never end.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return kExeUnreadable;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return kExeUnreadable;
    struct Closer {
        FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{f};
    if (std::fseek(f, 0, SEEK_END) != 0) return kExeUnreadable;
    long size = std::ftell(f);
    if (size < 0) return kExeUnreadable;
    out.fileSize = static_cast<uint64_t>(size);
    if (out.fileSize < exe::kDataOffset) return kExeNotOurs;
    std::rewind(f);
    // The player's CRC and the descriptor.
    std::vector<uint8_t> buf(1 << 16);
    uint32_t crc = exe::kCrcInit;
    for (uint32_t done = 0; done < exe::kPlayerBytes;) {
        size_t want = std::min<size_t>(buf.size(), exe::kPlayerBytes - done);
        if (std::fread(buf.data(), 1, want, f) != want) return kExeUnreadable;
        crc = exe::crc32Mpeg2(crc, buf.data(), want);
        done += static_cast<uint32_t>(want);
    }
    uint8_t desc[exe::kDescriptorBytes];
    if (std::fread(desc, 1, sizeof desc, f) != sizeof desc) return kExeUnreadable;
    exe::decipherDescriptor(desc);
    if (exe::parseDescriptor(desc, out.descriptor) < 0) return kExeNotOurs;
    const exe::Descriptor& d = out.descriptor;
    bool damaged = crc != d.playerCrc;
    // The data: exactly maskedBytes from kDataOffset.
    if (out.fileSize - exe::kDataOffset < d.maskedBytes) return kExeDamaged;
    crc = exe::kCrcInit;
    if (withData) out.mp3.resize(d.maskedBytes);
    for (uint32_t done = 0; done < d.maskedBytes;) {
        size_t want = std::min<size_t>(buf.size(), d.maskedBytes - done);
        if (std::fread(buf.data(), 1, want, f) != want) return kExeUnreadable;
        crc = exe::crc32Mpeg2(crc, buf.data(), want);
        if (withData) {
            exe::maskBytes(d.keys, d.period, done, buf.data(), want);
            std::copy(buf.begin(), buf.begin() + static_cast<long>(want), out.mp3.begin() + done);
        }
        done += static_cast<uint32_t>(want);
    }
    if (crc != d.dataCrc) damaged = true;
    if (damaged) out.mp3.clear();
    return damaged ? kExeDamaged : kExeOk;
}

} // namespace kestrel
