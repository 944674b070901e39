#include "orvoadpcmdec/orvoadpcmdec.h"

#include "common/av_decoder.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <vector>

namespace {

struct Decoder {
    orvo::AvDecoder dec;
    int blockAlign = 0;
    std::vector<uint8_t> partial; // bytes of an incomplete block
};

thread_local Decoder* g_dec = nullptr;

unsigned rl16(const unsigned char* p) {
    return p[0] | (p[1] << 8);
}
unsigned rl32(const unsigned char* p) {
    return rl16(p) | (rl16(p + 2) << 16);
}

bool isAdpcm(AVCodecID id) {
    return id >= AV_CODEC_ID_ADPCM_IMA_QT && id < AV_CODEC_ID_AMR_NB;
}

// Formats decoded in blocks of nBlockAlign bytes.
bool needsBlocks(AVCodecID id) {
    switch (id) {
    case AV_CODEC_ID_ADPCM_MS:
    case AV_CODEC_ID_ADPCM_IMA_WAV:
    case AV_CODEC_ID_ADPCM_IMA_DK3:
    case AV_CODEC_ID_ADPCM_IMA_DK4:
        return true;
    default:
        return false;
    }
}

// Decodes one packet; a damaged one gives no PCM.
int decodePacket(Decoder& d, const uint8_t* data, int size, uint8_t* pcm, int capacity) {
    return std::max(0, d.dec.decode(data, size, pcm, capacity));
}

} // namespace

extern "C" {

ORVOADPCMDEC_API int orvo_adpcm_init(const unsigned char* wf, int length) {
    orvo_adpcm_close();
    if (!wf || length < 16) return -1;
    unsigned tag = rl16(wf), channels = rl16(wf + 2), rate = rl32(wf + 4);
    unsigned align = rl16(wf + 12), bits = rl16(wf + 14);
    const AVCodecTag* const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    AVCodecID id = av_codec_get_id(tags, tag);
    if (!isAdpcm(id)) return -2;
    if (!orvo::AvDecoder::available(id)) return -2;
    if (channels < 1 || channels > 2 || rate < 1 || rate > 384000) return -3;
    if (needsBlocks(id) && align == 0) return -3;

    orvo::AvDecoderParams p;
    p.sampleRate = p.outRate = static_cast<int>(rate);
    p.channels = p.outChannels = static_cast<int>(channels);
    p.blockAlign = static_cast<int>(align);
    p.bitsPerCodedSample = static_cast<int>(bits);
    if (length >= 18) {
        p.extradata = wf + 18;
        // Never trust the stated size.
        p.extradataSize = std::min(static_cast<int>(rl16(wf + 16)), length - 18);
    }
    auto* d = new Decoder;
    if (d->dec.open(id, p) < 0) {
        delete d;
        return -4;
    }
    d->blockAlign = needsBlocks(id) ? static_cast<int>(align) : 0;
    g_dec = d;
    return 0;
}

ORVOADPCMDEC_API int orvo_adpcm_decode(const unsigned char* data, int length, unsigned char* pcm,
                                       int capacity) {
    Decoder* d = g_dec;
    if (!d || !pcm || length < 0 || capacity < 0) return -1;
    // PCM kept from an earlier call comes first.
    int written = d->dec.drain(pcm, capacity);

    if (!data || length == 0) {
        if (!d->partial.empty()) {
            written += decodePacket(*d, d->partial.data(), static_cast<int>(d->partial.size()),
                                    pcm + written, capacity - written);
            d->partial.clear();
        }
        return written;
    }
    if (d->blockAlign <= 0)
        return written + decodePacket(*d, data, length, pcm + written, capacity - written);

    const size_t block = static_cast<size_t>(d->blockAlign);
    size_t pos = 0, len = static_cast<size_t>(length);
    if (!d->partial.empty()) {
        size_t take = std::min(block - d->partial.size(), len);
        d->partial.insert(d->partial.end(), data, data + take);
        pos = take;
        if (d->partial.size() < block) return written;
        written +=
            decodePacket(*d, d->partial.data(), d->blockAlign, pcm + written, capacity - written);
        d->partial.clear();
    }
    for (; len - pos >= block; pos += block)
        written += decodePacket(*d, data + pos, d->blockAlign, pcm + written, capacity - written);
    if (pos < len) d->partial.assign(data + pos, data + len);
    return written;
}

ORVOADPCMDEC_API int orvo_adpcm_close(void) {
    delete g_dec;
    g_dec = nullptr;
    return 0;
}

} // extern "C"
