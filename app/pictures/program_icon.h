#pragma once
// The program's icon: icon group 107 (window and dialogs) and, for 16 to 24 pixels, the
// simpler icon group 108. Both are SVG pictures in the program's Qt resources.

#include <QIcon>

namespace orvex {

inline constexpr char kProgramIconPath[] = ":/orvex/icons/orvexplayer.svg";             // 107
inline constexpr char kSmallProgramIconPath[] = ":/orvex/icons/orvexplayer-small.svg";  // 108

// The icon at the usual sizes (16 to 256 pixels), the small design below 32 pixels. Needs a
// QGuiApplication. Null only when the resources are missing from the build.
QIcon ProgramIcon();

}  // namespace orvex
