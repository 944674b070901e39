#include "platform/media_metadata.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <cctype>
#include <cstring>

namespace kestrel {

namespace {

void addAll(const AVDictionary* d, ContainerMetadata& out) {
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(d, "", e, AV_DICT_IGNORE_SUFFIX))) {
        if (!e->key || !e->value) continue;
        std::string key = e->key;
        for (char& c : key)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        out.entries.emplace_back(std::move(key), e->value);
    }
}

} // namespace

int readContainerMetadata(const std::string& path, ContainerMetadata& out) {
    out = ContainerMetadata();
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return -1;
    // FLV keeps its metadata in a script tag, read with the first packets.
    if (!av_dict_get(fmt->metadata, "", nullptr, AV_DICT_IGNORE_SUFFIX) &&
        std::strcmp(fmt->iformat->name, "flv") == 0)
        (void)avformat_find_stream_info(fmt, nullptr);
    addAll(fmt->metadata, out);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVStream* st = fmt->streams[i];
        // Formats that keep their tags with the audio stream (Ogg, FLAC in
        // Matroska) give them there.
        if (out.entries.empty() && st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            addAll(st->metadata, out);
        if (out.picture.empty() && (st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            st->attached_pic.data && st->attached_pic.size > 0) {
            out.picture.assign(st->attached_pic.data,
                               st->attached_pic.data + st->attached_pic.size);
            if (st->codecpar->codec_id == AV_CODEC_ID_MJPEG)
                out.pictureMime = "image/jpeg";
            else if (st->codecpar->codec_id == AV_CODEC_ID_PNG)
                out.pictureMime = "image/png";
        }
    }
    avformat_close_input(&fmt);
    return 0;
}

} // namespace kestrel
