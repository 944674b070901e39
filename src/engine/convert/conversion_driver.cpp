#include "engine/convert/conversion_driver.h"

#include "engine/core/captions.h"
#include "engine/catalogue/media_list.h"
#include "engine/convert/exe_output.h"
#include "engine/convert/library_outputs.h"
#include "engine/convert/mp3_encoding.h"
#include "engine/convert/output_naming.h"
#include "engine/convert/output_writer.h"
#include "engine/pipeline/pcm_stage.h"
#include "engine/convert/texts.h"
#include "engine/pipeline/texts_device.h"
#include "engine/convert/wav_writer.h"
#include "engine/convert/wma_encoding.h"
#include "engine/libraries/lib_ac3stream.h"
#include "engine/libraries/lib_mp3enc.h"
#include "engine/libraries/lib_mpadec_ext.h"
#include "engine/libraries/lib_orvoaacdec.h"
#include "engine/libraries/lib_orvoaacenc.h"
#include "engine/libraries/lib_orvoadpcmdec.h"
#include "engine/libraries/lib_orvoamrdec.h"
#include "engine/libraries/lib_orvoamrenc.h"
#include "engine/libraries/lib_orvomtvdec.h"
#include "engine/libraries/lib_orvosoundmix.h"
#include "engine/pipeline/display_feed.h"
#include "engine/convert/library_routes.h"
#include "engine/pipeline/avi_readers.h"
#include "engine/pipeline/flash_readers.h"
#include "engine/pipeline/library_readers.h"
#include "engine/pipeline/mpeg_readers.h"
#include "engine/pipeline/platform_readers.h"
#include "engine/core/run_state.h"
#include "engine/pipeline/sink_wiring.h"
#include "engine/pipeline/wave_out_ring.h"
#include "engine/settings/settings.h"
#include "engine/core/text_format.h"
#include "platform/atomic_file.h"
#include "platform/media_graph.h"
#include "platform/paths.h"
#include "platform/ports.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

// The state of the output a job writes.
struct ConversionJob::Output {
    PcmOutput pcm;
    OutputWriterState writer; // the WAV count and MP3 encoder of `pcm`
    AtomicFile file;          // written under a temporary name, placed when finished
    std::string finalName;    // where the output goes once finished
    MediaTags tags;           // what the output carries
    std::string keptEarlier;  // the earlier file this output left in place (not whole)
    int lostError = 0;        // the system error that left no file at all (0: none known)
    bool open = false;
    bool stopJob = false; // its encoder could not start: the job ends after this entry
};

