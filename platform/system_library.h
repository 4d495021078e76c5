// Where the process looks for libraries, and how it loads the two shell
// libraries it uses.
//
// The assistant usually runs elevated from a folder that others can write
// to. Windows looks in the program's own folder first for a library that is
// not one of its known system libraries, so nothing may be loaded by a bare
// name with the default search: SHLWAPI and SHELL32 are not imported but
// loaded from the system folder at their first use, and the search for the
// libraries they load in turn is narrowed to the system folder as well where
// the system allows it. The same code runs in both builds; only the
// operations it calls differ.
#pragma once

#include "platform/platform.h"

namespace platform {

enum class SystemLibrary { kShlwapi, kShell32 };

// Called first at start-up, before any library is loaded. Where kernel32
// has them: DEP on for the process (SetProcessDEPPolicy), then the library
// search limited to the system folder (SetDefaultDllDirectories), or, on a
// system without that or where it fails, the current directory taken out of
// the search (SetDllDirectoryW with the empty text). Each step only narrows.
void HardenProcess();

// The library, loaded from the system folder: with the system-folder search
// flag where the system has it, otherwise by its full path in the system
// folder. 0 when it cannot be loaded. A loaded library stays loaded.
Module LoadSystemLibrary(SystemLibrary library);

// The export `procedureName` of the library, loading the library first;
// null when the library or the export cannot be had.
Procedure SystemProcedure(SystemLibrary library, const char* procedureName);

}  // namespace platform
