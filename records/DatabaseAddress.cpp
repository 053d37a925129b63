#include "records/DatabaseAddress.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

namespace sonoprog::records {

namespace {

constexpr std::string_view kHidden = "***";

// Where the authority starts: after "scheme://"; npos for no such address.
std::size_t authorityStart(const std::string& address) {
    const auto scheme = address.find("://");
    return scheme == std::string::npos ? scheme : scheme + 3;
}

// The client library takes user[:password]@ from the text before the first
// '@', as long as no '/' comes first; the password runs from the first ':'.
// A password written with a bare '/' or '@' is no address the library reads,
// but it is a password all the same, and is taken whole for hiding: after the
// user's colon, up to the last '@' before the path and the parameters.
struct UserInfo {
    std::size_t colon = std::string::npos;  // of the password; npos: none
    std::size_t at = std::string::npos;
};

UserInfo userInfo(const std::string& address) {
    constexpr auto npos = std::string::npos;
    UserInfo info;
    const auto start = authorityStart(address);
    if (start == npos) return info;
    auto stop = address.find_first_of("@/", start);
    const auto colon = address.find(':', start);
    if (stop != npos && address[stop] == '/' && colon < stop) {
        const auto at = address.find('@', colon);
        if (at != npos && address.find('?', colon) > at) stop = at;
    }
    if (stop == npos || address[stop] != '@') return info;
    for (auto next = address.find('@', stop + 1);
         next != npos && next < address.find_first_of("/?", stop + 1);
         next = address.find('@', next + 1))
        stop = next;
    info.at = stop;
    if (colon < stop) info.colon = colon;
    return info;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return out;
}

bool isPasswordKey(std::string_view key) {
    const auto decoded = percentDecoded(key);
    std::string name = decoded ? *decoded : std::string(key);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // The client key's passphrase is as secret as the password.
    return name == "password" || name == "sslpassword";
}

struct Parameter {
    std::size_t begin;  // of "key=value"
    std::size_t end;
    std::size_t equals;
};

// The query's parameters, after the user information (whose password may hold a '?').
std::vector<Parameter> parameters(const std::string& address) {
    std::vector<Parameter> list;
    const auto start = authorityStart(address);
    if (start == std::string::npos) return list;
    const auto info = userInfo(address);
    const auto query = address.find('?', info.at == std::string::npos ? start : info.at);
    if (query == std::string::npos) return list;
    for (std::size_t begin = query + 1; begin <= address.size();) {
        auto end = address.find('&', begin);
        if (end == std::string::npos) end = address.size();
        list.push_back({begin, end, address.find('=', begin)});
        begin = end + 1;
    }
    return list;
}

// Every form the password takes in the address: as written and decoded.
std::vector<std::string> secretsOf(const std::string& address) {
    std::vector<std::string> raw;
    const auto info = userInfo(address);
    if (info.colon != std::string::npos)
        raw.push_back(address.substr(info.colon + 1, info.at - info.colon - 1));
    for (const auto& p : parameters(address)) {
        if (p.equals >= p.end) continue;
        if (isPasswordKey(std::string_view(address).substr(p.begin, p.equals - p.begin)))
            raw.push_back(address.substr(p.equals + 1, p.end - p.equals - 1));
    }
    std::vector<std::string> all;
    for (const auto& r : raw) {
        if (r.empty()) continue;
        all.push_back(r);
        if (auto decoded = percentDecoded(r); decoded && !decoded->empty() && *decoded != r)
            all.push_back(*decoded);
    }
    return all;
}

void replaceAll(std::string& text, const std::string& from, std::string_view to) {
    if (from.empty()) return;
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

}  // namespace

bool isServerAddress(const std::string& location) {
    return location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0;
}

std::string addressForDisplay(const std::string& address) {
    std::string shown = address;
    const auto info = userInfo(address);
    if (info.colon != std::string::npos) shown.erase(info.colon, info.at - info.colon);
    const auto list = parameters(shown);
    if (list.empty()) return shown;
    // The query again without its password parameters.
    std::string query;
    for (const auto& p : list) {
        const auto keyEnd = std::min(p.equals, p.end);
        if (isPasswordKey(std::string_view(shown).substr(p.begin, keyEnd - p.begin))) continue;
        query += (query.empty() ? "?" : "&") + shown.substr(p.begin, p.end - p.begin);
    }
    return shown.substr(0, list.front().begin - 1) + query;
}

std::string hideSecrets(std::string text, const std::string& address) {
    if (address.empty()) return text;
    const std::string shown = addressForDisplay(address);
    if (shown != address) replaceAll(text, address, shown);
    const auto secrets = secretsOf(address);
    if (secrets.empty()) return text;
    // A quoted piece (the library quotes the token it could not read) goes
    // when it holds any part of the password, however short.
    for (std::size_t open = text.find('"'); open != std::string::npos;) {
        const auto close = text.find('"', open + 1);
        if (close == std::string::npos) break;
        const std::string piece = text.substr(open + 1, close - open - 1);
        bool secret = false;
        for (const auto& s : secrets)
            secret = secret || (!piece.empty() && (s.find(piece) != std::string::npos ||
                                                   piece.find(s) != std::string::npos));
        if (secret) {
            text.replace(open + 1, piece.size(), kHidden);
            open = text.find('"', open + 1 + kHidden.size() + 1);
        } else {
            open = text.find('"', close + 1);
        }
    }
    // Elsewhere, every whole occurrence; a password of a letter or two would
    // take the words of the message with it.
    for (const auto& s : secrets)
        if (s.size() >= 3) replaceAll(text, s, kHidden);
    return text;
}

}  // namespace sonoprog::records
