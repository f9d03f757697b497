#pragma once
// Addresses on the vendor's web server and the other pages the program points
// the user at. Every vendor address is a base ("http://<host>/") followed by a
// path under the product folder "orvex/"; the functions take the base so that
// tests can aim them at a server of their own.

#include <cstdint>
#include <string>
#include <string_view>

namespace orvex {

// The program's own version, as it stands in the request paths and the caption.
inline constexpr std::string_view kProgramVersion = "2.2.3";

// "http://" + the vendor host the build was configured with (ORVEX_VENDOR_HOST) + "/".
std::string VendorBaseUrl();
// "http://" + host + "/".
std::string VendorBaseUrl(std::string_view host);

// Base and path joined with exactly one "/" between them.
std::string VendorUrl(std::string_view base, std::string_view path);

// Asked once per start: "orvex/ver.php?ver=2.2.3&trial=0".
std::string VersionCheckUrl(std::string_view base);
// Sent once per start: "orvex/usageLog.php?ver=2.2.3&os=<major>.<minor>".
std::string UsageReportUrl(std::string_view base, int32_t osMajor, int32_t osMinor);
// The page of the web page panel: "orvex/ad.htm".
std::string AdPageUrl(std::string_view base);
// The product's home page: "orvex/".
std::string HomePageUrl(std::string_view base);
// The listening-material page: "orvex/res.htm".
std::string ListeningMaterialUrl(std::string_view base);
// The tools page: "orvex/tool.htm".
std::string ToolsPageUrl(std::string_view base);
// The download page of the newest version: "orvex/download.htm".
std::string DownloadPageUrl(std::string_view base);

// The maker's blog and the donation page live on hosts of their own, chosen by
// the packager (CMake cache variables ORVEX_BLOG_URL and ORVEX_DONATION_URL).
std::string BlogUrl();
std::string DonationUrl();

}  // namespace orvex
