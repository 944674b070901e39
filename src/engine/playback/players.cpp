#include "engine/playback/players.h"

#include "engine/core/captions.h"
#include "engine/catalogue/media_list.h"
#include "engine/containers/demux.h"
#include "engine/containers/mpeg_audio_frame.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoadpcmdec.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/avi_readers.h"
#include "engine/pipeline/display_feed.h"
#include "engine/pipeline/flash_readers.h"
#include "engine/pipeline/mpeg_readers.h"
#include "engine/core/run_state.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/texts_device.h"
#include "engine/playback/platform_players.h"
#include "engine/playback/play_session.h"
#include "engine/playback/texts_players.h"
#include "engine/playback/library_players.h"
#include "engine/pipeline/wave_out_ring.h"
#include "engine/settings/settings.h"
#include "engine/core/text_format.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace kestrel {

namespace {

std::thread g_player;
std::atomic<bool> g_playerActive{false};
std::atomic<int> g_playResult{0};

void mpegThread(PlayerKind k) {
    if (running.load()) return;
    g_playResult = -1; // until the sound starts
    // Only a regular file is analysed here (a FIFO in its place would block);
    // anything else is left to the reader, which refuses it with its message.
    if (k == PlayerKind::MpegAudio && checkSource(current.path).kind == SourceKind::Regular) {
        int64_t first = 0;
        int vbr = 0;
        if (mpegAudioStart(current.path, first, vbr) < 0) return;
    }
    FlashSource flash = FlashSource::Flv;
    const bool isFlash = k != PlayerKind::MpegAudio && k != PlayerKind::MpegStream &&
                         k != PlayerKind::Avi && flashSourceFor(current.typeName, flash);
    // The AVI thread decodes MPEG audio or ADPCM, the MPEG threads MPEG audio
    // or AC-3, the Flash sources what their libraries decode.
    const bool avi = k == PlayerKind::Avi;
    if (isFlash) {
        if (loadFlashLibraries(flash) < 0) return;
    } else {
        if (loadMpadecExt() < 0) return;
        if ((avi ? loadOrvoadpcmdec() : loadAc3stream()) < 0) {
            unloadMpadecExt();
            return;
        }
    }
    runPlayback([&](const ReaderEntry& re) {
        g_playResult = 0; // the sound starts
        if (avi)
            readMpeg4Avi(AviWorker::Playback, re, nullptr, reportPlayPosition, nullptr);
        else if (isFlash)
            readFlashSource(flash, re, nullptr, reportPlayPosition, nullptr);
        else if (k == PlayerKind::MpegAudio)
            readMpegAudioFile(re, nullptr, reportPlayPosition, nullptr);
        else
            readMpegStream(re, nullptr, reportPlayPosition, nullptr);
        return rateRatio;
    });
    if (isFlash) {
        unloadFlashLibraries(flash);
    } else {
        if (avi)
            unloadOrvoadpcmdec();
        else
            unloadAc3stream();
        unloadMpadecExt();
    }
}

} // namespace

PlayerKind playerFor(const std::string& t, MediaKind kind) {
    if (kind == MediaKind::MpegAudio) return PlayerKind::MpegAudio;
    if (startsWith(t, "MPEG1") || startsWith(t, "MPEG2") || startsWith(t, "VCD") ||
        startsWith(t, "DVD"))
        return PlayerKind::MpegStream;
    if (startsWith(t, "MPEG4")) return PlayerKind::Avi;
    if (startsWith(t, "ASF")) return PlayerKind::WindowsMedia;
    if (isPlatformDecoded(kind)) return PlayerKind::DirectShow;
    if (startsWith(t, "AAC")) return PlayerKind::Aac;
    if (startsWith(t, "M4A") || startsWith(t, "MP4") || startsWith(t, "3GP"))
        return PlayerKind::Mp4;
    if (startsWith(t, "AMR")) return PlayerKind::Amr;
    if (startsWith(t, "SWF")) return PlayerKind::Swf;
    if (startsWith(t, "AMV") || startsWith(t, "MTV")) return PlayerKind::MtvAmv;
    if (startsWith(t, "FLV")) return PlayerKind::Flv;
    return PlayerKind::None;
}

int playRequest(int index) {
    if (running.load()) {
        showMessage(caption::kMain, formatText(text::kPlayBusy, current.displayName));
        return -1;
    }
    waitPlayback();
    if (mediaList.rows.empty()) return -1;
    if (index < 0 || static_cast<size_t>(index) >= mediaList.rows.size()) index = 0;
    const ListRow& row = mediaList.rows[static_cast<size_t>(index)];
    static_cast<EntryFacts&>(current) = entryFacts(row);
    derive_output_format();
    const EffectiveOutputFormat& f = outputFormat;
    gain_left = 1.0;
    gain_right = 1.0;
    window().gainsReset();
    rateRatio = makeRateRatio(f.out_rate, current.sourceRate);
    window().switchesOn(kBothSwitches);
    sound_on = true;
    display_on = true;
    effects_window_on = false;
    pcm_pending = 0;
    if (orvosoundmixLoaded()) {
        orvosoundmix.orvomix_setdisp(0);
        orvosoundmix.orvomix_init(f.out_rate, f.out_channels, 0);
        orvosoundmix.orvomix_datarefresh();
    }
    converting = false;
    current.displayName = current.path;
    meterWindowPrepare(f.out_rate, f.out_channels);
    PlayerKind k = playerFor(current.typeName, mediaKind(current.kind));
    if (k != PlayerKind::MpegAudio && k != PlayerKind::MpegStream && k != PlayerKind::Avi &&
        k != PlayerKind::Flv && k != PlayerKind::Swf && k != PlayerKind::MtvAmv &&
        !isPlatformPlayer(k) && !isLibraryPlayer(k))
        return -2;
    g_playResult = 0;
    g_playerActive = true;
    g_player = std::thread([k] {
        if (isPlatformPlayer(k))
            platformPlayThread(k, reportPlayPosition, g_playResult);
        else if (isLibraryPlayer(k))
            g_playResult = libraryPlayerThread(k);
        else
            mpegThread(k);
        g_playerActive = false;
    });
    return 0;
}

