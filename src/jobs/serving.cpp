#include "jobs/serving.h"

#include "jobs/results.h"
#include "jobs/zip_stream.h"
#include "page_assets.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <map>
#include <memory>

namespace jobs {
namespace {

using platform::HttpRequest;
using platform::HttpResponse;

// What every response says of itself: nothing of it is run from elsewhere, taken for another
// type, or named to another site.
void Secure(HttpResponse& response) {
    response.Headers.emplace_back("Content-Security-Policy", "default-src 'self'");
    response.Headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.Headers.emplace_back("Referrer-Policy", "no-referrer");
}

HttpResponse Text(unsigned status, std::string body,
                  std::string_view type = "text/plain; charset=utf-8") {
    HttpResponse response;
    response.Status = status;
    response.Headers = {{"Content-Type", std::string(type)}, {"Cache-Control", "no-store"}};
    response.Body = std::move(body);
    return response;
}

HttpResponse Json(std::string body) {
    return Text(200, std::move(body), "application/json");
}

int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

std::string Decoded(std::string_view text, bool plusIsSpace) {
    std::string decoded;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '%' && at + 2 < text.size() + 0 && HexValue(text[at + 1]) >= 0 &&
            HexValue(text[at + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[at + 1]) * 16 + HexValue(text[at + 2]));
            at += 2;
        } else {
            decoded += plusIsSpace && text[at] == '+' ? ' ' : text[at];
        }
    }
    return decoded;
}

std::optional<std::uint64_t> Number(std::string_view text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// Equal strings, compared in a time that does not tell how much of them agrees.
bool SameSecret(std::string_view a, std::string_view b) {
    unsigned char differ = a.size() == b.size() ? 0 : 1;
    for (std::size_t k = 0; k < a.size(); ++k) {
        differ |= static_cast<unsigned char>(a[k] ^ (k < b.size() ? b[k] : 0));
    }
    return differ == 0;
}

// An HTTP date: "Tue, 08 Dec 2026 16:39:46 GMT".
std::string HttpDate(std::int64_t seconds) {
    static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    CivilTime civil = CivilTimeOf(seconds);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", Days[civil.Weekday],
                  civil.Day, Months[civil.Month - 1], civil.Year, civil.Hour, civil.Minute,
                  civil.Second);
    return text;
}

// The last component of a path.
std::string_view NameOf(std::string_view path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Content-Disposition for a download under name (stored bytes): an ASCII fallback, and the name
// as the JSON shows it, percent-encoded in UTF-8 (RFC 6266, RFC 8187).
std::string Attachment(std::string_view stored) {
    std::string text = platform::NameAsText(stored);
    std::string fallback;
    std::string encoded;
    static const char Hex[] = "0123456789ABCDEF";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                     (byte >= '0' && byte <= '9') || std::strchr("!#$&+-.^_`|~", c) != nullptr;
        encoded += plain ? std::string(1, c) : std::string{'%', Hex[byte >> 4], Hex[byte & 15]};
        if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
            fallback += c;
        } else if (byte < 0x80 || (byte & 0xC0) == 0xC0) {
            fallback += '_'; // one for each character that does not fit
        }
    }
    return "attachment; filename=\"" + fallback + "\"; filename*=UTF-8''" + encoded;
}

// The one range asked for, as [first, last], in a file of size bytes: nothing where none is asked
// for in a form this answers (several ranges get the whole file), and unsatisfiable where it
// lies beyond the file.
struct Range {
    bool Asked = false;
    bool Satisfiable = true;
    std::uint64_t First = 0;
    std::uint64_t Last = 0;
};

