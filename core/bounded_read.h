#pragma once
// Reading a small file of our own or of the user's whole, but never more than
// a limit, for the LRC reader and the cache.

#include <cstddef>
#include <optional>
#include <string>

namespace orvex {

// Reads the open file fd from where it stands to its end, but at most
// limit + 1 bytes, so a result longer than limit tells a file that is too
// large (or grew while it was read). Gives 0, or the error number of a
// failed read (out then holds what came before it).
int ReadAtMost(int fd, size_t limit, std::string& out);

// The whole of one of the program's own small files; nothing when it is
// missing, a link, not a regular file (never waiting on a pipe), larger
// than limit or unreadable.
std::optional<std::string> ReadOwnSmallFile(const std::string& path, size_t limit);

}  // namespace orvex
