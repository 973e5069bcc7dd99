#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// The tool's server run in the background, and plain HTTP to it over 127.0.0.1, for the tests: a
// request goes out exactly as written, so that a test can send what no client library would.
namespace testing_support {

struct HttpAnswer {
    int Status = 0;                             // 0: no answer, the connection closed first
    std::map<std::string, std::string> Headers; // names in lower case
    std::string Body;
    bool Whole = true; // the body holds the Content-Length it announced
};

// Sends request (the whole text, header and blank line) to the port and reads the answer until
// the server closes the connection or the announced length has come.
HttpAnswer Exchange(std::uint16_t port, const std::string& request);
// A GET with the token, Host and Connection: close, and any more header lines.
HttpAnswer Get(std::uint16_t port, const std::string& token, const std::string& target,
               const std::string& moreHeaders = "");
// A connection held open, which sends what it is told when it is told.
class Connection {
  public:
    explicit Connection(std::uint16_t port);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool Send(const std::string& text);
    // Whether the server has closed it (a read that ends), waiting at most for the given time.
    bool ClosedWithin(std::chrono::milliseconds time);

  private:
    int socket_ = -1;
};

// cscunpack --serve, started in folder with arguments, until Stop.
class ServedTool {
  public:
    ServedTool(const std::filesystem::path& folder, const std::vector<std::string>& arguments);
    ~ServedTool();
    ServedTool(const ServedTool&) = delete;
    ServedTool& operator=(const ServedTool&) = delete;
    // The first line of standard output ("Serving at ..."), and what it says.
    const std::string& Line() const { return line_; }
    std::uint16_t Port() const { return port_; }
    const std::string& Token() const { return token_; }
    // Sends an interrupt and waits for the end: its exit code; standard error goes to errors.
    int Stop(std::string& errors);

  private:
    int pid_ = -1;
    std::filesystem::path errors_;
    std::string line_;
    std::uint16_t port_ = 0;
    std::string token_;
};

} // namespace testing_support