Range ParseRange(std::string_view header, std::uint64_t size) {
    Range range;
    if (!header.starts_with("bytes=") || header.find(',') != std::string_view::npos) {
        return range;
    }
    std::string_view bounds = header.substr(6);
    std::size_t dash = bounds.find('-');
    if (dash == std::string_view::npos) {
        return range;
    }
    std::optional<std::uint64_t> first = Number(bounds.substr(0, dash));
    std::optional<std::uint64_t> last = Number(bounds.substr(dash + 1));
    if (!first && !last) {
        return range;
    }
    range.Asked = true;
    if (!first) { // the last N bytes
        if (*last == 0) {
            range.Satisfiable = false;
            return range;
        }
        range.First = size - std::min(*last, size);
        range.Last = size - 1;
    } else {
        if (last && *last < *first) {
            range.Asked = false; // not a range this reads: the whole file
            return range;
        }
        range.First = *first;
        range.Last = last ? std::min(*last, size - 1) : size - 1;
    }
    range.Satisfiable = size > 0 && range.First < size;
    return range;
}

std::string Hex(std::uint64_t value) {
    char text[20];
    auto end = std::to_chars(text, text + sizeof text, value, 16).ptr;
    return std::string(text, end);
}

// Bytes of one archive fetched ahead for a request that reads many small parts one after another
// (the details of every file walk each file's pages): one read of the system serves many files.
struct ReadAhead {
    std::vector<std::uint8_t> Bytes;
    std::size_t Slot = csc::ArchiveSlots;
    std::uint64_t Start = 0;
};
constexpr std::size_t ReadAheadBytes = 64 * 1024;
constexpr unsigned MaxReadAheads = 8;

// Reads as csc::ReadAt does, through ahead where it has room. A part the window could not fetch
// (it ran into a failing sector past the part) is read again alone, so that what lies ahead
// never fails what was asked.
platform::Moved ReadAtAhead(ReadAhead* ahead, std::size_t slot, const csc::ByteSource& source,
                            std::uint64_t offset, std::uint8_t* into, std::size_t count) {
    if (ahead == nullptr || count >= ReadAheadBytes) {
        return csc::ReadAt(source, offset, into, count);
    }
    auto holds = [&] {
        return ahead->Slot == slot && offset >= ahead->Start &&
               offset + count <= ahead->Start + ahead->Bytes.size();
    };
    if (!holds()) {
        ahead->Bytes.resize(ReadAheadBytes);
        platform::Moved fetched = csc::ReadAt(source, offset, ahead->Bytes.data(), ReadAheadBytes);
        ahead->Bytes.resize(fetched.Bytes);
        ahead->Slot = slot;
        ahead->Start = offset;
        if (!holds()) {
            ahead->Bytes.clear();
            return csc::ReadAt(source, offset, into, count);
        }
    }
    std::memcpy(into, ahead->Bytes.data() + (offset - ahead->Start), count);
    return {count, platform::NoError};
}

// The bytes of a file from offset on: its archive's, then the zero tail. Fewer than asked only
// where the archive gives fewer than it held when the tree was made (it has shrunk, or the
// system failed to read it): the caller cuts the response there.
std::size_t ReadOfFile(const csc::ByteSource& source, const layout::FileFacts& facts,
                       std::uint64_t offset, std::uint8_t* into, std::size_t count,
                       platform::ErrorCode& error, ReadAhead* ahead = nullptr) {
    std::size_t given = 0;
    if (offset < facts.Held) {
        std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, facts.Held - offset));
        platform::Moved read =
            ReadAtAhead(ahead, facts.Slot, source, facts.Offset + offset, into, wanted);
        given = read.Bytes;
        if (given < wanted) {
            error = read.Error;
            return given;
        }
    }
    std::uint64_t end = std::min<std::uint64_t>(offset + count, facts.Size);
    if (offset + given < end) {
        std::size_t zeros = static_cast<std::size_t>(end - offset - given);
        std::memset(into + given, 0, zeros);
        given += zeros;
    }
    return given;
}

// A share of what the answers being sent may hold of selections (the ids of a match or a zip,
// and a zip's checksums), given back when the answer is gone.
class SelectionHold {
  public:
    SelectionHold(std::atomic<std::size_t>& held, std::size_t bytes) : held_(held), bytes_(bytes) {}
    ~SelectionHold() { held_ -= bytes_; }
    SelectionHold(const SelectionHold&) = delete;
    SelectionHold& operator=(const SelectionHold&) = delete;

  private:
    std::atomic<std::size_t>& held_;
    std::size_t bytes_;
};

