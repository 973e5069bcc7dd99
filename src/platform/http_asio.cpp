// The HTTP server over Boost.Beast and Boost.Asio. The heavy headers stay in this one translation
// unit, so that a change anywhere else rebuilds fast.
#include "platform/http.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#if defined(_WIN32)
#include <bcrypt.h>
#include <shellapi.h>
#include <windows.h>
#else
#include <spawn.h>
#include <sys/random.h>
#include <sys/sendfile.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>

namespace platform {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// A body goes out through a buffer of this size where the shared budget has room, else through a
// small one: a few fast readers get large pieces, and a thousand slow ones cost little.
constexpr std::size_t LargePiece = 256 * 1024;
constexpr std::size_t SmallPiece = 4 * 1024;
constexpr std::size_t LargePieceBudget = 1024 * 1024;
constexpr std::size_t HeaderSlack = 1024;

struct Shared {
    HttpSettings Settings;
    const HttpHandler& Handle;
    std::atomic<std::size_t> Connections{0};
    std::atomic<std::size_t> LargeInUse{0};
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Shared& shared)
        : stream_(std::move(socket)), shared_(shared),
          buffer_(shared.Settings.LongestHeader + HeaderSlack) {
        ++shared_.Connections;
    }
    ~Session() {
        ReleasePiece();
        --shared_.Connections;
    }

    void ReadRequest() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(shared_.Settings.LongestHeader));
        parser_->body_limit(0);
        stream_.expires_after(shared_.Settings.HeaderTime);
        http::async_read(stream_, buffer_, *parser_,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             self->Read(error);
                         });
    }

    // The one answer to a connection past the cap.
    void Refuse() { SendSimple(503, "too many connections", false); }

  private:
    void Read(beast::error_code error) {
        if (error == http::error::header_limit || error == http::error::buffer_overflow) {
            return SendSimple(431, "request header too large", false);
        }
        if (error == http::error::body_limit) {
            return SendSimple(413, "a request takes no body", false);
        }
        if (error) {
            return Close(); // the client went, timed out, or sent what is no HTTP
        }
        if (buffer_.size() == 0) {
            buffer_.shrink_to_fit(); // an answer that takes long holds no room for headers
        }
        const auto& message = parser_->get();
        HttpRequest request;
        request.Method = std::string(message.method_string());
        request.Target = std::string(message.target());
        auto field = [&](http::field name) {
            auto found = message.find(name);
            return found == message.end() ? std::string() : std::string(found->value());
        };
        request.Host = field(http::field::host);
        request.Authorization = field(http::field::authorization);
        request.Cookie = field(http::field::cookie);
        request.Range = field(http::field::range);
        request.IfNoneMatch = field(http::field::if_none_match);
        keepAlive_ = message.keep_alive();
        head_ = message.method() == http::verb::head;
        response_ = shared_.Handle(request);
        SendHeader();
    }

    void SendHeader() {
        header_.emplace();
        header_->result(response_.Status);
        header_->version(11);
        for (const auto& [name, value] : response_.Headers) {
            header_->set(name, value);
        }
        bool produced = static_cast<bool>(response_.Produce);
        std::uint64_t length = produced ? response_.Length : response_.Body.size();
        bool chunked = produced && length == HttpResponse::UnknownLength;
        if (chunked) {
            header_->chunked(true);
        } else if (response_.Status != 204 && response_.Status != 304) {
            header_->content_length(length);
        }
        header_->keep_alive(keepAlive_);
        left_ = chunked ? 0 : length;
        chunked_ = chunked;
        sent_ = 0;
        serializer_.emplace(*header_);
        stream_.expires_after(shared_.Settings.SendTime);
        http::async_write_header(stream_, *serializer_,
                                 [self = shared_from_this()](beast::error_code error, std::size_t) {
                                     if (error) {
                                         return self->Close();
                                     }
                                     self->SendBody();
                                 });
    }

    void SendBody() {
        if (head_ || (!response_.Produce && response_.Body.empty())) {
            return Done(true);
        }
        if (!response_.Produce) {
            stream_.expires_after(shared_.Settings.SendTime);
            asio::async_write(stream_, asio::buffer(response_.Body),
                              [self = shared_from_this()](beast::error_code error, std::size_t) {
                                  self->Done(!error);
                              });
            return;
        }
#if !defined(_WIN32)
        if (!chunked_ && response_.Within.File != InvalidFile && response_.Within.Count > 0) {
            return SendWithin();
        }
#endif
        TakePiece();
        SendPiece();
    }

