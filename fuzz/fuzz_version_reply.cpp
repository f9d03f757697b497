// The version reply over any body: only the first bytes count, and only the
// two words at its very start mean anything.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "online/version_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using orvex::VersionReply;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const VersionReply reply = orvex::ClassifyVersionReply(body);
  VersionReply expected = VersionReply::kCurrent;
  if (body.substr(0, 5) == "_tell") {
    expected = VersionReply::kNewVersion;
  } else if (body.substr(0, 5) == "_must") {
    expected = VersionReply::kMustUpdate;
  }
  if (reply != expected) std::abort();
  // Whatever follows the first bytes changes nothing.
  std::string longer(body.substr(0, orvex::kVersionReplyBytes));
  longer.append(200, '\0');
  longer += "_tell";
  if (orvex::ClassifyVersionReply(longer) != reply) std::abort();
  return 0;
}