// However many clients ask for selections and however slowly they read them, the answers hold at
// most this much of them; past it a client is asked to come back.
constexpr std::size_t SelectionBudget = 2 * 1024 * 1024;

std::shared_ptr<SelectionHold> HoldSelection(std::atomic<std::size_t>& held, std::size_t bytes) {
    std::size_t before = held.load();
    do {
        if (before + bytes > SelectionBudget) {
            return nullptr;
        }
    } while (!held.compare_exchange_weak(before, before + bytes));
    return std::make_shared<SelectionHold>(held, bytes);
}

HttpResponse Busy() {
    HttpResponse response = Text(503, "busy: too many selections are being sent; try again\n");
    response.Headers.emplace_back("Retry-After", "1");
    return response;
}

// The ids of a selection in the tree's order, found from its bits as they are asked for: a zip
// asks for its members one after another (and from the first again for its central directory),
// a match lists them once.
class SelectionWalk {
  public:
    explicit SelectionWalk(Selection selection) : selection_(std::move(selection)) {}
    std::size_t Count() const { return selection_.Count; }
    // What its bits cost.
    std::size_t Bytes() const { return selection_.Bits.size() / 8 + 1; }
    std::uint32_t IdOf(std::size_t member) {
        if (member < member_ || !started_) {
            started_ = true;
            member_ = 0;
            id_ = Next(0);
        }
        for (; member_ < member; ++member_) {
            id_ = Next(id_ + 1);
        }
        return id_;
    }

  private:
    std::uint32_t Next(std::uint32_t from) const {
        while (from < selection_.Bits.size() && !selection_.Bits[from]) {
            ++from;
        }
        return from;
    }

    Selection selection_;
    bool started_ = false;
    std::size_t member_ = 0;
    std::uint32_t id_ = 0;
};

} // namespace

// A request's path and parameters.
struct Site::Query {
    std::string Path;
    std::multimap<std::string, std::string> Parameters;

    explicit Query(std::string_view target) {
        std::size_t mark = target.find('?');
        Path = Decoded(target.substr(0, mark), false);
        if (mark == std::string_view::npos) {
            return;
        }
        std::string_view rest = target.substr(mark + 1);
        while (!rest.empty()) {
            std::size_t amp = rest.find('&');
            std::string_view pair = rest.substr(0, amp);
            std::size_t equals = pair.find('=');
            Parameters.emplace(Decoded(pair.substr(0, equals), true),
                               equals == std::string_view::npos
                                   ? std::string()
                                   : Decoded(pair.substr(equals + 1), true));
            rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
        }
    }
    std::vector<std::string> All(const std::string& name) const {
        std::vector<std::string> values;
        auto [begin, end] = Parameters.equal_range(name);
        for (auto at = begin; at != end; ++at) {
            values.push_back(at->second);
        }
        return values;
    }
};

Site::Site(const layout::Tree& tree, const csc::IndexTables& tables,
           const std::array<const csc::ByteSource*, csc::ArchiveSlots>& archives,
           const std::array<platform::FileTime, csc::ArchiveSlots>& modified, SiteSettings settings)
    : tree_(tree), tables_(tables), archives_(archives), modified_(modified),
      settings_(std::move(settings)) {
    tree_.ForEachFile([this](std::uint32_t entry) { files_.push_back(entry); });
}

FoundFile Site::FileOf(std::uint32_t id) const {
    layout::FileFacts facts = tree_.File(id);
    FoundFile file;
    file.Path.Text = tree_.PathOf(id);
    file.Slot = facts.Slot;
    file.Stored = csc::Extent{.Offset = facts.Offset, .Held = facts.Held};
    file.Size = facts.Size;
    file.Form = facts.Form;
    if (facts.Kind == layout::SoundKind::Tagged) {
        file.Tagged = &tables_.TaggedSounds[facts.Sound];
    } else if (facts.Kind == layout::SoundKind::Mission) {
        file.Mission = &tables_.MissionSounds[facts.Sound];
    }
    return file;
}

bool Site::IsFile(std::uint64_t id) const {
    return id <= UINT32_MAX && tree_.Exists(id) && !tree_.IsFolder(id) &&
           archives_[tree_.File(id).Slot] != nullptr;
}

