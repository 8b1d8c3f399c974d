#include "text_file.hpp"

#include <filesystem>
#include <fstream>

namespace sim {

std::optional<std::string> readTextFile(const std::string& path, std::size_t maxBytes, const FileKind& kind,
                                        std::string& error) {
    const std::string name = kind.name;
    std::error_code fault;
    const auto status = std::filesystem::status(path, fault);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = path + ": not a regular file (a " + name + " is " + kind.content + ")";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = path + ": cannot open the " + name;
        return std::nullopt;
    }
    // Read one byte past the limit, to tell a file that grew since.
    std::string content(maxBytes + 1, '\0');
    file.read(content.data(), static_cast<std::streamsize>(content.size()));
    if (file.bad()) {
        error = path + ": cannot read the " + name;
        return std::nullopt;
    }
    content.resize(static_cast<std::size_t>(file.gcount()));
    if (content.size() > maxBytes) {
        error = path + ": larger than " + std::to_string(maxBytes >> 20) + " MiB, the most a " + name + " may have";
        return std::nullopt;
    }
    return content;
}

}  // namespace sim
