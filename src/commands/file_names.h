// File names as the user typed them. The command line is upper-cased, but Linux
// names are case-sensitive: a name is used as typed, and where no file of that
// name exists but one whose name differs only in case does, that one is used.
#pragma once

#include <string>

namespace kelvo {

// The existing file the typed name stands for, or the name as typed when there is
// none.
std::string ResolveExistingFile(const std::string& typed);

// The file a new file of the typed name should go to: an existing file whose name
// differs only in case, else the name as typed (in a folder found the same way).
std::string ResolveNewFile(const std::string& typed);

}  // namespace kelvo