bool Site::Authorized(const HttpRequest& request) const {
    std::string_view authorization = request.Authorization;
    if (authorization.starts_with("Bearer ") &&
        SameSecret(authorization.substr(7), settings_.Token)) {
        return true;
    }
    // The session cookie, among any others the browser keeps for this address.
    std::string_view cookies = request.Cookie;
    while (!cookies.empty()) {
        std::size_t end = cookies.find(';');
        std::string_view cookie = cookies.substr(0, end);
        while (cookie.starts_with(' ')) {
            cookie.remove_prefix(1);
        }
        if (cookie.starts_with("cscunpack=") && SameSecret(cookie.substr(10), settings_.Session)) {
            return true;
        }
        cookies = end == std::string_view::npos ? std::string_view() : cookies.substr(end + 1);
    }
    return false;
}

HttpResponse Site::Answer(const HttpRequest& request) const {
    HttpResponse response;
    Query query(request.Target);
    // The Host must name this server: a numeric address or localhost, and its port. A page that a
    // DNS trick points at this address names its own host.
    std::string_view host = request.Host;
    std::size_t colon = host.rfind(':');
    std::string_view name = host.substr(0, colon);
    bool numeric =
        !name.empty() && (name.front() == '[' || std::all_of(name.begin(), name.end(), [](char c) {
                              return (c >= '0' && c <= '9') || c == '.';
                          }));
    if (colon == std::string_view::npos ||
        host.substr(colon + 1) != std::to_string(settings_.Port) ||
        !(numeric || name == "localhost")) {
        response = Text(421, "this server answers for its own address only\n");
    } else if (request.Method != "GET" && request.Method != "HEAD") {
        response = Text(405, "GET and HEAD only\n");
        response.Headers.emplace_back("Allow", "GET, HEAD");
    } else if (query.Path == "/") {
        response = Text(200, std::string(page::index_html), "text/html; charset=utf-8");
    } else if (query.Path == "/page.js") {
        response = Text(200, std::string(page::page_js), "text/javascript; charset=utf-8");
    } else if (query.Path == "/page.css") {
        response = Text(200, std::string(page::page_css), "text/css; charset=utf-8");
    } else if (query.Path == "/favicon.ico") {
        response = Text(204, ""); // the page has no icon, and asks for none in vain
    } else if (query.Path == "/api/session") {
        response = Session(request);
    } else if (!Authorized(request)) {
        response = Text(403, "the token or the session is missing\n");
    } else if (query.Path == "/api/info") {
        response = Info();
    } else if (query.Path == "/api/files") {
        response = Files();
    } else if (query.Path == "/api/match") {
        response = Match(query);
    } else if (query.Path == "/zip") {
        response = Zip(query);
    } else if (query.Path.starts_with("/api/check/") || query.Path.starts_with("/files/")) {
        bool check = query.Path.starts_with("/api/check/");
        std::string_view rest = std::string_view(query.Path).substr(check ? 11 : 7);
        std::optional<std::uint64_t> id = Number(rest.substr(0, rest.find('/')));
        if (!id || !IsFile(*id)) {
            response = Text(404, "no such file\n");
        } else {
            response = check ? Check(static_cast<std::uint32_t>(*id))
                             : Bytes(static_cast<std::uint32_t>(*id), request);
        }
    } else {
        response = Text(404, "not found\n");
    }
    Secure(response);
    return response;
}

HttpResponse Site::Session(const HttpRequest& request) const {
    std::string_view authorization = request.Authorization;
    if (!authorization.starts_with("Bearer ") ||
        !SameSecret(authorization.substr(7), settings_.Token)) {
        return Text(403, "the token is missing or wrong\n");
    }
    HttpResponse response = Text(204, "");
    response.Headers.emplace_back("Set-Cookie", "cscunpack=" + settings_.Session +
                                                    "; HttpOnly; SameSite=Strict; Path=/");
    return response;
}

