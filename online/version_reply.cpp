#include "online/version_reply.h"

namespace orvex {

VersionReply ClassifyVersionReply(std::string_view body) {
  const std::string_view seen = body.substr(0, kVersionReplyBytes);
  if (seen.starts_with("_tell")) return VersionReply::kNewVersion;
  if (seen.starts_with("_must")) return VersionReply::kMustUpdate;
  return VersionReply::kCurrent;
}

}  // namespace orvex
