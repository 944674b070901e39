// Video CDs and DVDs on the machine's optical discs join the list by
// themselves: VCD tracks (*.dat in mpegav/) and DVD titles (*.vob in
// VIDEO_TS/) of every mounted optical file system, in mount-table order. Disc
// entries are rows only: they never enter the record array or the list file.
//
// Threading: the user-interface thread, like every change of the list.
#pragma once

namespace kestrel {

// Analyses every disc file and shows a row for each that the analysis takes
// ("VCD" or "DVD" as its type text); files it refuses are skipped after its
// message. Returns the number of rows added.
int scanDiscs();

// The refresh command: clears the view, restarts the serial numbers at 0,
// scans the discs and lists the stored records again, dropping those whose
// file is gone or 1000 bytes or smaller. Returns the number of rows.
int refreshMediaList();

} // namespace kestrel