namespace {

std::thread g_thread;
// The job that is running, if any.
std::atomic<const ConversionJob*> g_activeJob{nullptr};

using OpenOutput = ConversionJob::Output;

// The per-job libraries loaded, to be released in reverse order.
struct LoadedLibs {
    bool adpcm = false, aacdec = false, aacenc = false, amrenc = false, amrdec = false, mtv = false,
         mpa = false, ac3 = false;
};

void unloadLibs(LoadedLibs& l) {
    if (l.ac3) unloadAc3stream();
    if (l.mpa) unloadMpadecExt();
    if (l.aacenc) unloadOrvoaacenc();
    if (l.amrenc) unloadOrvoamrenc();
    if (l.amrdec) unloadOrvoamrdec();
    if (l.aacdec) unloadOrvoaacdec();
    if (l.mtv) unloadOrvomtvdec();
    if (l.adpcm) unloadOrvoadpcmdec();
    l = LoadedLibs();
}

// Loads the libraries in `wanted` (JobLibrary flags) in their fixed order;
// on a failure (its loader has shown the message) unloads those loaded and
// returns -1.
int loadLibs(LoadedLibs& l, unsigned wanted) {
    auto need = [wanted](JobLibrary lib) { return (wanted & lib) != 0; };
    if (need(kLibAdpcmDec) && !(l.adpcm = loadOrvoadpcmdec() >= 0)) return unloadLibs(l), -1;
    if (need(kLibAacDec) && !(l.aacdec = loadOrvoaacdec() >= 0)) return unloadLibs(l), -1;
    if (need(kLibAacEnc) && !(l.aacenc = loadOrvoaacenc() >= 0)) return unloadLibs(l), -1;
    if (need(kLibAmrEnc) && !(l.amrenc = loadOrvoamrenc() >= 0)) return unloadLibs(l), -1;
    if (need(kLibAmrDec) && !(l.amrdec = loadOrvoamrdec() >= 0)) return unloadLibs(l), -1;
    if (need(kLibMtvDec) && !(l.mtv = loadOrvomtvdec() >= 0)) return unloadLibs(l), -1;
    if (need(kLibMpegAudio) && !(l.mpa = loadMpadecExt() >= 0)) return unloadLibs(l), -1;
    if (need(kLibAc3) && !(l.ac3 = loadAc3stream() >= 0)) return unloadLibs(l), -1;
    return 0;
}

std::tm localNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

// An output whose container could not be started: its message, and no file.
bool abandonOutput(OpenOutput& o, const std::string& message) {
    showMessage(caption::kMain, message, errno);
    std::fclose(o.pcm.stream);
    o.pcm.stream = nullptr;
    o.file.abandon();
    o.open = false;
    return false;
}

// Opens the output of an entry: every output is written under a temporary
// name beside the final one and moved to it when finished (a WMA is encoded
// there from its intermediate WAV; the AAC and AMR libraries write it); none
// replaces an existing file (AtomicFile::Mode::NoReplace) unless the job
// asks for it (`replace`: the earlier file goes only once a whole new one
// is in place). The stream is unbuffered, so a failed write leaves exactly the
// bytes that reached the file. `seconds` is the output's expected playing
// time (an MP3 encoder may spread a long one over threads).
bool openOutput(OpenOutput& o, const std::string& name, int type, bool replace, int seconds) {
    o.pcm = PcmOutput();
    o.writer = OutputWriterState();
    o.file = AtomicFile();
    o.finalName.clear();
    o.keptEarlier.clear();
    o.lostError = 0;
    o.open = false;
    o.stopJob = false;
    o.pcm.type = type;
    const int opened =
        replace ? o.file.open(name, AtomicFile::Mode::Replace, {.moveAside = true, .output = true})
                : o.file.open(name, AtomicFile::Mode::NoReplace);
    if (opened != 0) {
        showMessage(caption::kMain, formatText(text::kOutputOpenFailed, name), o.file.error());
        return false;
    }
    FILE* f = o.file.releaseStream(); // closed by the writers below
    const std::string& chosen = o.file.target();
    std::setvbuf(f, nullptr, _IONBF, 0);
    o.pcm.stream = f;
    attachOutputWriter(o.pcm, o.writer);
    o.pcm.name = chosen;
    o.finalName = chosen;
    o.open = true;
    if (libraryWritesOutput(type)) {
        if (openLibraryOutput(o.pcm, o.file, seconds) < 0)
            return o.open = false, o.stopJob = true, false;
    } else if (type == kOutWma) {
        if (openWmaOutput(o.pcm, o.writer.wav, o.file) < 0) return o.open = false, false;
    } else if (type == kOutWav) {
        o.writer.wav.reset();
        o.writer.wav.writeHeader(o.pcm.stream, outputFormat.out_channels, outputFormat.out_rate);
        if (std::ferror(f)) {
            o.pcm.writeError = errno ? errno : EIO;
            showMessage(caption::kMain, formatText(text::kOutputWriteFailed, chosen,
                                                   writeFailureReason(o.pcm.writeError)));
        }
    } else if (type == kOutMp3) {
        if (mp3EncoderSetup(o.writer.mp3, type) < 0) {
            // No entry can be encoded: the job ends here. A library that did
            // not load has shown its own message.
            o.stopJob = true;
            if (mp3encLoaded())
                showMessage(caption::kMain, formatText(text::kMp3EncoderSetupFailed, chosen));
            std::fclose(f);
            o.pcm.stream = nullptr;
            o.file.abandon();
            return o.open = false;
        }
        mp3EncoderSpread(o.writer.mp3, type, seconds);
        o.writer.mp3.file = f;
        // The tag goes before the first frame; the encoder's frames (and its
        // Xing/LAME frame) follow it.
        const std::vector<uint8_t> tag = id3v23Tag(o.tags);
        if (!tag.empty() && std::fwrite(tag.data(), 1, tag.size(), f) != tag.size()) {
            o.pcm.writeError = errno ? errno : EIO;
            showMessage(caption::kMain, formatText(text::kOutputWriteFailed, chosen,
                                                   writeFailureReason(o.pcm.writeError)));
        }
    } else if (type == kOutFlv) {
        if (flvOutputOpen(o.writer.flv, o.writer.mp3, tempWavPath()) < 0)
            return abandonOutput(o, formatText(text::kOutputOpenFailed, chosen));
        mp3EncoderSpread(o.writer.mp3, type, seconds);
        o.writer.flv.texts = {o.tags.title, o.tags.artist};
    } else if (type == kOutAvi) {
        if (aviOutputOpen(o.writer.avi, o.writer.mp3, f, settings.mp3_cbr_kbps) < 0) {
            o.stopJob = true; // the job ends after this entry
            return abandonOutput(o, text::kAviOpenFailed);
        }
        mp3EncoderSpread(o.writer.mp3, type, seconds);
    } else if (type == kOutExe) {
        if (exeOpenOutput(o.writer.exe, o.writer.mp3, f, chosen) < 0) {
            std::fclose(f); // the message is shown; no file is left
            o.pcm.stream = nullptr;
            o.file.abandon();
            o.open = false;
            return false;
        }
        mp3EncoderSpread(o.writer.mp3, type, seconds);
    }
    return true;
}

// After a failed write: cuts a WAV back to whole sample frames and makes the
// count the header gets tell what the file holds.
void cutWavToWhole(FILE* f, uint32_t& dataBytes) {
    struct stat st;
    if (::fstat(fileno(f), &st) != 0) return;
    uint64_t size = static_cast<uint64_t>(st.st_size);
    uint64_t have = size > 44 ? size - 44 : 0;
    uint32_t align = static_cast<uint32_t>(outputFormat.out_channels) * 2;
    have -= have % align;
    if (have < dataBytes) dataBytes = static_cast<uint32_t>(have);
    if (size > 44 + static_cast<uint64_t>(dataBytes))
        (void)::ftruncate(fileno(f), static_cast<off_t>(44 + static_cast<uint64_t>(dataBytes)));
}

// Finishes the output as far as it can and moves it to its name. After a
// failed write the file keeps what was written whole: a WAV its whole sample
// frames under a header that counts them, an MP3 its whole frames without the
// tag (which would claim the frames that are missing). Returns 0 when the
// output is whole, -1 when it is incomplete (its message has been shown).
// `o.finalName` is then the name the file has.
int finishOutput(OpenOutput& o) {
    if (!o.open) return 0;
    settle_output(o.pcm); // the encoder thread's blocks first
    FILE* f = o.pcm.stream;
    const bool writeFailed = o.pcm.writeError != 0;
    Mp3EncoderState& mp3 = o.writer.mp3;
    int finishError = 0;
    if (o.pcm.type == kOutWav) {
        if (writeFailed) cutWavToWhole(f, o.writer.wav.dataBytes);
        errno = 0;
        if (o.writer.wav.finish(f) < 0) finishError = errno ? errno : EIO;
        // The tags follow the data, text only.
        errno = 0;
        if (!finishError && !writeFailed && appendWavInfo(o.file.tempName(), o.tags) < 0)
            finishError = errno ? errno : EIO;
    } else if (o.pcm.type == kOutWma) {
        if (writeFailed) cutWavToWhole(f, o.writer.wav.dataBytes);
        if (o.pcm.writeError == ENOSPC || o.pcm.writeError == EDQUOT) {
            makeRoomForWma(f, o.writer.wav.dataBytes, o.file.tempName());
            o.pcm.pcmBytes = std::min<uint64_t>(o.pcm.pcmBytes, o.writer.wav.dataBytes);
        }
        int encodeError = 0;
        const int rc =
            finishWmaOutput(f, o.writer.wav, o.file.tempName(), metadataPairs(o.tags), encodeError);
        if (rc == kWmaNotEncoded) {
            // The encoding failed (its message has been shown): no output.
            o.lostError = encodeError ? encodeError : o.pcm.writeError;
            o.pcm.stream = nullptr;
            o.open = false;
            o.file.abandon();
            o.finalName.clear();
            return -1;
        }
        if (rc < 0) finishError = EIO;
    } else if (libraryWritesOutput(o.pcm.type)) {
        if (finishLibraryOutput(o.pcm.type) < 0) finishError = EIO;
        errno = 0;
        if (!finishError && o.pcm.type == kOutM4a && !o.tags.empty() &&
            addMp4Tags(o.file.tempName(), o.tags) < 0)
            finishError = errno ? errno : EIO;
    } else {
        if (o.pcm.type == kOutExe)
            finishError = exeCloseOutput(o.writer.exe, o.writer.mp3, o.pcm.pcmBytes, writeFailed);
        if (o.pcm.type == kOutMp3) {
            if (writeFailed) {
                mp3EncoderAbandon(mp3);
            } else {
                mp3EncoderFinish(mp3, mp3WriteToFile, &mp3, f);
                if (mp3.writeFailed) finishError = mp3.writeErrno ? mp3.writeErrno : EIO;
            }
            if (mp3.writeFailed) (void)::ftruncate(fileno(f), mp3.wholeEnd);
        } else if (o.pcm.type == kOutFlv) {
            if (flvOutputFinish(o.writer.flv, mp3, f) < 0) finishError = errno ? errno : EIO;
        } else if (o.pcm.type == kOutAvi) {
            if (aviOutputFinish(o.writer.avi, mp3) < 0) finishError = errno ? errno : EIO;
        }
        errno = 0;
        if (std::fclose(f) != 0 && !finishError) finishError = errno ? errno : EIO;
    }
    o.pcm.stream = nullptr;
    o.open = false;
    // An output without sound or cut short never takes the place of an
    // earlier file: it is kept beside it under the next free name.
    const bool whole = !writeFailed && !finishError && o.pcm.pcmBytes > 0;
    const std::string partName = o.file.tempName();
    struct stat st;
    if (writeFailed && ::stat(partName.c_str(), &st) == 0 && st.st_size == 0) {
        // Not a byte reached the file (a full disk): no file at all.
        o.lostError = o.pcm.writeError;
        o.file.abandon();
        o.finalName.clear();
        return -1;
    }
    const int placed = o.file.commit(whole);
    o.keptEarlier = o.file.keptBeside() ? o.file.target() : std::string();
    if (placed != 0 && (o.file.finalName().empty() || o.file.finalName() == partName)) {
        showMessage(caption::kMain, formatText(text::kOutputPlaceFailed, partName, o.finalName,
                                               writeFailureReason(o.file.error()), partName));
        o.finalName = partName;
        return -1;
    }
    o.finalName = o.file.finalName();
    if (finishError && !writeFailed) {
        showMessage(caption::kMain, formatText(text::kOutputFinishFailed, o.finalName,
                                               writeFailureReason(finishError)));
    }
    return writeFailed || finishError ? -1 : 0;
}

struct EntryReport {
    const JobEntry* entry;
    const std::string* outputName;
    int progressMax; // the progress bar's range: the job's playing time
    int clockOffset; // added to the clock's second (the media graph's route)
};

void reportConversion(int second, void* ctx) {
    auto* r = static_cast<EntryReport*>(ctx);
    char buf[2200];
    if (converting.load())
        std::snprintf(buf, sizeof buf, text::kConvertingStatus, r->entry->path.c_str(),
                      r->outputName->c_str(), second, r->entry->durationSec);
    else
        std::snprintf(buf, sizeof buf, text::kPausedRecordingStatus, r->entry->path.c_str(), second,
                      r->entry->durationSec);
    WindowPort& w = window();
    w.statusText(buf);
    w.progress(second, r->progressMax);
    w.position(second, r->entry->durationSec);
    w.clock(second + r->clockOffset);
}

} // namespace

