#include "kvix_standin.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvix {

KvixStandin::KvixStandin() { previous_ = XqvUtils::set_kvix_driver(this); }

KvixStandin::~KvixStandin() { XqvUtils::set_kvix_driver(previous_); }

int KvixStandin::request(int, unsigned long code, void* record) {
  const size_t size = (code >> 16) & 0x3FFF;  // the size field of the ioctl encoding
  const auto* bytes = static_cast<const uint8_t*>(record);
  requests.push_back({code, std::vector<uint8_t>(bytes, bytes + size)});
  if (auto f = failures_.find(code); f != failures_.end()) {
    errno = f->second;
    return -1;
  }
  switch (code) {
    case XqvUtils::KVIX_IOCTL_ALLOC_DMABUF: {
      auto* r = static_cast<XqvUtils::kvix_alloc_dmabuf*>(record);
      const int fd = memfd_create("kvix-dmabuf", MFD_CLOEXEC);
      if (fd < 0 || ftruncate(fd, r->size) != 0) return -1;
      buffers.push_back(fd);
      device_values_[fd] = next_device_value;
      next_device_value += 0x1000u + r->size;
      r->dmabuf_fd = static_cast<uint32_t>(fd);
      return 0;
    }
    case XqvUtils::KVIX_IOCTL_GET_DMABUF_INFO: {
      auto* r = static_cast<XqvUtils::kvix_dmabuf_info*>(record);
      auto it = device_values_.find(static_cast<int>(r->dmabuf_fd));
      if (it == device_values_.end()) {
        errno = EBADF;
        return -1;
      }
      r->device_value = it->second;
      return 0;
    }
    case XqvUtils::KVIX_IOCTL_MAP_DMABUF:
      selected_ = static_cast<int>(static_cast<XqvUtils::kvix_map_dmabuf*>(record)->dmabuf_fd);
      return 0;
    case XqvUtils::KVIX_IOCTL_START_IRQ_HANDLING:
    case XqvUtils::KVIX_IOCTL_STOP_IRQ_HANDLING:
    case XqvUtils::KVIX_IOCTL_ENQ_FRMBUF_ADDR:
      return 0;
    default:
      errno = ENOTTY;
      return -1;
  }
}

void* KvixStandin::map(int, size_t length) {
  if (selected_ < 0) {
    errno = EINVAL;
    return MAP_FAILED;
  }
  return mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, selected_, 0);
}

}  // namespace kvix
