// English twins of the players' texts (see localize.h).
#pragma once

#include "cli/localize.h"
#include "engine/playback/texts_players.h"

namespace kestrel::cli {

inline constexpr TextTwin kPlaybackTwins[] = {
    {kestrel::text::kPlayBusy, "converting or playing [%s]: cannot play again"},
    {kestrel::text::kPlayStart, "playing %s"},
    {kestrel::text::kPlayStatus, "playing %s  [%d/%d] s"},
    {kestrel::text::kPlayEnded, "%s played to its end"},
    {kestrel::text::kPlayStopped, "playing %s ended"},
    {kestrel::text::kPlayIdle, "playback finished"},
    {kestrel::text::kPausePlay, "playback of [%s] paused"},
    {kestrel::text::kDragPlay, "playing %s from [%d/%d] s"},
    {kestrel::text::kDragRecord, "converting %s from [%d/%d] s"},
    {kestrel::text::kSoundSwitchIdle, "the sound switch works only while playing or converting"},
    {kestrel::text::kDisplaySwitchIdle,
     "the display switch works only while playing or converting"},
    {kestrel::text::kEffectsIdle, "the effects window opens only while playing or converting"},
    {kestrel::text::kNoPlayerForType, "playing this type of file is not supported yet"},
    {kestrel::text::kPlayPcmChangeFailed,
     "%s: the sample rate or channels cannot be changed; it cannot be "
     "played"},
};

} // namespace kestrel::cli
