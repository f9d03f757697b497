#include "online/vendor.h"

#include "online/vendor_links.h"

#ifndef ORVEX_VENDOR_HOST
#error "ORVEX_VENDOR_HOST must be defined by the build"
#endif

namespace orvex {

std::string VendorBaseUrl() {
  return VendorBaseUrl(ORVEX_VENDOR_HOST);
}

std::string VendorBaseUrl(std::string_view host) {
  std::string url = "http://";
  url += host;
  url += '/';
  return url;
}

std::string VendorUrl(std::string_view base, std::string_view path) {
  std::string url(base);
  if (url.empty() || url.back() != '/') url += '/';
  while (!path.empty() && path.front() == '/') path.remove_prefix(1);
  url += path;
  return url;
}

std::string VersionCheckUrl(std::string_view base) {
  std::string path = "orvex/ver.php?ver=";
  path += kProgramVersion;
  path += "&trial=0";
  return VendorUrl(base, path);
}

std::string UsageReportUrl(std::string_view base, int32_t osMajor, int32_t osMinor) {
  std::string path = "orvex/usageLog.php?ver=";
  path += kProgramVersion;
  path += "&os=" + std::to_string(osMajor) + "." + std::to_string(osMinor);
  return VendorUrl(base, path);
}

std::string AdPageUrl(std::string_view base) {
  return VendorUrl(base, "orvex/ad.htm");
}
std::string HomePageUrl(std::string_view base) {
  return VendorUrl(base, "orvex/");
}
std::string ListeningMaterialUrl(std::string_view base) {
  return VendorUrl(base, "orvex/res.htm");
}
std::string ToolsPageUrl(std::string_view base) {
  return VendorUrl(base, "orvex/tool.htm");
}
std::string DownloadPageUrl(std::string_view base) {
  return VendorUrl(base, "orvex/download.htm");
}

std::string BlogUrl() {
  return ORVEX_BLOG_URL;
}
std::string DonationUrl() {
  return ORVEX_DONATION_URL;
}

}  // namespace orvex
