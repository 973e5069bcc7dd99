#pragma once

#include "csc/archives.h"
#include "run/walk.h"
#include "test_support.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

// The console text that whole runs are expected to show, composed from its fixed pieces.
namespace expected {

// The line end of the option form: the platform's own (the Windows build runs under a launcher).
inline const std::string LineEnd = testing_support::UnderLauncher() ? "\r\n" : "\n";

// A path as the tool under test takes it on its command line: Wine's drive Z: holds the root.
inline std::string Native(const std::filesystem::path& path) {
    if (!testing_support::UnderLauncher()) {
        return path.string();
    }
    std::string windows = "Z:" + path.string();
    std::replace(windows.begin(), windows.end(), '/', '\\');
    return windows;
}

// The lines of option-form text, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t begin = 0; begin < text.size();) {
        std::size_t end = text.find(LineEnd, begin);
        lines.push_back(text.substr(begin, end - begin));
        begin = end == std::string::npos ? text.size() : end + LineEnd.size();
    }
    return lines;
}

// Classic console text as the option form shows it, with its own line ends.
inline std::string InOptionForm(std::string text) {
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) {
        text.replace(at, 2, LineEnd);
        at += LineEnd.size();
    }
    return text;
}

inline const std::string Banner =
    "Corvane 2 CSC Archives Unpacker v1.0 by Kestrin [https://example.org/cscunpack]\r\n"
    "Supported: Corvane - Hollowline & Marrowgate - Duskfall\r\n"
    "Big Thanx to Tamsel from the CSC format notes for CSC spec\r\n"
    "\r\n";

inline std::string Discovery(const std::array<bool, csc::ShippedArchives>& found) {
    std::string text = "Searching CSC Archives...\r\n";
    for (std::size_t slot = 0; slot < csc::ShippedArchives; ++slot) {
        text += "  " + std::string(csc::ArchiveFileNames[slot]) + ": " +
                (found[slot] ? "ok" : "not found") + "\r\n";
    }
    return text + "\r\n";
}

inline const std::string Tables =
    "Read Tags Table...done\r\nRead Tagged Sounds...done\r\nRead Mission Sounds...done\r\n\r\n";

inline std::string TaggedItem(std::size_t i, std::size_t count, const std::string& tag) {
    return "  [" + std::to_string(i) + "/" + std::to_string(count) + "] " + tag + "..." +
           std::string(25, ' ');
}

inline std::string MissionItem(std::size_t i, std::size_t count, const std::string& mission) {
    return "  [" + std::to_string(i) + "/" + std::to_string(count) + "] " + mission + "..." +
           std::string(13, ' ');
}

// Both normal-mode phases, given the tag name shown for each tagged sound and each mission name.
inline std::string NormalPhases(const std::vector<std::string>& tags,
                                const std::vector<std::string>& missions) {
    std::string text = "Phase 1 of 2: Extracting tagged sounds...\r\n";
    for (std::size_t i = 0; i < tags.size(); ++i) {
        text += TaggedItem(i + 1, tags.size(), tags[i]);
    }
    text += "\r\n\r\nPhase 2 of 2: Extracting mission sounds...\r\n";
    for (std::size_t i = 0; i < missions.size(); ++i) {
        text += MissionItem(i + 1, missions.size(), missions[i]);
    }
    return text + "\r\n\r\n";
}

// The RAW mode after the tables, given each record's file count.
inline std::string RawPhase(const std::vector<int>& fileCounts) {
    std::string text =
        "Read Sounds Info...done\r\n\r\nSpecial Phase: Extracting all sounds (RAW Extract)...\r\n";
    for (std::size_t i = 0; i < fileCounts.size(); ++i) {
        text += "  Sound " + std::to_string(i + 1) + " of " + std::to_string(fileCounts.size()) +
                ": " + std::to_string(fileCounts[i]) + " files...";
    }
    return text;
}

// A path of the program's form ("\\" or "/" between folders) as the tool shows it: in the
// platform's separators, one between two folders.
inline std::string Shown(const std::string& path) {
    char separator = testing_support::UnderLauncher() ? '\\' : '/';
    std::string shown;
    for (char c : path) {
        bool separates = c == '\\' || c == '/';
        if (!separates || shown.empty() || shown.back() != separator) {
            shown += separates ? separator : c;
        }
    }
    return shown;
}

// The warning line on output files that could not be written, up to the system's reason.
inline std::string Unwritten(std::size_t count, const std::string& path) {
    return "Warning: " + std::to_string(count) + (count == 1 ? " output file" : " output files") +
           " could not be written, the first: " + Shown(path) + " (";
}

// Whether output ends with that line. The reason is the system's own words, so it is checked
// only where the system is this one.
inline bool EndsWithUnwritten(const std::string& output, std::size_t count, const std::string& path,
                              const std::string& reason) {
    std::size_t start = output.rfind("Warning: ");
    if (start == std::string::npos || !output.ends_with(")\r\n")) {
        return false;
    }
    std::string line = output.substr(start);
    return line.starts_with(Unwritten(count, path)) &&
           (testing_support::UnderLauncher() || line.ends_with(" (" + reason + ")\r\n"));
}

inline const std::array<bool, 6> AllFound = {true, true, true, true, true, true};

} // namespace expected
