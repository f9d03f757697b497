#pragma once
// Which files are lessons, by name: the extensions the player opens (in any
// letter case), the ones that keep the MP3 path, the Open dialog's filter and
// the types the launcher offers the program for. What a file really holds is
// told by its bytes (playback/format_probe.h), not by these.

#include <string>
#include <string_view>
#include <vector>

namespace orvex {

// The extensions of every lesson, with their dot, in lower case.
const std::vector<std::string_view>& LessonExtensions();

// True when the name ends in one of LessonExtensions, in any letter case.
bool IsLessonName(std::string_view path);

// True for ".mp3" in any letter case: such a name keeps the MP3 path (its
// frame scan, its two builders and its repair).
bool IsMp3LessonName(std::string_view path);

// The Open dialog's name filters, in Qt's form ("Text (*.a *.b)"): all
// lessons first, then MP3 alone with the entry's text of old, so a filter
// kept from an earlier open still selects it.
std::vector<std::string> OpenDialogFilters();
// The same joined with ";;" for QFileDialog::setNameFilter.
std::string OpenDialogFilter();

// The MIME types of the lessons, for the launcher's MimeType and the
// AppStream entry's mediatype list.
const std::vector<std::string_view>& LessonMimeTypes();

}  // namespace orvex
