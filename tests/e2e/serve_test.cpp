// --serve over plain HTTP, as a script or a hostile client would speak to it: the token, the Host,
// methods, ranges, caching, limits, slow and idle clients, many readers, and archives that change
// under it. The Windows build runs these under Wine, fetched from Linux.

#include "archive_builder.h"
#include "expected.h"
#include "http_client.h"
#include "sample_set.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using testing_support::Get;
using testing_support::HttpAnswer;
using testing_support::ServedTool;
using testing_support::TempFolder;
namespace fs = std::filesystem;

namespace {

// The id and bytes of a file in the served list, found by the end of its path.
struct Served {
    std::string Id;
    std::string Bytes;
};

Served FileEndingIn(const ServedTool& tool, const std::string& end) {
    HttpAnswer list = Get(tool.Port(), tool.Token(), "/api/files");
    std::size_t at = list.Body.find(end + "\"");
    std::size_t id = list.Body.rfind("{\"id\": ", at);
    if (at == std::string::npos || id == std::string::npos) {
        return {};
    }
    std::string number = list.Body.substr(id + 7, list.Body.find(',', id) - id - 7);
    return {number, Get(tool.Port(), tool.Token(), "/files/" + number + "/x").Body};
}

} // namespace

TEST(Serve, AnswersEachRequestAsItsRulesSay) {
    TempFolder folder;
    builder::WriteArchiveSet(builder::SampleSet().Build(), folder.Path());
    std::map<std::string, std::string> written;
    {
        TempFolder out;
        testing_support::RunTool(folder.Path(), {"-q", "-d", expected::Native(out.Path())});
        written = testing_support::Tree(out.Path());
    }
    ServedTool tool(folder.Path(), {"--serve", "0", "-q"});
    ASSERT_NE(tool.Port(), 0) << tool.Line();
    const std::string wind = "__SchemaMetaFile_DVD1.csc/TaggedSounds/Ambience.wind/wind_loop.ogg";
    Served file = FileEndingIn(tool, wind);
    ASSERT_EQ(file.Bytes, written[wind]);
    const std::string size = std::to_string(file.Bytes.size());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(tool.Port()) + "\r\n";
    const std::string token = "Authorization: Bearer " + tool.Token() + "\r\n";
    const std::string path = "/files/" + file.Id + "/wind_loop.ogg";
    std::string etag = Get(tool.Port(), tool.Token(), path).Headers["etag"];
    struct Case {
        const char* what;
        std::string request;
        int status;
        std::map<std::string, std::string> headers; // that the answer must hold
        std::string body;                           // that it must be, where given
    };
    auto get = [&](const std::string& target, const std::string& more) {
        return "GET " + target + " HTTP/1.1\r\n" + more + "Connection: close\r\n\r\n";
    };
    const std::vector<Case> cases = {
        {"the page needs no token",
         get("/", host),
         200,
         {{"content-type", "text/html; charset=utf-8"}},
         ""},
        {"the list needs it", get("/api/files", host), 403, {}, ""},
        {"a wrong token is none",
         get("/api/files", host + "Authorization: Bearer 00\r\n"),
         403,
         {},
         ""},
        {"a file needs it", get(path, host), 403, {}, ""},
        {"the token trades for a cookie", get("/api/session", host + token), 204, {}, ""},
        {"a host of another name",
         get("/", "Host: rebound.example:" + std::to_string(tool.Port()) + "\r\n" + token),
         421,
         {},
         ""},
        {"a port of another server", get("/", "Host: 127.0.0.1:1\r\n" + token), 421, {}, ""},
        {"no host", get("/", token), 421, {}, ""},
        {"POST",
         "POST / HTTP/1.1\r\n" + host + token + "Connection: close\r\n\r\n",
         405,
         {{"allow", "GET, HEAD"}},
         ""},
        {"DELETE",
         "DELETE " + path + " HTTP/1.1\r\n" + host + token + "Connection: close\r\n\r\n",
         405,
         {{"allow", "GET, HEAD"}},
         ""},
        {"a file",
         get(path, host + token),
         200,
         {{"content-type", "audio/ogg"},
          {"accept-ranges", "bytes"},
          {"content-length", size},
          {"content-disposition",
           "attachment; filename=\"wind_loop.ogg\"; filename*=UTF-8''wind_loop.ogg"}},
         file.Bytes},
        {"a range",
         get(path, host + token + "Range: bytes=0-3\r\n"),
         206,
         {{"content-range", "bytes 0-3/" + size}, {"content-length", "4"}},
         "OggS"},
        {"the last bytes",
         get(path, host + token + "Range: bytes=-2\r\n"),
         206,
         {{"content-range", "bytes " + std::to_string(file.Bytes.size() - 2) + "-" +
                                std::to_string(file.Bytes.size() - 1) + "/" + size}},
         file.Bytes.substr(file.Bytes.size() - 2)},
        {"a range past the end",
         get(path, host + token + "Range: bytes=" + size + "-\r\n"),
         416,
         {{"content-range", "bytes */" + size}},
         ""},
        {"HEAD",
         "HEAD " + path + " HTTP/1.1\r\n" + host + token + "Connection: close\r\n\r\n",
         200,
         {{"content-length", size}},
         ""},
        {"an ETag that matches",
         get(path, host + token + "If-None-Match: " + etag + "\r\n"),
         304,
         {},
         ""},
        {"no such file", get("/files/999999/x.ogg", host + token), 404, {}, ""},
        {"a folder is no file", get("/files/0/x", host + token), 404, {}, ""},
        {"no path leads out", get("/files/../../etc/passwd", host + token), 404, {}, ""},
        {"a request with a body",
         "GET / HTTP/1.1\r\n" + host + "Content-Length: 5\r\n\r\nhello",
         413,
         {},
         ""},
        {"a header past 8 KiB",
         get("/", host + "X-Long: " + std::string(9000, 'a') + "\r\n"),
         431,
         {},
         ""},
    };
    for (const Case& c : cases) {
        HttpAnswer answer = testing_support::Exchange(tool.Port(), c.request);
        EXPECT_EQ(answer.Status, c.status) << c.what;
        for (const auto& [name, value] : c.headers) {
            EXPECT_EQ(answer.Headers[name], value) << c.what << ": " << name;
        }
        if (!c.body.empty() || c.request.starts_with("HEAD")) {
            EXPECT_EQ(answer.Body, c.body) << c.what;
        }
        if (answer.Status != 431 && answer.Status != 413) {
            EXPECT_EQ(answer.Headers["content-security-policy"], "default-src 'self'") << c.what;
            EXPECT_EQ(answer.Headers["x-content-type-options"], "nosniff") << c.what;
            EXPECT_EQ(answer.Headers["referrer-policy"], "no-referrer") << c.what;
        }
    }
    // The cookie the token buys opens what the token opens, and nothing else does.
    HttpAnswer session = testing_support::Exchange(tool.Port(), get("/api/session", host + token));
    std::string cookie = session.Headers["set-cookie"];
    EXPECT_NE(cookie.find("; HttpOnly; SameSite=Strict; Path=/"), std::string::npos) << cookie;
    HttpAnswer withCookie = testing_support::Exchange(
        tool.Port(),
        get(path, host + "Cookie: a=b; " + cookie.substr(0, cookie.find(';')) + "\r\n"));
    EXPECT_EQ(withCookie.Status, 200);
    // The list is --list --json --details, each object with its id.
    auto listed = testing_support::RunTool(folder.Path(), {"-l", "--json", "--details", "-q"});
    HttpAnswer files = Get(tool.Port(), tool.Token(), "/api/files");
    for (const std::string& line : expected::Lines(listed.Output)) {
        if (!line.empty()) {
            EXPECT_NE(files.Body.find(line.substr(1)), std::string::npos) << line;
        }
    }
    std::string errors;
    int exitCode = tool.Stop(errors);
    if (!testing_support::UnderLauncher()) { // Wine ends on SIGTERM by itself
        EXPECT_EQ(exitCode, 0) << errors;
    }
}

