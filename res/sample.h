// The files that lie beside the program, made by scripts/make_res.sh.
#pragma once

namespace orvex {

// Title of the sample recording eg.mp3 (its ID3 title too); the "试听" submenu shows it.
inline constexpr char kSampleTitle[] = "Everyday English 1";

}  // namespace orvex
