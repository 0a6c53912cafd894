// AddressFilter.h: the allow-list of client addresses: IPv4 networks in CIDR form ("127.0.0.0/8") and
// single addresses ("10.1.2.3", the same as "/32"). An empty list allows every peer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class AddressFilter final {
public:
    // Adds one entry; ComError 5 naming the text when it is not an IPv4 address with an optional /0..32.
    void allow(std::string_view entry);
    // Adds every entry of a list separated by commas or blanks (the settings store's form).
    void allow_list(std::string_view list);

    bool empty() const noexcept { return networks_.empty(); }
    // Whether a peer's dotted address is allowed. A text that is not an IPv4 address (an IPv6 peer)
    // matches no entry, so it is refused whenever there is a list.
    bool allows(std::string_view address) const;
    // The entries in their canonical form, joined by ", " (for the start line and the settings store).
    std::string text() const;

private:
    struct Network {
        uint32_t address;   // host byte order, host bits cleared
        uint32_t mask;
        int prefix;
    };
    std::vector<Network> networks_;
};

// Whether a dotted listening address is a loopback one (127.0.0.0/8); the empty text (every address) is not.
bool is_loopback_address(std::string_view address);
