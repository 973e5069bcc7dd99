#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Reads back the JSON lines of a listing or a test, for the tests and the whole-run fuzz target.
namespace testing_support {

// The JSON string that starts at json[at] (its opening quote), as written: the bytes of a name come
// back from their Latin-1 characters. at moves behind its closing quote.
inline std::string JsonStringAt(const std::string& json, std::size_t& at) {
    std::string text;
    std::size_t i = at + 1;
    for (; json[i] != '"'; ++i) {
        auto byte = static_cast<unsigned char>(json[i]);
        if (json[i] == '\\' && json[i + 1] == 'u') {
            text += static_cast<char>(std::stoi(json.substr(i + 2, 4), nullptr, 16));
            i += 5;
        } else if (json[i] == '\\') {
            text += json[++i];
        } else if (byte >= 0xC0) {
            text += static_cast<char>((byte & 0x1F) << 6 | (json[++i] & 0x3F));
        } else {
            text += json[i];
        }
    }
    at = i + 1;
    return text;
}

struct ListedFile {
    std::string Path;
    std::uint64_t Size = 0;
    std::optional<std::vector<std::string>> Tags; // none for a file of no tagged sound
};

// Each line of a JSON listing or test, in order.
inline std::vector<ListedFile> ListedFiles(const std::string& json) {
    std::vector<ListedFile> files;
    for (std::size_t at = json.find("{\"path\": \""); at != std::string::npos;
         at = json.find("{\"path\": \"", at + 1)) {
        std::size_t line = json.find('\n', at);
        std::size_t i = at + 9;
        ListedFile file;
        file.Path = JsonStringAt(json, i);
        file.Size = std::stoull(json.substr(json.find("\"size\": ", i) + 8));
        std::size_t tags = json.find("\"tags\": ", i);
        if (tags < line && json[tags + 8] == '[') {
            file.Tags.emplace();
            for (i = tags + 9; json[i] == '"';) {
                file.Tags->push_back(JsonStringAt(json, i));
                i += json[i] == ',' ? 2 : 0;
            }
        }
        files.push_back(std::move(file));
    }
    return files;
}

// The path and size of each line of a JSON listing or test, as written.
inline std::vector<std::pair<std::string, std::uint64_t>> Listed(const std::string& json) {
    std::vector<std::pair<std::string, std::uint64_t>> files;
    for (ListedFile& file : ListedFiles(json)) {
        files.emplace_back(std::move(file.Path), file.Size);
    }
    return files;
}

} // namespace testing_support