void ConversionJob::runEntry(JobEntry& e, Output& out, int progressMax) {
    ReaderEntry re;
    static_cast<EntryFacts&>(re) = e;
    re.rateRatio = e.rateRatio;
    // The media graph's clock runs on over the job: its second plus the
    // seconds of the entries converted before.
    EntryReport rep{&e, &e.outputName, progressMax,
                    e.route == ReaderRoute::DirectShow ? convertedSeconds_ : 0};
    PcmOutput* po = out.open ? &out.pcm : nullptr;
    if (e.route == ReaderRoute::DirectShow || e.route == ReaderRoute::Asf) {
        StageSink sink(po, e.rateRatio, e.sourceChannels);
        if (e.route == ReaderRoute::Asf)
            readWindowsMedia(re, sink, processRunFlags(), pcm_, reportConversion, &rep);
        else
            readMediaGraph(re, sink, processRunFlags(), pcm_,
                           graphRateForMode(settings.conversion_mode), reportConversion, &rep);
        return;
    }
    if (e.route == ReaderRoute::Aac || e.route == ReaderRoute::Amr || e.route == ReaderRoute::Mp4) {
        e.rateRatio = readLibrarySource(e.route, re, po, pcm_, reportConversion, &rep);
        return;
    }
    if (e.route == ReaderRoute::Mpeg4Avi) {
        readMpeg4Avi(AviWorker::Conversion, re, po, reportConversion, &rep, &pcm_);
        return;
    }
    FlashSource flash = FlashSource::Flv;
    if ((e.route == ReaderRoute::Flv || e.route == ReaderRoute::Swf ||
         e.route == ReaderRoute::Mtv || e.route == ReaderRoute::Amv) &&
        flashSourceFor(e.typeName, flash)) {
        MpegReader reader(processRunFlags(), kMainLibraryInstance, true, &pcm_);
        StageSink sink(po, e.rateRatio, e.sourceChannels);
        readFlashSource(flash, reader, re, sink, reportConversion, &rep);
        return;
    }
    if (e.route != ReaderRoute::MpegAudio && e.route != ReaderRoute::MpegStream) {
        // Other routes produce an output without audio until their readers
        // exist.
        return;
    }
    MpegReader reader(processRunFlags(), kMainLibraryInstance, true, &pcm_);
    // The sink follows the decoder's format (joined files may change it).
    StageFormatSink sink(po, e.rateRatio, e.sourceRate, e.sourceChannels);
    if (e.route == ReaderRoute::MpegAudio)
        reader.readMpegAudioFile(re, sink, reportConversion, &rep);
    else
        reader.readMpegStream(re, sink, reportConversion, &rep);
    e.rateRatio = sink.ratio();
}

