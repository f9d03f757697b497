#pragma once
// Paths and files as the whole program handles them: one way to join a path,
// to replace a file safely, and to remove a folder of our own. Plain POSIX,
// no Qt.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace orvex {

// Joins a folder and a name with one separator; an empty folder gives the
// name alone.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder part of a path up to its last separator ("." when it has none).
std::string FolderOf(const std::string& path);

// Writes all of data to fd, going on after interruptions.
bool WriteAll(int fd, std::string_view data);

// Replaces path with a file holding data, through a temporary file
// "<path>.tmp-XXXXXX" beside it that is flushed to the disk and renamed over
// the old one, so a crash leaves either the old file or the new one. Returns
// 0, or the error number of the step that failed; on failure the old file is
// untouched and the temporary file is gone.
int ReplaceFile(const std::string& path, std::string_view data, mode_t mode);

// Removes "<path>.tmp-XXXXXX" files that a killed save left behind, matched
// by that exact pattern and only when older than minAgeSeconds, so a save in
// progress in another copy of the program is left alone.
void RemoveStaleTemporaryFiles(const std::string& path, int minAgeSeconds);

// Creates every folder on the path up to its last separator, and the path
// itself when createLast is set, private to the user. Failures are ignored.
void CreateParentFolders(const std::string& path, bool createLast);

// Deletes the folder and everything in it. A symbolic link inside is removed
// as a link; what it points to is left alone. Failures are ignored.
void DeleteFolderTree(const std::string& folder);

// The process's file mode creation mask, read without changing it.
mode_t CurrentUmask();

}  // namespace orvex
