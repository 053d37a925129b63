#pragma once

#include <string>

namespace sonoprog::records {

// Whether a --records value or [Records] Database names a PostgreSQL server
// ("postgresql://..." or "postgres://...") rather than a file.
bool isServerAddress(const std::string& location);

// The address fit to show: the password taken out wherever the client
// library would find one (user:password@, a password= parameter, its name
// percent-encoded or not). Nothing prints an address without it.
std::string addressForDisplay(const std::string& address);

// A message about `address` (the client library's own, which may quote the
// address or a piece of it) fit to show: the address as addressForDisplay()
// shows it, and no quoted piece or run of text that is, or is part of, the
// password (as written or percent-decoded).
std::string hideSecrets(std::string text, const std::string& address);

}  // namespace sonoprog::records
