#pragma once
// A small RFC 2217 server of the tests' own on 127.0.0.1: it answers the
// option negotiation as told, confirms the settings it is asked for (all but
// those told to stay silent), echoes data, records everything a client sent,
// and sends whatever a test hands it (notifications, malformed Telnet). One
// client at a time, served by a thread of its own.

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace cport::device::testing {

class Rfc2217Server {
  public:
    enum class Negotiation { kAccept, kRefuse, kSilent };
    struct Options {
        Negotiation negotiation = Negotiation::kAccept;
        bool echo = true;
        std::vector<std::uint8_t> unanswered;  // SET-CONTROL values left unconfirmed
        std::string signature = "test server 1.0";
    };

    explicit Rfc2217Server(Options options);
    ~Rfc2217Server();

    std::uint16_t Port() const { return port_; }
    std::string Url() const;
    // Sends raw bytes to the client now connected.
    void SendRaw(const std::string& bytes);
    // The COM-PORT subnegotiations the client sent (command and value), and
    // the data, unescaped.
    std::vector<std::vector<std::uint8_t>> Requests() const;
    std::string Data() const;
    // Ends the client's connection.
    void Drop();

  private:
    void Serve();
    void Take(int client, const std::uint8_t* bytes, std::size_t n);

    Options options_;
    int listener_ = -1;
    int stop_ = -1;  // eventfd
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    int client_ = -1;
    std::vector<std::vector<std::uint8_t>> requests_;
    std::string data_;
    std::thread thread_;
    // The parse of the client's bytes.
    int state_ = 0;
    std::vector<std::uint8_t> sub_;
};

}  // namespace cport::device::testing
