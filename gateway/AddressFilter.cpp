// AddressFilter.cpp: parsing and matching of IPv4 networks. inet_pton accepts only the four-part dotted
// form, so "127.1" or "0x7f.0.0.1", which inet_aton would take, are refused instead of read surprisingly.
#include "gateway/AddressFilter.h"

#include <arpa/inet.h>

#include <charconv>

#include "common/ComError.h"
#include "common/Conversions.h"

namespace {

bool parse_ipv4(std::string_view text, uint32_t& out) {
    if (text.size() > 15) return false;
    const std::string z(text);
    in_addr a{};
    if (::inet_pton(AF_INET, z.c_str(), &a) != 1) return false;
    out = ntohl(a.s_addr);
    return true;
}

uint32_t mask_of(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }

std::string dotted(uint32_t address) {
    in_addr a{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

}  // namespace

void AddressFilter::allow(std::string_view entry) {
    const std::string trimmed = vb::trim(entry);
    const std::string_view e = trimmed;
    const size_t slash = e.find('/');
    uint32_t address = 0;
    int prefix = 32;
    bool ok = parse_ipv4(e.substr(0, slash), address);
    if (ok && slash != std::string_view::npos) {
        const std::string_view bits = e.substr(slash + 1);
        const auto [end, ec] = std::from_chars(bits.data(), bits.data() + bits.size(), prefix);
        ok = !bits.empty() && ec == std::errc() && end == bits.data() + bits.size() && prefix >= 0 && prefix <= 32;
    }
    if (!ok)
        throw ComError(kErrInvalidCall, "GatewaySettings",
                       "Allow \"" + trimmed + "\" is not an IPv4 address or network (such as 127.0.0.0/8)");
    const uint32_t mask = mask_of(prefix);
    networks_.push_back(Network{address & mask, mask, prefix});
}

void AddressFilter::allow_list(std::string_view list) {
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find_first_of(", \t", start);
        if (end == std::string_view::npos) end = list.size();
        if (end > start) allow(list.substr(start, end - start));
        start = end + 1;
    }
}

bool AddressFilter::allows(std::string_view address) const {
    if (networks_.empty()) return true;
    uint32_t a = 0;
    if (!parse_ipv4(address, a)) return false;
    for (const Network& n : networks_)
        if ((a & n.mask) == n.address) return true;
    return false;
}

std::string AddressFilter::text() const {
    std::string out;
    for (const Network& n : networks_) {
        if (!out.empty()) out += ", ";
        out += dotted(n.address) + "/" + std::to_string(n.prefix);
    }
    return out;
}

bool is_loopback_address(std::string_view address) {
    uint32_t a = 0;
    return parse_ipv4(vb::trim(address), a) && (a >> 24) == 127;
}