unsigned librariesForRoute(ReaderRoute route) {
    switch (route) {
    case ReaderRoute::MpegAudio:
        return kLibMpegAudio;
    case ReaderRoute::MpegStream:
        return kLibMpegAudio | kLibAc3;
    case ReaderRoute::Mpeg4Avi: // MP3 or ADPCM sound in an AVI
        return kLibMpegAudio | kLibAdpcmDec;
    case ReaderRoute::Mp4: // an AAC, AMR or MPEG audio track, decoded in buffers
        return kLibAacDec | kLibAmrDec | kLibMpegAudio;
    case ReaderRoute::Amr:
        return kLibAmrDec;
    case ReaderRoute::Aac:
        return kLibAacDec;
    case ReaderRoute::Flv: // MP3 or AAC sound tags (Flash ADPCM is decoded here)
        return kLibMpegAudio | kLibAacDec;
    case ReaderRoute::Swf: // MP3 sound (Flash ADPCM is decoded here, others are refused)
        return kLibMpegAudio;
    case ReaderRoute::Mtv: // MP3 sound
        return kLibMtvDec | kLibMpegAudio;
    case ReaderRoute::Amv: // IMA ADPCM blocks, decoded here
        return kLibMtvDec;
    case ReaderRoute::Asf:        // the platform's reader
    case ReaderRoute::DirectShow: // the platform's graph
    case ReaderRoute::None:
        break;
    }
    return 0;
}

