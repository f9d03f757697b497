#include "online/proxy_rule.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "core/blanks.h"

namespace orvex {
namespace {

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string Environment(const char* lower, const char* upper) {
  const char* value = std::getenv(lower);
  if (value == nullptr || *value == '\0') value = std::getenv(upper);
  return value == nullptr ? std::string() : std::string(TrimBlanks(value));
}

bool Bypassed(const std::string& host, std::string_view list) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    std::string entry = Lower(TrimBlanks(list.substr(0, comma)));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    if (entry == "*") return true;
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (host == entry) return true;
    if (host.size() > entry.size() && host.ends_with(entry) &&
        host[host.size() - entry.size() - 1] == '.') {
      return true;
    }
  }
  return false;
}

bool ValidPort(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  return std::atoi(std::string(port).c_str()) <= 65535;
}

// Whether an authority "[user:password@]host[:port]" names a host, and a port
// if any.
bool NamesHost(std::string_view authority) {
  if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view rest;
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == std::string_view::npos) return false;
    host = authority.substr(1, close - 1);
    rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
  } else if (const std::size_t colon = authority.find(':'); colon != std::string_view::npos) {
    host = authority.substr(0, colon);
    rest = authority.substr(colon);
  }
  if (rest.size() > 1 && !ValidPort(rest.substr(1))) return false;
  return !host.empty();
}

}  // namespace

ProxyEnvironment ReadProxyEnvironment() {
  return {Environment("http_proxy", "HTTP_PROXY"), Environment("https_proxy", "HTTPS_PROXY"),
          Environment("no_proxy", "NO_PROXY")};
}

bool IsLoopbackHost(std::string_view host) {
  const std::string name = Lower(host);
  if (name == "localhost") return true;
  in_addr v4{};
  if (inet_pton(AF_INET, name.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, name.c_str(), &v6) == 1) {
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
  }
  return false;
}

std::string ProxyFor(std::string_view scheme, std::string_view host, const ProxyEnvironment& env) {
  const std::string name = Lower(host);
  if (IsLoopbackHost(name) || Bypassed(name, env.noProxy)) return {};
  std::string_view setting = TrimBlanks(Lower(scheme) == "https" ? env.httpsProxy : env.httpProxy);
  if (const std::size_t schemeEnd = setting.find("://"); schemeEnd != std::string_view::npos) {
    setting.remove_prefix(schemeEnd + 3);
  }
  std::string_view authority = setting.substr(0, setting.find_first_of("/?#"));
  if (!NamesHost(authority)) return {};
  if (authority.ends_with(':')) authority.remove_suffix(1);  // an empty port: the default
  return "http://" + std::string(authority);
}

}  // namespace orvex
