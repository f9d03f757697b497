#pragma once
// Paths and files as the whole program handles them: where the user's
// folders are, one way to join a path, to replace a file safely, and to
// remove a folder of our own. Plain POSIX, no Qt.
//
// The program only ever deletes regular files it wrote itself: whatever else
// stands where one of its files or folders belongs is left alone.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace orvex {

// The user's home folder: $HOME when it is absolute, else the home folder of
// the user's account; empty when neither names one. No trailing slash.
std::string HomeFolder();

// The XDG base folders, without a trailing slash: the variable when it is set
// and absolute, else its default below the home folder; empty when there is
// no home folder either.
std::string ConfigFolder();  // $XDG_CONFIG_HOME, else ~/.config
std::string CacheFolder();   // $XDG_CACHE_HOME, else ~/.cache
std::string StateFolder();   // $XDG_STATE_HOME, else ~/.local/state
std::string DataFolder();    // $XDG_DATA_HOME, else ~/.local/share

// Joins a folder and a name with one separator; an empty folder gives the
// name alone.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder part of a path up to its last separator ("." when it has none).
std::string FolderOf(const std::string& path);

// The file name of a path without its last extension ("lesson 1" for
// ".../lesson 1.mp3").
std::string FileTitle(const std::string& path);

// The extension of a path's file-name part, from its last dot; empty when the
// name has none.
std::string FindExtension(const std::string& path);

// True for ".mp3" in any letter case.
bool IsMp3Name(const std::string& path);

// Writes all of data to fd, going on after interruptions.
bool WriteAll(int fd, std::string_view data);

// Replaces path with a file holding data, through a temporary file
// "<path>.tmp-XXXXXX" beside it that is flushed to the disk and renamed over
// the old one, so a crash leaves either the old file or the new one. Returns
// 0, or the error number of the step that failed; on failure the old file is
// untouched and the temporary file is gone. Without flush nothing waits for
// the disk: a killed program still leaves the old file or the new one, but
// a system that goes down before it wrote them back may lose the new one
// (see FlushFile).
int ReplaceFile(const std::string& path, std::string_view data, mode_t mode, bool flush = true);

// Makes a regular file at path (not a link) and its name in its folder
// durable on the disk. 0, or the error number of the step that failed.
int FlushFile(const std::string& path);

// Whether name is prefix followed by the six letters or digits that mkstemp
// and mkdtemp put in place of XXXXXX.
bool IsTemporaryName(std::string_view name, std::string_view prefix);

// A temporary file of a save older than this was left by a save that was
// killed; a younger one may belong to a save under way in another copy of the
// program.
inline constexpr int kStaleTemporarySeconds = 60;

// Removes "<path>.tmp-XXXXXX" regular files of this user's that a killed save
// left behind, matched by that exact pattern and only when older than
// kStaleTemporarySeconds.
void RemoveStaleTemporaryFiles(const std::string& path);

// Saves one of the program's own files: makes the folders up to it, clears
// what killed saves left beside it and replaces it through ReplaceFile.
// Something other than a regular file or a link at path is never replaced:
// gives EISDIR for a folder and EEXIST for anything else (a pipe, a socket,
// a device), which are left as they are; a link is replaced as a link, its
// target untouched. A file where one of the folders belongs stays too, and
// gives ENOTDIR. Otherwise as ReplaceFile.
int SaveOwnFile(const std::string& path, std::string_view data, mode_t mode, bool flush = true);

// Creates every folder on the path up to its last separator, and the path
// itself when createLast is set, private to the user. Failures are ignored.
void CreateParentFolders(const std::string& path, bool createLast);

// Deletes a folder the program made and filled: its regular files and its
// sub-folders, depth first, then the folder itself. Anything else inside (a
// link, a pipe, a device) is left, and so are the folders that hold it; a
// path that is not a folder (a link to one included) is left alone.
// Failures are ignored.
void DeleteFolderTree(const std::string& folder);

// The process's file mode creation mask, read without changing it.
mode_t CurrentUmask();

}  // namespace orvex
