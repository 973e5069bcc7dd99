#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Reads back the JSON lines of a listing or a test, for the tests and the whole-run fuzz target.
namespace testing_support {

// The path and size of each line of a JSON listing or test, as written: the bytes of a path come
// back from their Latin-1 characters.
inline std::vector<std::pair<std::string, std::uint64_t>> Listed(const std::string& json) {
    std::vector<std::pair<std::string, std::uint64_t>> files;
    for (std::size_t at = json.find("{\"path\": \""); at != std::string::npos;
         at = json.find("{\"path\": \"", at + 1)) {
        std::string path;
        std::size_t i = at + 10;
        for (; json[i] != '"'; ++i) {
            auto byte = static_cast<unsigned char>(json[i]);
            if (json[i] == '\\' && json[i + 1] == 'u') {
                path += static_cast<char>(std::stoi(json.substr(i + 2, 4), nullptr, 16));
                i += 5;
            } else if (json[i] == '\\') {
                path += json[++i];
            } else if (byte >= 0xC0) {
                path += static_cast<char>((byte & 0x1F) << 6 | (json[++i] & 0x3F));
            } else {
                path += json[i];
            }
        }
        std::size_t size = json.find("\"size\": ", i) + 8;
        files.emplace_back(path, std::stoull(json.substr(size)));
    }
    return files;
}

} // namespace testing_support
