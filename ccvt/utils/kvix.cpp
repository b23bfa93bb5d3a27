#include "xqv/kvix.h"

#include <sys/ioctl.h>
#include <sys/mman.h>

namespace XqvUtils {

KvixDriver::~KvixDriver() = default;

int KvixDriver::request(int fd, unsigned long code, void* record) { return ioctl(fd, code, record); }

void* KvixDriver::map(int fd, size_t length) {
  return mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
}

namespace {
KvixDriver g_system_driver;
KvixDriver* g_driver = &g_system_driver;
}  // namespace

KvixDriver& kvix_driver() { return *g_driver; }

KvixDriver* set_kvix_driver(KvixDriver* driver) {
  KvixDriver* previous = g_driver;
  g_driver = driver ? driver : &g_system_driver;
  return previous;
}

}  // namespace XqvUtils