unsigned librariesForJob(const std::vector<JobEntry>& entries, int outputType) {
    unsigned libs = 0;
    for (const auto& e : entries)
        libs |= librariesForRoute(e.route);
    if (outputType == kOutRawAac || outputType == kOutAdts || outputType == kOutM4a)
        libs |= kLibAacEnc;
    if (outputType == kOutAmr) libs |= kLibAmrEnc;
    return libs;
}

ReaderRoute routeFor(const std::string& t, MediaKind kind) {
    if (kind == MediaKind::MpegAudio) return ReaderRoute::MpegAudio;
    if (startsWith(t, "MPEG1") || startsWith(t, "MPEG2") || startsWith(t, "VCD") ||
        startsWith(t, "DVD"))
        return ReaderRoute::MpegStream;
    if (startsWith(t, "MPEG4")) return ReaderRoute::Mpeg4Avi;
    if (startsWith(t, "ASF")) return ReaderRoute::Asf;
    if (startsWith(t, "AAC")) return ReaderRoute::Aac;
    if (startsWith(t, "MTV")) return ReaderRoute::Mtv;
    if (startsWith(t, "AMV")) return ReaderRoute::Amv;
    if (startsWith(t, "FLV")) return ReaderRoute::Flv;
    if (startsWith(t, "SWF")) return ReaderRoute::Swf;
    if (startsWith(t, "AMR")) return ReaderRoute::Amr;
    if (isPlatformDecoded(kind)) return ReaderRoute::DirectShow;
    if (isMp4Family(kind)) return ReaderRoute::Mp4;
    return ReaderRoute::None;
}