// Clients that do nothing, or send a byte a second, cost no thread and keep nobody waiting; 32
// readers at once each get every byte.
TEST(Serve, SlowAndIdleClientsKeepNoReaderWaiting) {
    builder::ArchiveSetBuilder set;
    for (int i = 0; i < 8; ++i) {
        std::string bytes(300000 + i, static_cast<char>('a' + i));
        std::string name = "f";
        name += static_cast<char>('0' + i);
        set.AddMissionSound("M", {{builder::File(name, 3, bytes)}});
    }
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    ServedTool tool(folder.Path(), {"--serve", "0", "-q"});
    ASSERT_NE(tool.Port(), 0) << tool.Line();
    std::vector<std::unique_ptr<testing_support::Connection>> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(std::make_unique<testing_support::Connection>(tool.Port()));
        idle.back()->Send(i % 2 == 0 ? "" : "GET / HTTP/1.1\r\nHost: 127.0.0.1");
    }
    testing_support::Connection slow(tool.Port());
    std::atomic<bool> slowGoing = true;
    std::thread dripping([&] {
        std::string request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(tool.Port()) +
                              "\r\nX-Slow: " + std::string(100, 'a') + "\r\n\r\n";
        for (char c : request) {
            if (!slowGoing || !slow.Send(std::string(1, c))) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
    });
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(Get(tool.Port(), tool.Token(), "/api/info").Status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));

    std::atomic<int> right = 0;
    std::vector<std::thread> readers;
    for (int k = 0; k < 32; ++k) {
        readers.emplace_back([&, k] {
            std::string list = Get(tool.Port(), tool.Token(), "/api/files").Body;
            std::size_t at = 0;
            int whole = 0;
            while ((at = list.find("{\"id\": ", at)) != std::string::npos) {
                at += 7;
                std::string id = list.substr(at, list.find(',', at) - at);
                std::string bytes = Get(tool.Port(), tool.Token(), "/files/" + id + "/f").Body;
                whole += bytes.size() >= 300000 && bytes.size() < 300008 &&
                         bytes == std::string(bytes.size(),
                                              static_cast<char>('a' + bytes.size() - 300000));
            }
            right += whole == 8 ? 1 : 0;
            (void)k;
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(right, 32);
    EXPECT_TRUE(slow.ClosedWithin(std::chrono::seconds(20))) << "a client that drips is dropped";
    slowGoing = false;
    dripping.join();
}

// An archive cut under the server: the answer stops short of its length (never completed with
// zeros) and a warning says so. A port in use is one error line and exit code 2.
TEST(Serve, AnArchiveCutUnderTheServerCutsTheAnswer) {
    builder::ArchiveSetBuilder set;
    set.AddMissionSound("M", {{builder::File("big", 3, std::string(500000, 'b'))}});
    TempFolder folder;
    builder::WriteArchiveSet(set.Build(), folder.Path());
    ServedTool tool(folder.Path(), {"--serve", "0", "-q"});
    ASSERT_NE(tool.Port(), 0) << tool.Line();
    Served file = FileEndingIn(tool, "big.ogg");
    ASSERT_EQ(file.Bytes.size(), 500000u);
    fs::resize_file(folder.Path() / "SchemaMetaFile_DVD1.csc", 100000);
    HttpAnswer cut = Get(tool.Port(), tool.Token(), "/files/" + file.Id + "/big.ogg");
    EXPECT_EQ(cut.Status, 200);
    EXPECT_FALSE(cut.Whole);
    EXPECT_LT(cut.Body.size(), 500000u);
    EXPECT_EQ(cut.Body.find('\0'), std::string::npos) << "no zeros in place of the bytes";

    auto taken = testing_support::RunTool(folder.Path(), {"--serve", std::to_string(tool.Port())});
    EXPECT_EQ(taken.ExitCode, 2);
    EXPECT_TRUE(taken.Errors.starts_with(
        "cscunpack: cannot serve at 127.0.0.1:" + std::to_string(tool.Port()) + " ("))
        << taken.Errors;
    std::string errors;
    tool.Stop(errors);
    EXPECT_NE(errors.find("was cut short as it was sent"), std::string::npos) << errors;
}
