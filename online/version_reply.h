#pragma once
// What the vendor server's answer to the version check means.

#include <cstddef>
#include <string_view>

namespace orvex {

enum class VersionReply {
  kCurrent,     // anything but the two words: nothing to do
  kNewVersion,  // "_tell": a newer version has been published
  kMustUpdate,  // "_must": this version is withdrawn and must be replaced
};

// Only this many bytes of the reply body are ever looked at.
inline constexpr std::size_t kVersionReplyBytes = 63;

// The reply must begin with the word, exactly and case-sensitively; "_tell" is
// tested first. Bytes past kVersionReplyBytes are ignored.
VersionReply ClassifyVersionReply(std::string_view body);

}  // namespace orvex