HttpResponse Site::Info() const {
    std::uint64_t bytes = 0;
    for (std::uint32_t id : files_) {
        bytes += tree_.File(id).Size;
    }
    auto list = [](const std::vector<std::string>& patterns) {
        std::string json = "[";
        for (const std::string& pattern : patterns) {
            json += (json.size() > 1 ? ", " : "") + JsonText(pattern);
        }
        return json + "]";
    };
    return Json("{\"files\": " + std::to_string(files_.size()) +
                ", \"bytes\": " + std::to_string(bytes) + ", \"separator\": \"" +
                (platform::ShownSeparator == '/' ? "/" : "\\\\") +
                "\", \"raw\": " + (settings_.Raw ? "true" : "false") + ", \"archives\": " +
                JsonText(settings_.Archives) + ", \"include\": " + list(settings_.Include) +
                ", \"exclude\": " + list(settings_.Exclude) + "}");
}

HttpResponse Site::Files() const {
    // Made as it is sent, a file at a time, so that its size costs no memory: each object as
    // --list --json --details prints it, with the file's id first.
    struct Making {
        std::size_t Next = 0;
        std::string Pending = "[";
        std::size_t At = 0;
        bool Ended = false;
        // The files' details are read ahead while few lists are being made at once, so that many
        // clients cost no more memory than a few; past them each part is read alone.
        std::atomic<unsigned>& Aheads;
        std::optional<ReadAhead> Ahead;
        explicit Making(std::atomic<unsigned>& aheads) : Aheads(aheads) {
            if (++Aheads <= MaxReadAheads) {
                Ahead.emplace();
            }
        }
        ~Making() { --Aheads; }
        Making(const Making&) = delete;
        Making& operator=(const Making&) = delete;
    };
    auto making = std::make_shared<Making>(readAheads_);
    HttpResponse response = Json("");
    response.Length = HttpResponse::UnknownLength;
    response.Produce = [this, making](std::uint64_t, std::uint8_t* into,
                                      std::size_t room) -> std::size_t {
        Making& m = *making;
        std::size_t given = 0;
        while (given < room) {
            if (m.At < m.Pending.size()) {
                std::size_t part = std::min(room - given, m.Pending.size() - m.At);
                std::memcpy(into + given, m.Pending.data() + m.At, part);
                m.At += part;
                given += part;
                continue;
            }
            m.Pending.clear();
            m.At = 0;
            if (m.Ended) {
                break;
            }
            if (m.Next == files_.size()) {
                m.Pending = "]\n";
                m.Ended = true;
                continue;
            }
            std::uint32_t id = files_[m.Next];
            FoundFile file = FileOf(id);
            std::optional<sound::Details> details;
            if (const csc::ByteSource* source = archives_[file.Slot]) {
                layout::FileFacts facts = tree_.File(id);
                details = DetailsOf(file, [&](std::uint64_t offset, std::span<std::uint8_t> part) {
                    platform::ErrorCode error = platform::NoError;
                    return ReadOfFile(*source, facts, offset, part.data(), part.size(), error,
                                      m.Ahead ? &*m.Ahead : nullptr);
                });
            }
            std::string object = JsonListed(file, tables_, details);
            m.Pending = (m.Next == 0 ? "" : ",\n") + ("{\"id\": " + std::to_string(id) + ", ") +
                        object.substr(1);
            ++m.Next;
        }
        return given;
    };
    return response;
}

