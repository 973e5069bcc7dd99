#pragma once

#include "csc/records.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Where an output file lands below the output folder. Every path is built here, once, and every
// rule that keeps a name from leading elsewhere is applied here. The output tree derives the other
// paths it needs (a file's folders, a name beside a file) and compares places through the
// functions below; patterns read a built path's text as it stands, "/" between its components.
namespace layout {

// One output file's place below the output folder: its components, each made safe, with "/"
// between them. No component holds a separator, and none but the file name, which comes last, is
// empty or ".". The first MadeFolders components are the folders the output tree makes (the
// archive's folder and the sound's base path); the NameFolders after them came from separators in
// the stored name, and the tree only writes into them when they stand already.
struct OutputPath {
    std::string Text;
    std::uint32_t MadeFolders = 0;
    std::uint32_t NameFolders = 0;
};

// The path of the file fileName in the folder archiveFolder + basePath, both folders in the
// program's form ("\" or "/" after each). Empty folder names (from doubled separators) and "." name
// the folder they stand in and are left out; every component is made safe by SafeComponent.
OutputPath BuildOutputPath(std::string_view archiveFolder, std::string_view basePath,
                           std::string_view fileName,
                           platform::NameRules rules = platform::NativeNameRules);
// The folder archiveFolder + basePath alone ("a/b/", its folders counted in MadeFolders), and a
// file's path in it: BuildOutputPath(BuildFolderPath(a, b), name) is BuildOutputPath(a, b, name),
// for the files of one folder without making the folder safe again for each.
OutputPath BuildFolderPath(std::string_view archiveFolder, std::string_view basePath,
                           platform::NameRules rules = platform::NativeNameRules);
OutputPath BuildOutputPath(const OutputPath& folder, std::string_view fileName,
                           platform::NameRules rules = platform::NativeNameRules);
// The same into path, whose memory it takes again.
void BuildOutputPath(const OutputPath& folder, std::string_view fileName, platform::NameRules rules,
                     OutputPath& path);

// The name a stored file is written under, into name: its name with the extension of its form, and
// in the RAW mode its record's number in front ("000012_name.wav"), so that the whole name is made
// safe.
void FileName(const csc::SM_SoundFileInfo& file, csc::StoredForm form,
              std::optional<std::int32_t> rawNumber, std::string& name);

// "ByTag/" and the folder of the tag that the sound's tag reference k names, as a run names the
// folder of a sound filed under it.
OutputPath ByTagFolder(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                       std::size_t k, platform::NameRules rules = platform::NativeNameRules);
// That folder's name alone, "/" between its components where the tag's name holds separators.
std::string TagFolderName(const csc::IndexTables& tables, const csc::TSM_TaggedSound& sound,
                          std::size_t k, platform::NameRules rules = platform::NativeNameRules);

// Names come from the archive and must not lead out of the output folders, nor anywhere the file
// system would read them differently. Each component:
// - made only of dots and spaces with at least two dots: its dots are written as "_" (a lone "."
//   stays);
// - a zero byte is written as "_".
// Under Windows rules also:
// - bytes 1 to 31 and < > : " | ? * are written as "_" (":" would open a hidden stream);
// - a trailing dot or space, which Win32 strips, is written as "_";
// - a name whose part before the first dot names a device (CON, PRN, AUX, NUL, CONIN$, CONOUT$,
//   COM1 to COM9, LPT1 to LPT9, in any case, also COM and LPT followed by the superscript digits
//   of code page 1252) gets a "_" in front.
std::string SafeComponent(std::string_view component, platform::NameRules rules);

// The path as this platform shows it to its users: its own separator between the components.
std::string ShownPath(const OutputPath& path);

// The first levels components of the path ("a/b" for 2 of "a/b/c.ogg").
std::string_view LeadingComponents(const OutputPath& path, std::size_t levels);
// The component of path's text that starts at begin; begin moves to the next one.
std::string_view NextComponent(const OutputPath& path, std::size_t& begin);
// The path of a name in a folder below the output folder (empty: the output folder itself); the
// name is a single component.
std::string InFolder(std::string_view folder, std::string_view name);

// Identity of places follows the platform's file system (on Windows, names that differ in the case
// of any letter it folds are one place); both keys below are made from platform::FoldedForIdentity.
// A number for the place a path text names: the same for paths that are the same place, and
// rarely the same for two that are not.
std::uint64_t PlaceKey(std::string_view text);
// Appends the identity form of one component to key, for lookups that go a folder at a time.
void AppendIdentity(std::string& key, std::string_view component);

} // namespace layout
