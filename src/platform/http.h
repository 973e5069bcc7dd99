#pragma once

#include "platform/platform.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// A small HTTP/1.1 server: the one code that speaks to the network. Requests are read and responses
// written by Boost.Beast over Boost.Asio (header-only, from Debian's libboost-dev, the same code on
// Linux and in the static Windows executable); it hands each request to the caller's handler and
// sends what the handler makes, a long body piece by piece as it is produced. It knows nothing of
// what it serves.
//
// Bounded whatever the clients do: connections wait on the system, not on threads, so an idle or
// slow one costs no thread; a request's header must arrive whole within a time limit (a client
// that sends one byte a second is dropped), and a connection that stays idle that long is closed;
// a header past its limit gets 431, a request with a body 413, more connections than the cap 503;
// a body is sent through a buffer of bounded size, the large ones shared among a few connections.
namespace platform {

struct HttpRequest {
    std::string Method; // "GET", "HEAD", ...
    std::string Target; // as sent: "/files/3/a.ogg?x=1"
    std::string Host;
    std::string Authorization;
    std::string Cookie;
    std::string Range;
    std::string IfNoneMatch;
};

struct HttpResponse {
    unsigned Status = 200;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // A body made piece by piece, where Produce is set: Length bytes (UnknownLength: sent in
    // chunks until Produce gives none). Each call gives the body's bytes from at on, at most room
    // of them, and returns how many it gave. A body that gives fewer bytes than it announced (an
    // archive cut or failing under the server) is cut: the connection closes before the length is
    // reached, so no client takes what it got for the whole, and Cut is told where and why
    // (NoError: its source simply ended).
    static constexpr std::uint64_t UnknownLength = UINT64_MAX;
    std::uint64_t Length = 0;
    std::function<std::size_t(std::uint64_t at, std::uint8_t* into, std::size_t room)> Produce;
    std::function<void(std::uint64_t at, ErrorCode why)> Cut;
    // Where the body's first Count bytes lie in a file from Offset on: a server that can copy
    // them within the system (sendfile on Linux) sends them so, without their passing through the
    // program, and asks Produce for the rest only; elsewhere Produce gives every byte.
    struct FileRange {
        FileHandle File = InvalidFile;
        std::uint64_t Offset = 0;
        std::uint64_t Count = 0;
    };
    FileRange Within;
};

struct HttpSettings {
    std::string Address = "127.0.0.1"; // numeric; IPv6 without brackets
    std::uint16_t Port = 0;            // 0: a free one
    std::size_t MostConnections = 1024;
    std::size_t LongestHeader = 8 * 1024;
    // How long a request's header may take to arrive, and a kept-alive connection may idle.
    std::chrono::milliseconds HeaderTime{10000};
    // How long a reader may take nothing of a response before it is dropped.
    std::chrono::milliseconds SendTime{60000};
    unsigned Threads = 2;
};

using HttpHandler = std::function<HttpResponse(const HttpRequest&)>;

// A socket that listens at an address and port; connections wait there until it serves.
class HttpListener {
  public:
    virtual ~HttpListener() = default;
    virtual std::uint16_t Port() const = 0;
};
// Listens at the address and port: nothing where it cannot (a port in use, an address not of
// this machine), and problem says why in words.
std::unique_ptr<HttpListener> ListenHttp(const HttpSettings& settings, std::string& problem);
// Serves what arrives at the listener until an interrupt arrives (Ctrl-C, SIGTERM; on Windows also
// the console's close).
void ServeHttp(HttpListener& listener, const HttpHandler& handle);

// Opens the address in the user's default browser, without waiting for it.
void OpenInBrowser(const std::string& address);

// Fills bytes with random ones from the system's generator.
ErrorCode SystemRandom(void* bytes, std::size_t count);

} // namespace platform
