#pragma once

#include "console/console.h"
#include "jobs/job.h"
#include "layout/paths.h"
#include "sound/sound.h"

#include <optional>
#include <span>

#include <string>
#include <string_view>

// What the list and test jobs write of each file, as text or as JSON.
namespace jobs {

// Bytes taken from an archive (a path, a name) as a JSON string: quoted, each byte of 0x80 and
// above as the character the system names a file with (platform::NameAsText: Latin-1 on POSIX,
// the ANSI code page on Windows), so that a script can open every path it reads.
std::string JsonString(std::string_view bytes);
// Text in UTF-8 (what the user typed) as a JSON string.
std::string JsonText(std::string_view text);
// "ogg", "wav", or nothing for a bare file.
const char* FormatName(csc::StoredForm form);
// The fields every JSON line of a file begins with, its closing brace left off.
std::string JsonFile(const FoundFile& file);
// A path in the platform's form, control bytes shown as "?" on a terminal.
void WritePath(console::Console& console, const layout::OutputPath& path);
// A sound's format, codec, channels, rate and duration, from its headers and pages as far as its
// archive holds the file, read through read (offsets from the file's start).
sound::Details DetailsOf(const FoundFile& file, const sound::ReadPart& read);
// The object --list --json prints for a file (with --details, details).
std::string JsonListed(const FoundFile& file, const csc::IndexTables& tables,
                       const std::optional<sound::Details>& details);
// "cut short: the archive holds H of its S bytes".
std::string CutShort(std::uint64_t held, std::uint64_t size);
// What --test finds wrong with a file's bytes, or nothing.
std::optional<std::string> SoundProblem(csc::StoredForm form, std::span<const std::uint8_t> bytes);
// The object --test --json prints for a file.
std::string JsonChecked(const FoundFile& file, const std::optional<std::string>& problem);
// "could not read SchemaMetaFile_DVD1.csc at offset N (reason)": a read that the system failed.
std::string CouldNotRead(std::size_t slot, std::uint64_t offset, platform::ErrorCode reason);

} // namespace jobs
