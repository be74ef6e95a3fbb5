#include "census/batch/standard_descriptors.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace census {

void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is fd itself, since those below are open.
    const int opened = ::open("/dev/null", O_RDONLY | O_NOCTTY);
    if (opened != fd) std::_Exit(4);  // no /dev/null: nothing safe can be done
  }
}

}  // namespace census