void waitPlayback() {
    if (g_player.joinable()) g_player.join();
}

bool playbackActive() {
    return g_playerActive.load();
}

int playbackResult() {
    return g_playResult.load();
}

int RingDevice::open(int rate, int channels) {
    WaveFormat fmt;
    fmt.rate = rate;
    fmt.channels = channels;
    return ring_.open(fmt) == 0 ? 0 : -1;
}

void RingDevice::write(const uint8_t* pcm, int bytes) {
    ring_.write(pcm, static_cast<uint32_t>(bytes));
}

void RingDevice::close() {
    ring_.close();
}

namespace {

class DeviceSink : public PcmSinkPath {
  public:
    explicit DeviceSink(PcmDevice& device) : device_(device) {}
    void consume(PcmBuffer& pcm) override { device_.write(pcm.data(), pcm.pending); }

  private:
    PcmDevice& device_;
};

} // namespace

int SecondPlayer::play(const EntryFacts& entry) {
    PlayerKind k = playerFor(entry.typeName, mediaKind(entry.kind));
    if (k != PlayerKind::MpegAudio && k != PlayerKind::MpegStream) return kSecondPlayerNoPlayer;
    if (mediaKind(entry.kind) == MediaKind::ProgramStreamAc3 ||
        mediaKind(entry.kind) == MediaKind::Ac3Elementary)
        return kSecondPlayerNoAc3;
    if (loadMpadecExt() < 0) return kSecondPlayerFailed;
    int rc = kSecondPlayerFailed;
    if (device_.open(entry.sourceRate, entry.sourceChannels) == 0) {
        flags_.paused = false;
        flags_.seekRequest = 0;
        flags_.seekDragging = false;
        flags_.running = true;
        MpegReader reader(flags_.flags(), kSecondLibraryInstance, false);
        DeviceSink sink(device_);
        ReaderEntry re;
        static_cast<EntryFacts&>(re) = entry;
        ReaderResult r = k == PlayerKind::MpegAudio
                             ? reader.readMpegAudioFile(re, sink, nullptr, nullptr)
                             : reader.readMpegStream(re, sink, nullptr, nullptr);
        if (reader.decoder().stats().ac3Refused)
            rc = kSecondPlayerNoAc3;
        else
            rc = r == ReaderResult::Ended ? 0 : kSecondPlayerFailed;
        flags_.running = false;
        device_.close();
    }
    unloadMpadecExt();
    return rc;
}

void stopCommand() {
    if (running.load()) running = false;
}

void pauseCommand() {
    if (!running.load()) return;
    if (paused.load()) {
        paused = false;
        return;
    }
    window().statusText(formatText(text::kPausePlay, current.displayName));
    paused = true;
}

void seekCommand(int second) {
    if (!running.load()) return;
    seek_dragging = true;
    seek_request = second + 100;
}

void dragCommand(int second) {
    if (!running.load()) return;
    char buf[1400];
    std::snprintf(buf, sizeof buf, converting.load() ? text::kDragRecord : text::kDragPlay,
                  current.displayName.c_str(), second, current.durationSec);
    window().statusText(buf);
    seek_dragging = true;
}

void recordToggleCommand() {
    if (running.load()) converting = !converting.load();
}

void soundSwitchCommand(bool checked) {
    if (!running.load()) {
        window().statusText(text::kSoundSwitchIdle);
        window().switchesOn(Command::SoundSwitch);
        return;
    }
    sound_on = !checked;
}

void displaySwitchCommand(bool checked) {
    if (!running.load()) {
        window().statusText(text::kDisplaySwitchIdle);
        window().switchesOn(Command::DisplaySwitch);
        return;
    }
    display_on = !checked;
}

void gainSliderCommand(bool left, int position) {
    (left ? gain_left : gain_right) = gainFromSlider(position);
}

void volumeSliderCommand(bool left, int position) {
    WaveOutRing& ring = mainWaveOut();
    if (!ring.isOpen()) return;
    uint32_t v = ring.getVolume();
    uint32_t p = static_cast<uint32_t>(position < 0 ? 0 : position > 65535 ? 65535 : position);
    v = left ? ((v & 0xFFFF0000u) | p) : ((v & 0xFFFFu) | (p << 16));
    ring.setVolume(v);
}

void effectsWindowCommand() {
    if (!running.load()) {
        window().statusText(text::kEffectsIdle);
        return;
    }
    effects_window_on = !effects_window_on.load();
    if (!orvosoundmixLoaded()) return;
    if (orvosoundmix.orvomix_get_dispstatus() == 0) {
        effects_window_on = true;
        orvosoundmix.orvomix_setdisp(1);
    } else {
        orvosoundmix.orvomix_setdisp(effects_window_on.load() ? 1 : 0);
    }
}

} // namespace kestrel
