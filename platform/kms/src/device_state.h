// The virtual device's side of the seam: the interposed ioctl and mmap ask here first.
#pragma once

#include <cstddef>
#include <sys/types.h>

namespace vkms {

// True when fd is open on a virtual device node; *result and errno are then the answer.
bool handleIoctl(int fd, unsigned long request, void* arg, int* result);
// True when fd is open on a virtual device node; *out is the mapping or MAP_FAILED.
bool handleMmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset, void** out);

}  // namespace vkms
