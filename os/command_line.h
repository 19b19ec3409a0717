#pragma once

#include <string>
#include <vector>

namespace quillfen::os {

// The program's arguments in UTF-8, as the core takes paths, the program's
// name first; empty where main's argv already holds them so (POSIX). On
// Windows argv holds them in the system's code page, which loses every
// character outside it: a folder named in another script would not be
// found, or another one taken. They are read from the wide command line
// there instead.
std::vector<std::string> CommandLineArguments();

}  // namespace quillfen::os
