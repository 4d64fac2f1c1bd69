#pragma once
// Where the running executable lives; its catalogs sit beside it.

#include <string>

namespace tarvik {

// The directory of the executable file, symbolic links resolved, without a
// trailing "/". Works before the application object exists. Any thread.
std::string ExecutableDir();

}  // namespace tarvik
