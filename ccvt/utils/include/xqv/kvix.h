// Requests of the capture driver on "/dev/kvix" (Linux ioctl encoding, type 'g'; records
// packed, little-endian) and the seam through which the layer reaches the driver.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xqv/export.h"

namespace XqvUtils {

inline constexpr unsigned long KVIX_IOCTL_GET_DMABUF_INFO = 0xC00C6700;
inline constexpr unsigned long KVIX_IOCTL_ALLOC_DMABUF = 0xC00D6701;
inline constexpr unsigned long KVIX_IOCTL_MAP_DMABUF = 0xC0046702;  // selects the buffer to map
inline constexpr unsigned long KVIX_IOCTL_START_IRQ_HANDLING = 0x402A6703;
inline constexpr unsigned long KVIX_IOCTL_STOP_IRQ_HANDLING = 0x40026704;
inline constexpr unsigned long KVIX_IOCTL_ENQ_FRMBUF_ADDR = 0x40166705;

#pragma pack(push, 1)
struct kvix_dmabuf_info {
  uint32_t dmabuf_fd;  // in
  uint32_t unused;
  uint32_t device_value;  // out
};
struct kvix_alloc_dmabuf {
  uint32_t zero;
  uint32_t size;  // whole pages
  uint8_t flag;
  uint32_t dmabuf_fd;  // out
};
struct kvix_map_dmabuf {
  uint32_t dmabuf_fd;
};
struct kvix_start_irq {
  uint8_t id;
  char name[32];  // NUL-terminated
  uint32_t value_a;
  uint32_t value_b;
  uint8_t argument;
};
struct kvix_stop_irq {
  uint16_t zero;
};
struct kvix_enq_frmbuf {
  uint16_t b;
  uint32_t a;
  uint8_t record[16];
};
#pragma pack(pop)

static_assert(sizeof(kvix_dmabuf_info) == 12 && sizeof(kvix_alloc_dmabuf) == 13 &&
              sizeof(kvix_map_dmabuf) == 4 && sizeof(kvix_start_irq) == 42 &&
              sizeof(kvix_stop_irq) == 2 && sizeof(kvix_enq_frmbuf) == 22);

// How the layer reaches the driver: by default ioctl(2) and mmap(2) on its descriptor.
class XQV_API KvixDriver {
 public:
  virtual ~KvixDriver();
  // ioctl semantics: -1 with errno on failure.
  virtual int request(int fd, unsigned long code, void* record);
  // Shared read-write mapping of the buffer the driver selected, at offset 0;
  // MAP_FAILED with errno on failure.
  virtual void* map(int fd, size_t length);
};

// The driver in use; set_kvix_driver(nullptr) restores the system calls. Returns the
// previous one.
XQV_API KvixDriver& kvix_driver();
XQV_API KvixDriver* set_kvix_driver(KvixDriver* driver);

}  // namespace XqvUtils
