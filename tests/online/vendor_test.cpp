#include "online/vendor.h"

#include <gtest/gtest.h>

namespace orvex {
namespace {

const std::string kBase = "http://127.0.0.1:8080/";

TEST(VendorAddresses, BaseIsHttpOnTheConfiguredHost) {
  EXPECT_EQ(VendorBaseUrl("downloads.example.org"), "http://downloads.example.org/");
  EXPECT_EQ(VendorBaseUrl(), std::string("http://") + ORVEX_VENDOR_HOST + "/");
}

TEST(VendorAddresses, RequestsOfTheProgramCarryItsVersion) {
  EXPECT_EQ(VersionCheckUrl(kBase), "http://127.0.0.1:8080/orvex/ver.php?ver=2.2.3&trial=0");
  EXPECT_EQ(UsageReportUrl(kBase, 6, 1),
            "http://127.0.0.1:8080/orvex/usageLog.php?ver=2.2.3&os=6.1");
  EXPECT_EQ(UsageReportUrl(kBase, 10, 0),
            "http://127.0.0.1:8080/orvex/usageLog.php?ver=2.2.3&os=10.0");
}

TEST(VendorAddresses, PagesUnderTheProductFolder) {
  EXPECT_EQ(AdPageUrl(kBase), "http://127.0.0.1:8080/orvex/ad.htm");
  EXPECT_EQ(HomePageUrl(kBase), "http://127.0.0.1:8080/orvex/");
  EXPECT_EQ(ListeningMaterialUrl(kBase), "http://127.0.0.1:8080/orvex/res.htm");
  EXPECT_EQ(ToolsPageUrl(kBase), "http://127.0.0.1:8080/orvex/tool.htm");
  EXPECT_EQ(DownloadPageUrl(kBase), "http://127.0.0.1:8080/orvex/download.htm");
}

TEST(VendorAddresses, BaseAndPathJoinWithOneSlash) {
  EXPECT_EQ(VendorUrl("http://h", "orvex/ad.htm"), "http://h/orvex/ad.htm");
  EXPECT_EQ(VendorUrl("http://h/", "/orvex/ad.htm"), "http://h/orvex/ad.htm");
  EXPECT_EQ(AdPageUrl("http://h:81"), "http://h:81/orvex/ad.htm");
}

TEST(VendorAddresses, BlogAndDonationAreWebAddressesOfTheirOwn) {
  for (const std::string& url : {BlogUrl(), DonationUrl()}) {
    EXPECT_TRUE(url.starts_with("http://") || url.starts_with("https://")) << url;
    EXPECT_EQ(url.find(ORVEX_VENDOR_HOST), std::string::npos) << url;
  }
  EXPECT_NE(BlogUrl(), DonationUrl());
}

}  // namespace
}  // namespace orvex
