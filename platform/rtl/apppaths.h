// The program's home folder: where the configuration, the log and the folder
// "Info" with the database live. By default the executable's folder; a test
// or a read-only install points it elsewhere (SetAppHome, or FYN_HOME in the
// environment).
#pragma once

#include <string>

namespace fyn {

// The home folder with a trailing '/'. Order: SetAppHome, then $FYN_HOME,
// then the folder of the running executable.
std::string AppHome();
// Overrides the home folder for the rest of the run; an empty text restores
// the default. A trailing '/' is added when missing.
void SetAppHome(const std::string& folder);
// The folder of the running executable, with a trailing '/'.
std::string ExecutableFolder();

}  // namespace fyn
