#pragma once
// Pieces of opening a file that stand apart from the application object.

#include <cstdint>
#include <functional>
#include <string>

#include "core/shell.h"

namespace orvex {

// The repair tool beside the program, with "-f" and the file: each path is one
// argument, whatever it contains. The tool keeps its temporary files in
// temporaryFolder when one is given.
RepairCommand MakeRepairCommand(const std::string& programFolder, const std::string& filePath,
                                const std::string& temporaryFolder = {});

// The file name of a path without its last extension ("lesson 1" for
// ".../lesson 1.mp3").
std::string FileTitle(const std::string& path);

// The extension of a path's file-name part, from its last dot; empty when the
// name has none.
std::string FindExtension(const std::string& path);

// True for ".mp3" in any letter case.
bool IsMp3Name(const std::string& path);

// The start-up check that the repair tool lies beside the program.
bool FileCheck(const std::string& programFolder);

// The warning sound for a rejected drop: "chord.wav" in the program folder,
// played synchronously by playSync when it exists and holds 1 to 1 048 575
// bytes. Returns 1 when it was played, 0 otherwise. Runs on its own thread and
// touches nothing shared.
int PlayRejectSound(const std::string& programFolder,
                    const std::function<bool(const std::string&)>& playSync);

}  // namespace orvex
