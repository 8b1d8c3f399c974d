// Reading a whole input file (map file, role rules) with the checks both
// need: a regular file, readable, of bounded size.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace sim {

// What a file is, for the error texts: "map file", "a JSON text file".
struct FileKind {
    const char* name;
    const char* content;
};

// The file's bytes, at most maxBytes (a multiple of 1 MiB); on failure
// nothing, and error names the path and says why.
std::optional<std::string> readTextFile(const std::string& path, std::size_t maxBytes, const FileKind& kind,
                                        std::string& error);

}  // namespace sim
