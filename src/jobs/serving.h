#pragma once

#include "csc/archives.h"
#include "csc/byte_source.h"
#include "csc/records.h"
#include "jobs/job.h"
#include "layout/tree.h"
#include "platform/http.h"
#include "platform/mount.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The site that --serve answers with: a page, and the tree a run with the same options writes,
// read straight from the archives. Each file is the tree's entry of its number (its id); a request
// names a file by that id and nothing else, so that no request can reach a file but the archives'
// bytes. Nothing a request asks can write, make or remove anything.
//
//   /                 the page (and /page.js, /page.css): the only parts served without the token
//   /api/session      trades the token (Authorization: Bearer TOKEN) for a session cookie
//   /api/info         the count of files, the platform's separator
//   /api/files        every file, as --list --json --details prints it, with its "id"
//   /api/match?i=P&x=P  the ids of the files that the patterns take, as -i and -x take them
//   /api/check/ID     the --test --json object of a file
//   /files/ID/NAME    a file's bytes (NAME is for the browser's download)
//   /zip?i=P&x=P&id=N the files that the patterns or ids take, as one zip made as it is sent
//
// Every request must name the served address in its Host header (421 else: a page of another
// site that a DNS trick points here), and every one but the page's own parts must carry the token
// or the session cookie (403 else). GET and HEAD only.
namespace jobs {

// Which of the tree's paths a set of -i and -x patterns takes.
using PathSelection = std::function<bool(std::string_view path)>;
using SelectionMaker = std::function<PathSelection(const std::vector<std::string>& include,
                                                   const std::vector<std::string>& exclude)>;

struct SiteSettings {
    std::string Token;   // what scripts send as Authorization: Bearer TOKEN
    std::string Session; // the cookie the page is given for the token
    std::uint16_t Port = 0;
    // The run's own options, for the command line the page shows.
    bool Raw = false;
    std::string Archives;
    std::vector<std::string> Include, Exclude;
    SelectionMaker Selecting;
    // Told, from any thread, of a file whose archive could not be read in full while it was sent.
    std::function<void(std::string_view warning)> Warn;
};

// Files of the tree picked by a request: one bit for each entry, so that a selection of every
// file costs an eighth of a byte a file.
struct Selection {
    std::vector<bool> Bits;
    std::size_t Count = 0;
};

class Site {
  public:
    // The tree is whole (Finish has returned); archives holds each open archive's source by slot,
    // and modified the time of each.
    Site(const layout::Tree& tree, const csc::IndexTables& tables,
         const std::array<const csc::ByteSource*, csc::ArchiveSlots>& archives,
         const std::array<platform::FileTime, csc::ArchiveSlots>& modified, SiteSettings settings);

    // The port the server holds, told before the first request.
    void Listening(std::uint16_t port) { settings_.Port = port; }
    // Any number of threads may ask at once.
    platform::HttpResponse Answer(const platform::HttpRequest& request) const;

  private:
    struct Query;
    bool Authorized(const platform::HttpRequest& request) const;
    bool IsFile(std::uint64_t id) const;
    platform::HttpResponse Session(const platform::HttpRequest& request) const;
    platform::HttpResponse Info() const;
    platform::HttpResponse Files() const;
    platform::HttpResponse Match(const Query& query) const;
    platform::HttpResponse Check(std::uint32_t id) const;
    platform::HttpResponse Bytes(std::uint32_t id, const platform::HttpRequest& request) const;
    platform::HttpResponse Zip(const Query& query) const;
    Selection Selected(const Query& query) const;
    // A file of the tree as the walk found it.
    FoundFile FileOf(std::uint32_t id) const;

    const layout::Tree& tree_;
    const csc::IndexTables& tables_;
    std::array<const csc::ByteSource*, csc::ArchiveSlots> archives_;
    std::array<platform::FileTime, csc::ArchiveSlots> modified_;
    SiteSettings settings_;
    std::vector<std::uint32_t> files_; // every file's id, in the tree's order
    // A check reads a whole file into memory: one at a time, so that many cost no more than one.
    mutable std::mutex checking_;
    // Lists of every file being made now, which read ahead while they are few.
    mutable std::atomic<unsigned> readAheads_{0};
    // What the answers being sent hold of selections, in bytes.
    mutable std::atomic<std::size_t> selectionsHeld_{0};
};

} // namespace jobs
