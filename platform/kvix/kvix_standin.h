// Stand-in for the capture driver behind "/dev/kvix": records each request's code and
// record bytes, hands out memory file descriptors as DMA buffers and maps the selected
// one. Installed with XqvUtils::set_kvix_driver where the real driver is absent.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "xqv/kvix.h"

namespace kvix {

class KvixStandin : public XqvUtils::KvixDriver {
 public:
  struct Request {
    unsigned long code;
    std::vector<uint8_t> bytes;  // the record as the layer sent it
  };

  KvixStandin();
  ~KvixStandin() override;

  int request(int fd, unsigned long code, void* record) override;
  void* map(int fd, size_t length) override;

  // Requests with this code fail with errno err from now on.
  void fail(unsigned long code, int err) { failures_[code] = err; }

  std::vector<Request> requests;
  uint32_t next_device_value = 0x80000000u;  // device value of the next buffer, one page apart
  std::vector<int> buffers;                  // descriptors handed out (the caller owns them)

 private:
  std::map<unsigned long, int> failures_;
  std::map<int, uint32_t> device_values_;
  int selected_ = -1;
  XqvUtils::KvixDriver* previous_ = nullptr;
};

}  // namespace kvix
