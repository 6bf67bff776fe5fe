#pragma once
#include <functional>
#include <string>

namespace tsr {

// "*" any run of characters, "?" exactly one; letter case ignored (ASCII).
bool WildcardMatch(const char* name, const char* pattern);

// folder + "/" + name, without doubling a "/" the folder ends with; the name
// alone for an empty folder.
std::string JoinPath(const std::string& folder, const std::string& name);

// The name a temporary file beside target gets (prefix "." + name + "."):
// "folder/.name." for "folder/name"; empty when target names no file (it is
// empty or ends with "/").
std::string TemporaryPrefixBeside(const std::string& target);

// The path with "/" for every separator and each component that exists under
// another letter case replaced by the name found on disk. root is the length
// of the part kept as it is ("/", "C:/", "//server/share/"); spelling(folder,
// name) gives the entry of folder as stored, or empty when there is none.
// Once a component is missing the rest cannot exist and is kept as written.
std::string ResolveLetterCase(const std::string& path, std::size_t root,
                              const std::function<std::string(const std::string&, const std::string&)>& spelling);

} // namespace tsr
