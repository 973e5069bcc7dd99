#include "http_client.h"

#include "test_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>

namespace testing_support {
namespace {

int Connect(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        throw std::runtime_error("cannot connect to port " + std::to_string(port));
    }
    timeval patience{30, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    return fd;
}

bool SendAll(int fd, const std::string& text) {
    for (std::size_t sent = 0; sent < text.size();) {
        ssize_t put = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
            return false;
        }
        sent += static_cast<std::size_t>(put);
    }
    return true;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    return text;
}

} // namespace

HttpAnswer Exchange(std::uint16_t port, const std::string& request) {
    int fd = Connect(port);
    HttpAnswer answer;
    if (!SendAll(fd, request)) {
        ::close(fd);
        return answer;
    }
    std::string received;
    char buffer[65536];
    while (true) {
        ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    std::size_t end = received.find("\r\n\r\n");
    if (!received.starts_with("HTTP/1.1 ") || end == std::string::npos) {
        return answer;
    }
    answer.Status = std::stoi(received.substr(9, 3));
    for (std::size_t at = received.find("\r\n") + 2; at < end;) {
        std::size_t next = received.find("\r\n", at);
        std::string line = received.substr(at, next - at);
        std::size_t colon = line.find(':');
        std::size_t value = line.find_first_not_of(' ', colon + 1);
        answer.Headers[Lower(line.substr(0, colon))] =
            value == std::string::npos ? "" : line.substr(value);
        at = next + 2;
    }
    answer.Body = received.substr(end + 4);
    auto length = answer.Headers.find("content-length");
    bool head = request.starts_with("HEAD ");
    if (length != answer.Headers.end() && !head) {
        answer.Whole = answer.Body.size() == std::stoull(length->second);
    }
    if (answer.Headers["transfer-encoding"] == "chunked") {
        std::string body;
        answer.Whole = false;
        for (std::size_t at = 0; at < answer.Body.size();) {
            std::size_t line = answer.Body.find("\r\n", at);
            std::size_t size = std::stoull(answer.Body.substr(at, line - at), nullptr, 16);
            if (size == 0) {
                answer.Whole = true;
                break;
            }
            body += answer.Body.substr(line + 2, size);
            at = line + 2 + size + 2;
        }
        answer.Body = body;
    }
    return answer;
}

HttpAnswer Get(std::uint16_t port, const std::string& token, const std::string& target,
               const std::string& moreHeaders) {
    return Exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                              "\r\nAuthorization: Bearer " + token + "\r\nConnection: close\r\n" +
                              moreHeaders + "\r\n");
}

Connection::Connection(std::uint16_t port) : socket_(Connect(port)) {}

Connection::~Connection() {
    ::close(socket_);
}

bool Connection::Send(const std::string& text) {
    return SendAll(socket_, text);
}

bool Connection::ClosedWithin(std::chrono::milliseconds time) {
    auto until = std::chrono::steady_clock::now() + time;
    char buffer[4096];
    while (std::chrono::steady_clock::now() < until) {
        pollfd wait{socket_, POLLIN, 0};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (::poll(&wait, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) {
            return false;
        }
        if (::recv(socket_, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
    }
    return false;
}

ServedTool::ServedTool(const std::filesystem::path& folder,
                       const std::vector<std::string>& arguments)
    : errors_(folder / ".served-errors") {
    std::vector<std::string> command = Command(arguments);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("no pipe");
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        int errors = ::open(errors_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(ends[1], 1);
        ::dup2(errors, 2);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(126);
        }
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
        Exec(command);
    }
    ::close(ends[1]);
    // The line that says where it serves; a server that cannot start ends without one.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    char c = 0;
    while (std::chrono::steady_clock::now() < until) {
        pollfd wait{ends[0], POLLIN, 0};
        if (::poll(&wait, 1, 1000) <= 0) {
            continue;
        }
        if (::read(ends[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        line_ += c;
    }
    ::close(ends[0]);
    if (!line_.empty() && line_.back() == '\r') {
        line_.pop_back();
    }
    std::size_t colon = line_.find("127.0.0.1:");
    std::size_t token = line_.find("#token=");
    if (colon != std::string::npos && token != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::stoi(line_.substr(colon + 10)));
        token_ = line_.substr(token + 7);
    }
}

ServedTool::~ServedTool() {
    if (pid_ > 0) {
        std::string ignored;
        Stop(ignored);
    }
}

int ServedTool::Stop(std::string& errors) {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    errors = ReadFile(errors_);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace testing_support