#if !defined(_WIN32)
    // The body's bytes that lie in a file, copied to the socket by the system.
    void SendWithin() {
        tcp::socket& socket = stream_.socket();
        beast::error_code ignored;
        socket.native_non_blocking(true, ignored);
        const HttpResponse::FileRange& range = response_.Within;
        while (sent_ < range.Count) {
            off_t offset = static_cast<off_t>(range.Offset + sent_);
            std::size_t count =
                static_cast<std::size_t>(std::min<std::uint64_t>(range.Count - sent_, 1u << 20));
            ssize_t moved =
                ::sendfile(socket.native_handle(), static_cast<int>(range.File), &offset, count);
            if (moved > 0) {
                sent_ += static_cast<std::uint64_t>(moved);
                left_ -= static_cast<std::uint64_t>(moved);
                continue;
            }
            if (moved < 0 && errno == EINTR) {
                continue;
            }
            if (moved < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return WaitToWrite();
            }
            if (moved < 0 && (errno == EPIPE || errno == ECONNRESET)) {
                return Close(); // the reader went
            }
            // The file ends before the range does (it has shrunk), or cannot be read.
            if (response_.Cut) {
                response_.Cut(sent_, moved < 0 ? static_cast<ErrorCode>(errno) : NoError);
            }
            return Close();
        }
        TakePiece();
        SendPiece();
    }

    // Waits until the socket takes more, at most as long as a reader may take nothing.
    void WaitToWrite() {
        deadline_.expires_after(shared_.Settings.SendTime);
        deadline_.async_wait([self = shared_from_this()](beast::error_code error) {
            if (!error) {
                self->Close();
            }
        });
        stream_.socket().async_wait(tcp::socket::wait_write,
                                    [self = shared_from_this()](beast::error_code error) {
                                        self->deadline_.cancel();
                                        if (error) {
                                            return self->Close();
                                        }
                                        self->SendWithin();
                                    });
    }
#endif

    void SendPiece() {
        std::size_t room = piece_.size();
        if (!chunked_) {
            room = static_cast<std::size_t>(std::min<std::uint64_t>(room, left_));
            if (room == 0) {
                return Done(true);
            }
        }
        std::size_t given = response_.Produce(sent_, piece_.data(), room);
        sent_ += given;
        stream_.expires_after(shared_.Settings.SendTime);
        auto next = [self = shared_from_this(), given](beast::error_code error, std::size_t) {
            if (error) {
                return self->Close();
            }
            if (given == 0) {
                return self->Done(true); // the last chunk went
            }
            self->SendPiece();
        };
        if (chunked_) {
            if (given == 0) {
                return asio::async_write(stream_, http::make_chunk_last(), std::move(next));
            }
            return asio::async_write(stream_, http::make_chunk(asio::buffer(piece_.data(), given)),
                                     std::move(next));
        }
        if (given == 0) {
            if (response_.Cut) {
                response_.Cut(sent_, NoError);
            }
            return Close(); // fewer bytes than announced: cut, never padded
        }
        left_ -= given;
        asio::async_write(stream_, asio::buffer(piece_.data(), given), std::move(next));
    }

    void TakePiece() {
        std::size_t before = shared_.LargeInUse.load();
        while (before + LargePiece <= LargePieceBudget &&
               !shared_.LargeInUse.compare_exchange_weak(before, before + LargePiece)) {
        }
        large_ = before + LargePiece <= LargePieceBudget;
        piece_.resize(large_ ? LargePiece : SmallPiece);
    }

    void ReleasePiece() {
        if (large_) {
            shared_.LargeInUse -= LargePiece;
            large_ = false;
        }
        std::vector<std::uint8_t>().swap(piece_);
    }

    void Done(bool whole) {
        ReleasePiece();
        response_ = HttpResponse{};
        serializer_.reset();
        header_.reset();
        if (whole && keepAlive_) {
            return ReadRequest();
        }
        Close();
    }

    void SendSimple(unsigned status, std::string_view text, bool keepAlive) {
        response_ = HttpResponse{};
        response_.Status = status;
        response_.Headers = {{"Content-Type", "text/plain; charset=utf-8"}};
        response_.Body = std::string(text) + "\n";
        keepAlive_ = keepAlive;
        head_ = false;
        SendHeader();
    }

    void Close() {
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream_.close();
    }

    beast::tcp_stream stream_;
    Shared& shared_;
    // Room for the longest header a request may have, and the start of a next one behind it.
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::empty_body>> parser_;
    HttpResponse response_;
    std::optional<http::response<http::empty_body>> header_;
    std::optional<http::response_serializer<http::empty_body>> serializer_;
    std::vector<std::uint8_t> piece_;
    bool large_ = false;
    bool keepAlive_ = false;
    bool head_ = false;
    bool chunked_ = false;
    std::uint64_t left_ = 0; // of the length announced
    std::uint64_t sent_ = 0; // of the body
    asio::steady_timer deadline_{stream_.get_executor()};
};

