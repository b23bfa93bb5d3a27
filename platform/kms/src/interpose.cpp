// ioctl and mmap as the process sees them: requests on a virtual device node go to the
// device, everything else to the kernel. Raw system calls, so no lookup of the next
// definition is needed (and none can recurse while a sanitizer starts up).
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>

#include "device_state.h"

extern "C" {

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) __THROW {
  va_list args;
  va_start(args, request);
  void* arg = va_arg(args, void*);
  va_end(args);
  int result = 0;
  if (vkms::handleIoctl(fd, request, arg, &result)) return result;
  return static_cast<int>(syscall(SYS_ioctl, fd, request, arg));
}

__attribute__((visibility("default"))) void* mmap(void* addr, size_t length, int prot, int flags, int fd,
                                                  off_t offset) __THROW {
  void* out = MAP_FAILED;
  if (vkms::handleMmap(addr, length, prot, flags, fd, offset, &out)) return out;
  return reinterpret_cast<void*>(syscall(SYS_mmap, addr, length, prot, flags, fd, offset));
}

__attribute__((visibility("default"))) void* mmap64(void* addr, size_t length, int prot, int flags, int fd,
                                                    off64_t offset) __THROW {
  return mmap(addr, length, prot, flags, fd, offset);
}

}  // extern "C"