Selection Site::Selected(const Query& query) const {
    // An empty pattern names nothing (the command line refuses one).
    std::vector<std::string> include = query.All("i");
    std::vector<std::string> exclude = query.All("x");
    std::erase(include, std::string());
    std::erase(exclude, std::string());
    Selection chosen;
    chosen.Bits.assign(tree_.Entries() + 1, false);
    auto choose = [&](std::uint32_t id) {
        chosen.Count += chosen.Bits[id] ? 0 : 1;
        chosen.Bits[id] = true;
    };
    // Ids, one a value or runs of them ("id=3-9,12").
    for (const std::string& list : query.All("id")) {
        std::string_view rest = list;
        while (!rest.empty()) {
            std::size_t comma = rest.find(',');
            std::string_view item = rest.substr(0, comma);
            std::size_t dash = item.find('-');
            std::optional<std::uint64_t> first = Number(item.substr(0, dash));
            std::optional<std::uint64_t> last =
                dash == std::string_view::npos ? first : Number(item.substr(dash + 1));
            // Bounded by the tree, whatever numbers a request holds.
            std::uint64_t end = last ? std::min<std::uint64_t>(*last, tree_.Entries()) : 0;
            for (std::uint64_t id = first ? *first : 1; first && last && id <= end; ++id) {
                if (IsFile(id)) {
                    choose(static_cast<std::uint32_t>(id));
                }
            }
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    if (!include.empty() || !exclude.empty()) {
        PathSelection taken = settings_.Selecting(include, exclude);
        for (std::uint32_t id : files_) {
            if (IsFile(id) && taken(tree_.PathOf(id))) {
                choose(id);
            }
        }
    }
    return chosen;
}

HttpResponse Site::Match(const Query& query) const {
    // Made as it is sent, from the selection's bits.
    auto walk = std::make_shared<SelectionWalk>(Selected(query));
    std::shared_ptr<SelectionHold> hold = HoldSelection(selectionsHeld_, walk->Bytes());
    if (!hold) {
        return Busy();
    }
    HttpResponse response = Json("");
    response.Length = HttpResponse::UnknownLength;
    auto pending = std::make_shared<std::string>("[");
    auto at = std::make_shared<std::size_t>(0);
    auto member = std::make_shared<std::size_t>(0);
    response.Produce = [walk, hold, pending, at, member](std::uint64_t, std::uint8_t* into,
                                                         std::size_t room) {
        std::size_t given = 0;
        while (given < room) {
            if (*at == pending->size()) {
                if (*member > walk->Count()) {
                    break;
                }
                *pending = *member == walk->Count() ? std::string("]")
                           : *member == 0           ? std::to_string(walk->IdOf(*member))
                                                    : "," + std::to_string(walk->IdOf(*member));
                *at = 0;
                ++*member;
                continue;
            }
            std::size_t part = std::min(room - given, pending->size() - *at);
            std::memcpy(into + given, pending->data() + *at, part);
            *at += part;
            given += part;
        }
        return given;
    };
    return response;
}

HttpResponse Site::Check(std::uint32_t id) const {
    FoundFile file = FileOf(id);
    layout::FileFacts facts = tree_.File(id);
    std::optional<std::string> problem;
    {
        std::lock_guard lock(checking_);
        std::vector<std::uint8_t> bytes(facts.Held);
        platform::Moved read =
            csc::ReadAt(*archives_[facts.Slot], facts.Offset, bytes.data(), bytes.size());
        if (read.Error != platform::NoError) {
            problem = CouldNotRead(facts.Slot, facts.Offset + read.Bytes, read.Error);
        } else if (read.Bytes < facts.Size) {
            problem = CutShort(read.Bytes, facts.Size);
        } else {
            problem = SoundProblem(facts.Form, bytes);
        }
    }
    return Json(JsonChecked(file, problem));
}

HttpResponse Site::Bytes(std::uint32_t id, const HttpRequest& request) const {
    layout::FileFacts facts = tree_.File(id);
    const platform::FileTime& time = modified_[facts.Slot];
    std::string tag = "\"" + Hex(facts.Slot) + "-" + Hex(facts.Offset) + "-" + Hex(facts.Size) +
                      "-" + Hex(static_cast<std::uint64_t>(time.Seconds)) + "." +
                      Hex(time.Nanoseconds) + "\"";
    std::string path = tree_.PathOf(id);
    HttpResponse response;
    response.Headers = {{"Content-Type", facts.Form == csc::StoredForm::Ogg ? "audio/ogg"
                                         : facts.Form == csc::StoredForm::Wav
                                             ? "audio/wav"
                                             : "application/octet-stream"},
                        {"Accept-Ranges", "bytes"},
                        {"ETag", tag},
                        {"Last-Modified", HttpDate(time.Seconds)},
                        {"Cache-Control", "no-cache"},
                        {"Content-Disposition", Attachment(NameOf(path))}};
    std::string_view wanted = request.IfNoneMatch;
    if (wanted == "*" || wanted.find(tag) != std::string_view::npos) {
        response.Status = 304;
        return response;
    }
    Range range = ParseRange(request.Range, facts.Size);
    if (range.Asked && !range.Satisfiable) {
        response.Status = 416;
        response.Headers.emplace_back("Content-Range", "bytes */" + std::to_string(facts.Size));
        return response;
    }
    std::uint64_t first = range.Asked ? range.First : 0;
    std::uint64_t length = range.Asked ? range.Last - range.First + 1 : facts.Size;
    if (range.Asked) {
        response.Status = 206;
        response.Headers.emplace_back("Content-Range", "bytes " + std::to_string(range.First) +
                                                           "-" + std::to_string(range.Last) + "/" +
                                                           std::to_string(facts.Size));
    }
    const csc::ByteSource* source = archives_[facts.Slot];
    response.Length = length;
    if (first < facts.Held) {
        // What the archive holds, copied to the connection by the system where it can.
        response.Within = {.File = source->File,
                           .Offset = facts.Offset + first,
                           .Count = std::min<std::uint64_t>(facts.Held - first, length)};
    }
    auto failed = std::make_shared<platform::ErrorCode>(platform::NoError);
    response.Produce = [source, facts, first, failed](std::uint64_t at, std::uint8_t* into,
                                                      std::size_t room) {
        return ReadOfFile(*source, facts, first + at, into, room, *failed);
    };
    response.Cut = [this, facts, first, failed, path](std::uint64_t at, platform::ErrorCode why) {
        platform::ErrorCode error = why != platform::NoError ? why : *failed;
        if (settings_.Warn) {
            settings_.Warn((error != platform::NoError
                                ? CouldNotRead(facts.Slot, facts.Offset + first + at, error)
                                : std::string(csc::ArchiveFileNames[facts.Slot]) + " has shrunk") +
                           "; " + platform::NameAsText(path) + " was cut short as it was sent");
        }
    };
    return response;
}

HttpResponse Site::Zip(const Query& query) const {
    auto walk = std::make_shared<SelectionWalk>(Selected(query));
    // Its bits, and the checksum of each entry.
    std::size_t bytes = walk->Bytes() + walk->Count() * sizeof(std::uint32_t);
    if (bytes > SelectionBudget) {
        return Text(400, "a zip holds at most " +
                             std::to_string((SelectionBudget - walk->Bytes()) / 4) +
                             " files of this tree: narrow the selection\n");
    }
    std::shared_ptr<SelectionHold> hold = HoldSelection(selectionsHeld_, bytes);
    if (!hold) {
        return Busy();
    }
    auto zip = std::make_shared<ZipStream>(
        walk->Count(),
        [this, walk](std::size_t member) {
            std::uint32_t id = walk->IdOf(member);
            layout::FileFacts facts = tree_.File(id);
            ZipMember entry{.Name = platform::NameAsText(tree_.PathOf(id)), .Size = facts.Size};
            DosTimeOf(modified_[facts.Slot].Seconds, entry.DosTime, entry.DosDate);
            return entry;
        },
        [this, walk](std::size_t member, std::uint64_t offset, std::uint8_t* into,
                     std::size_t count) {
            layout::FileFacts facts = tree_.File(walk->IdOf(member));
            platform::ErrorCode error = platform::NoError;
            return ReadOfFile(*archives_[facts.Slot], facts, offset, into, count, error);
        });
    HttpResponse response;
    response.Headers = {{"Content-Type", "application/zip"},
                        {"Cache-Control", "no-store"},
                        {"Content-Disposition", Attachment("cscunpack.zip")}};
    response.Length = zip->Length();
    response.Produce = [zip, hold](std::uint64_t, std::uint8_t* into, std::size_t room) {
        return zip->Produce(into, room);
    };
    response.Cut = [this](std::uint64_t, platform::ErrorCode) {
        if (settings_.Warn) {
            settings_.Warn(
                "an archive could not be read in full; a zip was cut short as it was sent");
        }
    };
    return response;
}

} // namespace jobs