ConversionJob::ConversionJob() : out_(std::make_unique<Output>()) {}
ConversionJob::~ConversionJob() = default;

bool ConversionJob::active() const {
    return g_activeJob.load() == this;
}

bool ConversionJob::anyActive() {
    return g_activeJob.load() != nullptr;
}

ConversionJob& mainJob() {
    static ConversionJob job;
    return job;
}

int ConversionJob::prepare() {
    derive_output_format();
    jobTable.clear();
    const EffectiveOutputFormat& f = outputFormat;
    for (const auto& row : mediaList.rows) {
        if (!row.selected || jobTable.size() >= kMaxJobEntries) continue;
        JobEntry e;
        static_cast<EntryFacts&>(e) = entryFacts(row);
        e.rateRatio = makeRateRatio(f.out_rate, e.sourceRate);
        e.route = routeFor(e.typeName, mediaKind(e.kind));
        if (e.route == ReaderRoute::Swf && isUnsupportedSwf(mediaKind(e.kind))) {
            showMessage(caption::kMain, formatText(text::kSwfUnsupported, e.path));
            jobTable.clear();
            return -2;
        }
        if (e.route == ReaderRoute::Amr && f.out_rate > 11025) {
            showMessage(caption::kProduct, text::kAmrRate);
            jobTable.clear();
            return -2;
        }
        jobTable.push_back(e);
    }
    if (jobTable.empty()) {
        showMessage(caption::kPlay, text::kNothingSelected);
        return -1;
    }
    return 0;
}

int prepareJob() {
    if (running.load()) return -1;
    waitConversion();
    return mainJob().prepare();
}

int start_conversion() {
    int rc = prepareJob();
    if (rc < 0) return rc;
    const EffectiveOutputFormat& f = outputFormat;
    sound_on = true;
    display_on = true;
    window().switchesOn(kBothSwitches);
    if (orvosoundmixLoaded()) {
        orvosoundmix.orvomix_setdisp(0);
        orvosoundmix.orvomix_init(f.out_rate, f.out_channels, 0);
        orvosoundmix.orvomix_datarefresh();
    }
    if (settings.conversion_mode == 2) sound_on = false;
    gain_left = 1.0;
    gain_right = 1.0;
    window().gainsReset();
    meterWindowPrepare(f.out_rate, f.out_channels);
    running = true; // claimed here so that no second start slips in
    g_thread = std::thread([] { conversion_thread(); });
    return 0;
}

void waitConversion() {
    if (g_thread.joinable()) g_thread.join();
}

int conversion_thread() {
    int rc = mainJob().run();
    return rc == kJobBusy ? rc : 0;
}

