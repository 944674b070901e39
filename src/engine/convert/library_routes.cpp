#include "engine/convert/library_routes.h"

#include "engine/pipeline/library_readers.h"

namespace kestrel {

double readLibrarySource(ReaderRoute route, const ReaderEntry& e, PcmOutput* out, PcmBuffer& pcm,
                         PositionReport report, void* context) {
    StageFormatSink sink(out, e.rateRatio, e.sourceRate, e.sourceChannels);
    RunFlags flags = processRunFlags();
    switch (route) {
    case ReaderRoute::Amr:
        readAmrFile(e, flags, pcm, sink, report, context);
        break;
    case ReaderRoute::Aac:
        readAacFile(e, flags, pcm, sink, report, context);
        break;
    case ReaderRoute::Mp4:
        readMp4Audio(e, flags, pcm, sink, report, context);
        break;
    default:
        break;
    }
    return sink.ratio();
}

} // namespace kestrel
