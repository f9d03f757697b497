#pragma once
// Reading a small file of our own or of the user's whole, but never more than
// a limit, for the LRC reader and the cache.

#include <cstddef>
#include <string>

namespace orvex {

// Reads the open file fd from where it stands to its end, but at most
// limit + 1 bytes, so a result longer than limit tells a file that is too
// large (or grew while it was read). Gives 0, or the error number of a
// failed read (out then holds what came before it).
int ReadAtMost(int fd, size_t limit, std::string& out);

}  // namespace orvex
