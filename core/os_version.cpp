#include "core/os_version.h"

#include <sys/utsname.h>

#include <cstdio>

namespace orvex {

OsVersion ReadOsVersion() {
  OsVersion version;
  utsname name{};
  if (uname(&name) == 0) {
    int major = 0;
    int minor = 0;
    if (std::sscanf(name.release, "%d.%d", &major, &minor) >= 1) {
      version.major = major;
      version.minor = minor;
    }
  }
  return version;
}

}  // namespace orvex
