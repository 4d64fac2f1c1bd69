#pragma once
// Where the running executable lives; its catalogs sit beside it.

#include <string>

namespace tarvik {

// The directory of the executable file, symbolic links resolved, without a
// trailing "/". Works before the application object exists. Any thread.
std::string ExecutableDir();

// Where the file dialogs start: `executableDir` where this user may write
// into it (a program run from where it was built), else the working
// directory (an installed program's directory takes no files of a user).
// Without a trailing "/". Any thread.
std::string DialogStartDir(const std::string& executableDir = ExecutableDir());

}  // namespace tarvik