class Listener {
  public:
    Listener(asio::io_context& io, tcp::acceptor& acceptor, Shared& shared)
        : io_(io), acceptor_(acceptor), shared_(shared) {}

    void Accept() {
        acceptor_.async_accept(
            asio::make_strand(io_), [this](beast::error_code error, tcp::socket socket) {
                if (!error) {
                    // A response's header and its body's pieces leave as they are written, not
                    // held back for the reader's acknowledgement of what went before.
                    beast::error_code ignored;
                    socket.set_option(tcp::no_delay(true), ignored);
                    auto session = std::make_shared<Session>(std::move(socket), shared_);
                    if (shared_.Connections > shared_.Settings.MostConnections) {
                        session->Refuse();
                    } else {
                        session->ReadRequest();
                    }
                }
                if (acceptor_.is_open()) {
                    Accept();
                }
            });
    }

  private:
    asio::io_context& io_;
    tcp::acceptor& acceptor_;
    Shared& shared_;
};

// Polls for an interrupt, which ends the serving.
void WatchForInterrupt(asio::steady_timer& timer, asio::io_context& io) {
    timer.expires_after(std::chrono::milliseconds(100));
    timer.async_wait([&timer, &io](beast::error_code) {
        if (Interrupted()) {
            io.stop();
            return;
        }
        WatchForInterrupt(timer, io);
    });
}

} // namespace

class AsioListener : public HttpListener {
  public:
    explicit AsioListener(const HttpSettings& settings)
        : settings_(settings), io_(static_cast<int>(std::max(1u, settings.Threads))),
          acceptor_(io_) {}
    std::uint16_t Port() const override { return acceptor_.local_endpoint().port(); }

    HttpSettings settings_;
    asio::io_context io_;
    tcp::acceptor acceptor_;
};

std::unique_ptr<HttpListener> ListenHttp(const HttpSettings& settings, std::string& problem) {
    auto listener = std::make_unique<AsioListener>(settings);
    tcp::acceptor& acceptor = listener->acceptor_;
    beast::error_code error;
    asio::ip::address address = asio::ip::make_address(settings.Address, error);
    tcp::endpoint endpoint(address, settings.Port);
    if (!error) {
        acceptor.open(endpoint.protocol(), error);
    }
#if !defined(_WIN32)
    // A port left in TIME_WAIT by the last run may be taken again at once; Windows would let two
    // servers share a port with this, and needs it not.
    if (!error) {
        acceptor.set_option(asio::socket_base::reuse_address(true), error);
    }
#endif
    if (!error) {
        acceptor.bind(endpoint, error);
    }
    if (!error) {
        acceptor.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        problem = error.message();
        return nullptr;
    }
    return listener;
}

void ServeHttp(HttpListener& listening, const HttpHandler& handle) {
    auto& listener = static_cast<AsioListener&>(listening);
    asio::io_context& io = listener.io_;
    const HttpSettings& settings = listener.settings_;
    Shared shared{.Settings = settings, .Handle = handle};
    Listener accepting(io, listener.acceptor_, shared);
    accepting.Accept();
    asio::steady_timer timer(io);
    WatchForInterrupt(timer, io);
    std::vector<std::thread> threads;
    for (unsigned k = 1; k < std::max(1u, settings.Threads); ++k) {
        threads.emplace_back([&io] { io.run(); });
    }
    io.run();
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void OpenInBrowser(const std::string& address) {
#if defined(_WIN32)
    std::wstring wide(address.begin(), address.end()); // the address is ASCII
    ::ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
#else
    // xdg-open, started in a process of its own so that it never waits on the server.
    pid_t child = 0;
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(address.c_str()), nullptr};
    if (::posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) == 0) {
        std::thread([child] { ::waitpid(child, nullptr, 0); }).detach();
    }
#endif
}

ErrorCode SystemRandom(void* bytes, std::size_t count) {
#if defined(_WIN32)
    NTSTATUS status = ::BCryptGenRandom(nullptr, static_cast<PUCHAR>(bytes),
                                        static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return status >= 0 ? NoError : ERROR_GEN_FAILURE;
#else
    auto* at = static_cast<unsigned char*>(bytes);
    while (count > 0) {
        ssize_t got = ::getrandom(at, count, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return static_cast<ErrorCode>(errno);
        }
        at += got;
        count -= static_cast<std::size_t>(got);
    }
    return NoError;
#endif
}

} // namespace platform
