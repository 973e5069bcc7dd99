#pragma once

#include "console/console.h"
#include "jobs/job.h"
#include "layout/paths.h"

#include <string>
#include <string_view>

// What the list and test jobs write of each file, as text or as JSON.
namespace jobs {

// Bytes taken from an archive (a path, a name) as a JSON string: quoted, each byte of 0x80 and
// above as the character the system names a file with (platform::NameAsText: Latin-1 on POSIX,
// the ANSI code page on Windows), so that a script can open every path it reads.
std::string JsonString(std::string_view bytes);
// "ogg", "wav", or nothing for a bare file.
const char* FormatName(csc::StoredForm form);
// The fields every JSON line of a file begins with, its closing brace left off.
std::string JsonFile(const FoundFile& file);
// A path in the platform's form, control bytes shown as "?" on a terminal.
void WritePath(console::Console& console, const layout::OutputPath& path);
// "could not read SchemaMetaFile_DVD1.csc at offset N (reason)": a read that the system failed.
std::string CouldNotRead(std::size_t slot, std::uint64_t offset, platform::ErrorCode reason);

} // namespace jobs
