#pragma once
#include <string>

namespace tsr {

// Whether any process still holds the file open for writing: the producer of
// a request file has not finished it yet. False for a missing file.
bool HeldOpenForWriting(const std::string& path);

} // namespace tsr
