#pragma once
// Which proxy a vendor request goes through: the one the desktop's environment
// names (http_proxy, https_proxy, no_proxy, or the same in capitals), read at
// every request. Loopback addresses and localhost are always reached directly.

#include <string>
#include <string_view>

namespace orvex {

struct ProxyEnvironment {
  std::string httpProxy;   // http_proxy, else HTTP_PROXY
  std::string httpsProxy;  // https_proxy, else HTTPS_PROXY
  std::string noProxy;     // no_proxy, else NO_PROXY
};

// The three settings as the process's environment has them now.
ProxyEnvironment ReadProxyEnvironment();

// 127.0.0.0/8, ::1, an IPv4-mapped loopback address or "localhost" (any case).
bool IsLoopbackHost(std::string_view host);

// The proxy for a request to `host` (no brackets around an IPv6 address) over
// `scheme`, as "http://[user:password@]host[:port]", or "" for a direct
// connection. A proxy is always spoken to in plain HTTP (port 1080 unless the
// setting names one). no_proxy lists host names or domains separated by commas
// ("example.org" and ".example.org" both cover www.example.org), or "*" for
// every host. A setting without a host means a direct connection.
std::string ProxyFor(std::string_view scheme, std::string_view host, const ProxyEnvironment& env);

}  // namespace orvex
