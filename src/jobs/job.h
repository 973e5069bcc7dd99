#pragma once

#include "csc/reader.h"
#include "csc/records.h"
#include "layout/paths.h"
#include "layout/tree.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// The jobs of a run: extract, list, check or stream the files that the walk of the index finds.
namespace jobs {

// One file of a run as the walk of the index finds it, in extraction order: where it goes, the
// extent its stored bytes take in the archive (as many as the archive holds of those its entry
// claims), and the size the file is to have.
struct FoundFile {
    layout::OutputPath Path;
    std::size_t Slot = 0;
    csc::Extent Stored;
    std::uint64_t Size = 0;
    csc::StoredForm Form = csc::StoredForm::Bare;
    // The sound of the tables whose record holds the file: a tagged sound or a mission sound of
    // the index the walk walks; neither in the RAW mode, which reads records without their sounds.
    const csc::TSM_TaggedSound* Tagged = nullptr;
    const csc::TSM_MissionSound* Mission = nullptr;
};

// A file's stored bytes that the system failed to read (not an archive that ends early): where in
// its archive, and why. The job goes on with zeros in their place and tells whoever it was given.
struct Unread {
    const FoundFile& File;
    std::uint64_t Offset = 0;
    platform::ErrorCode Reason = platform::NoError;
};
using OnUnread = std::function<void(const Unread&)>;

// What the layout keeps of a file: where its bytes lie, its size and form, and its sound.
layout::FileFacts FactsOf(const FoundFile& file, const csc::IndexTables& tables);

// Every job sees the same files in the same order. The walk has moved the archive's position past
// each file's bytes already; a job reads them through stored, which cannot move it.
class Job {
  public:
    virtual ~Job() = default;
    // The job may take what it keeps of file (its path) from it: the walk makes the next file
    // where this one was.
    virtual void Take(csc::ExtentReader& stored, FoundFile& file) = 0;
    // False once the job can do nothing more (its output has gone): the walk stops.
    virtual bool WantsMore() const { return true; }
};

} // namespace jobs
