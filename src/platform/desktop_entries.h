// The program's entries in the desktop's application menu, written at start
// by a copy that is not installed system-wide (an installed copy has them
// from its package), under ids of their own so that they never hide the
// package's: the program itself, rewritten every start so that it follows the
// executable, and its help page, written when missing or when the page it
// opens is gone. A copy that runs from a temporary folder writes none.
#pragma once

#include <string>

namespace kestrel {

// $XDG_DATA_HOME (or ~/.local/share) + "/applications".
std::string userApplicationsFolder();

// The HTML help's start page: <datadir>/doc/kestrel/html/index.html beside an
// installed copy, help/index.html beside the executable in a build tree.
std::string helpIndexPath();

// The ids of a copy's entries (the package's entry is org.kestrel.Kestrel).
inline constexpr const char* kLocalEntryId = "org.kestrel.Kestrel.Local";
inline constexpr const char* kLocalHelpEntryId = "org.kestrel.Kestrel.Local.help";

// True when `folder` lies in a temporary folder ($TMPDIR, /tmp, /var/tmp):
// a copy unpacked there is gone soon and gets no menu entries.
bool inTemporaryFolder(const std::string& folder);

// Writes kLocalEntryId + ".desktop" (Exec the executable `program` with the
// files to open, its icon copied from `iconPng` into the user's hicolor theme
// when given and present) and kLocalHelpEntryId + ".desktop" (opens
// `helpPage` with xdg-open; kept as it is while the page it opens exists)
// into `applicationsFolder`; an entry under the package's id that an earlier
// copy wrote for the same program is removed. Each file is written whole
// under a temporary name and renamed. 0; 1 when nothing was written because
// `program` lies in a temporary folder; -1 when a file could not be written.
int writeDesktopEntries(const std::string& applicationsFolder, const std::string& program,
                        const std::string& iconPng, const std::string& helpPage);

// The desktop entry's quoting of one Exec argument.
std::string desktopExecArgument(const std::string& arg);

} // namespace kestrel