namespace {

// Holds the process's one running job for the time of ConversionJob::run.
class ActiveJobClaim {
  public:
    explicit ActiveJobClaim(const ConversionJob* job) {
        const ConversionJob* none = nullptr;
        claimed_ = g_activeJob.compare_exchange_strong(none, job);
    }
    ~ActiveJobClaim() {
        if (claimed_) g_activeJob = nullptr;
    }
    ActiveJobClaim(const ActiveJobClaim&) = delete;
    ActiveJobClaim& operator=(const ActiveJobClaim&) = delete;
    bool claimed() const { return claimed_; }

  private:
    bool claimed_ = false;
};

} // namespace

int ConversionJob::run() {
    ActiveJobClaim claim(this);
    if (!claim.claimed()) return kJobBusy;
    const EffectiveOutputFormat& f = outputFormat;
    const Settings& s = settings;
    makeDirectories(tempFolder());
    LoadedLibs libs;
    if (loadLibs(libs, librariesForJob(jobTable, s.output_type)) < 0) {
        running = false;
        return 0;
    }
    const int mode = s.conversion_mode;
    // A silent job never plays (its sound switch is off and unavailable): it
    // runs as with no device, sparing the device's thread and its close.
    const bool silent = mode == 2;
    if (!silent &&
        openMainDevice(mode == 1 ? f.out_rate * 2 : f.out_rate, f.out_channels, false) < 0) {
        showMessage(mode == 1 ? caption::kMainWide : caption::kMain, text::device::kOpenFailed);
        unloadLibs(libs);
        running = false;
        return 0;
    }
    uint32_t vol = mainWaveOut().getVolume();
    window().volume(static_cast<int>(vol & 0xFFFF), static_cast<int>(vol >> 16));
    displaySetupTransform(f.out_rate);
    wirePcmSink(1.0);
    job_pcm_bytes = 0;
    outputRecords.clear();
    convertedSeconds_ = 0;

    running = true;
    paused = false;
    converting = true;
    pcm_.pending = 0;
    WindowPort& w = window();
    // Stop, pause-recording and the display switch stay; the sound switch
    // unless the job is silent.
    Commands available = Command::PauseRecord | Command::Stop | Command::DisplaySwitch;
    if (mode != 2) available = available | Command::SoundSwitch;
    w.busy(available);
    int total = 0;
    for (const auto& e : jobTable)
        total += e.durationSec;
    w.progress(0, total);
    w.position(0, 10000);

    std::vector<std::string> sources;
    for (const auto& e : jobTable)
        sources.push_back(e.path);
    JobNames names;
    OpenOutput& out = *out_;
    std::string joinedName;
    std::string lastOutput;
    const int type = s.output_type;
    const bool joined = s.save_mode == 1;
    if (type == kOutWma) noteWmaConstantRate(s.wma_codec, s.wma_format);

    for (size_t i = 0; i < jobTable.size(); ++i) {
        JobEntry& e = jobTable[i];
        if (!running.load()) break;                  // a stop skips the remaining entries
        if (joined && outputFailed(&out.pcm)) break; // the joined output takes no more
        if (orvosoundmixLoaded()) orvosoundmix.orvomix_datarefresh();
        std::tm now = localNow();
        bool newOutput = !joined || i == 0;
        if (newOutput) {
            std::string name = i < outputNames.size() && !outputNames[i].empty()
                                   ? outputNames[i]
                                   : make_output_name(static_cast<int>(i), e.path, type,
                                                      s.save_mode, now, s.save_path);
            if (!joined) name = uniqueInJob(names, name);
            out.tags = outputTags(joined ? sources : std::vector<std::string>{e.path}, tagOptions);
            if (outputIsSource(name, sources)) {
                showMessage(caption::kMain, formatText(text::kOutputIsSource, name));
                e.result = EntryResult::NoOutput;
                if (joined) break;
                continue;
            }
            openOutput(out, name, type, outputsReplace, joined ? total : e.durationSec);
            joinedName = out.open ? out.finalName : name;
        }
        e.outputName = joined ? joinedName : (out.open ? out.finalName : joinedName);
        if (!out.open) {
            // Nothing can be written: the entry is not read at all.
            e.result = EntryResult::NoOutput;
            if (joined || out.stopJob) break;
            continue;
        }
        w.statusText(formatText(text::kStartRecording, e.outputName));

        static_cast<EntryFacts&>(current) = e;
        current.displayName = e.path;
        rateRatio = e.rateRatio;
        setWiredRateRatio(e.rateRatio);

        uint64_t before = out.pcm.pcmBytes;
        if (prepare_pcm_change(e.rateRatio, e.sourceChannels) < 0) {
            showMessage(caption::kMain, formatText(text::kPcmChangeFailed, e.path));
        } else if (!outputFailed(&out.pcm)) {
            w.position(0, e.durationSec);
            seek_request = 0;
            seek_dragging = false;
            runEntry(e, out, total);
            close_pcm_change(&out.pcm, e.rateRatio);
            w.statusText(formatText(text::kEntryDone, e.path));
        }
        settle_output(out.pcm); // the entry's last blocks are written (or failed)
        uint64_t written = out.pcm.pcmBytes - before;
        e.pcmBytes = written;
        if (outputFailed(&out.pcm))
            e.result = EntryResult::Incomplete;
        else
            e.result = written > 0 ? EntryResult::Converted : EntryResult::NoSound;
        if (!joined) {
            if (finishOutput(out) < 0 && e.result == EntryResult::Converted)
                e.result = EntryResult::Incomplete;
            written = e.pcmBytes = std::min(written, out.pcm.pcmBytes); // what the file kept
            if (out.finalName.empty()) { // its encoding or every write failed
                e.result = EntryResult::NoOutput;
                e.lostError = out.lostError;
            }
            e.outputName = out.finalName;
            e.keptEarlier = out.keptEarlier;
        }
        if (outputRecords.size() < kMaxOutputRecords) {
            OutputRecord r;
            r.listNumber = e.serial;
            uint64_t perSec = static_cast<uint64_t>(f.out_rate) * f.out_channels * 2;
            r.pcmBytes = static_cast<uint32_t>(written);
            r.duration = perSec ? static_cast<int32_t>(written / perSec) : 0;
            r.sourcePath = e.path;
            r.mp3RateMode = s.mp3_rate_mode;
            r.mpegVersion = f.out_version;
            r.outChannels = f.out_channels;
            r.outRate = f.out_rate;
            r.outputType = type;
            r.outputPath = e.outputName;
            if (type == kOutExe) exeRecordKeys(out.writer.exe, r.exeKeys, r.exePeriod);
            outputRecords.push_back(r);
        }
        convertedSeconds_ += e.durationSec;
    }
    if (joined && out.open) {
        bool whole = finishOutput(out) == 0;
        // The joined output's entries take the name it finally has.
        for (auto& e : jobTable) {
            if (e.outputName != joinedName) continue;
            if (!whole && e.result == EntryResult::Converted) e.result = EntryResult::Incomplete;
            if (out.finalName.empty()) { // its encoding or every write failed
                e.result = EntryResult::NoOutput;
                e.lostError = out.lostError;
            }
            e.outputName = out.finalName;
            e.keptEarlier = out.keptEarlier;
        }
        for (auto& r : outputRecords)
            if (r.outputPath == joinedName) r.outputPath = out.finalName;
    }
    for (const auto& r : outputRecords)
        w.outputFinished(r);
    w.switchesOn(kBothSwitches);
    if (orvosoundmixLoaded()) orvosoundmix.orvomix_setdisp(0);
    // The last output that holds sound; the job is done only when every
    // entry was converted.
    bool allConverted = true;
    for (const auto& e : jobTable) {
        if (e.result == EntryResult::Converted || e.result == EntryResult::Incomplete)
            lastOutput = e.outputName;
        if (e.result != EntryResult::Converted) allConverted = false;
    }
    if (lastOutput.empty())
        w.statusText(text::kJobNothingConverted);
    else
        w.statusText(formatText(allConverted ? text::kJobDone : text::kJobDonePartly, lastOutput));
    running = false;
    paused = false;
    unloadLibs(libs);
    closeMainDevice();
    w.idle(Commands::all());
    w.position(0, jobTable.empty() ? 0 : jobTable.back().durationSec);
    w.progress(0, total);
    std::remove(tempWavPath().c_str());
    return 0;
}

} // namespace kestrel
