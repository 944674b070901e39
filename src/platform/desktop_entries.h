// The program's entries in the desktop's application menu, written at start
// by a copy that is not installed system-wide (an installed copy has them
// from its package): the program itself, rewritten every start so that it
// follows the executable, and its help page, written only when missing.
#pragma once

#include <string>

namespace kestrel {

// $XDG_DATA_HOME (or ~/.local/share) + "/applications".
std::string userApplicationsFolder();

// The HTML help's start page: <datadir>/doc/kestrel/html/index.html beside an
// installed copy, help/index.html beside the executable in a build tree.
std::string helpIndexPath();

// Writes "org.kestrel.Kestrel.desktop" (Exec the executable `program`, its
// icon copied from `iconPng` into the user's hicolor theme when given and
// present) and, when missing, "org.kestrel.Kestrel.help.desktop" (opens
// `helpPage` with xdg-open) into `applicationsFolder`. Each file is written
// whole under a temporary name and renamed. 0, or -1 when a file could not
// be written.
int writeDesktopEntries(const std::string& applicationsFolder, const std::string& program,
                        const std::string& iconPng, const std::string& helpPage);

// The desktop entry's quoting of one Exec argument.
std::string desktopExecArgument(const std::string& arg);

} // namespace kestrel
