// Device access of the capture utility layer: DMA buffers of the capture driver, windows
// on physical memory, UIO interrupt enabling, a one-shot timer, the driver's interrupt
// events and a single-instance pid lock. Failures are logged and leave the object empty
// (descriptor -1, address MAP_FAILED).
#pragma once

#include <sys/mman.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/system/error_code.hpp>

#include "xqv/export.h"

namespace XqvUtils {

// Maps the physical range [physical, physical + *length): returns the address of
// `physical` inside the mapping (null on failure), stores the mapping's start in *base and
// the mapped length (whole pages covering the range) in *length, for munmap.
XQV_API void* memory_map(uint64_t physical, uint64_t* length, void** base);

// Window on physical memory [first, last] through "/dev/mem".
class XQV_API UserMM {
 public:
  UserMM(uint64_t first, uint64_t last, bool read_only);
  ~UserMM();
  UserMM(const UserMM&) = delete;
  UserMM& operator=(const UserMM&) = delete;

  int fd() const { return fd_; }
  size_t length() const { return length_; }
  void* address() const { return address_; }
  void* last_byte() const { return last_byte_; }

 private:
  int fd_ = -1;
  size_t length_ = 0;
  void* address_ = MAP_FAILED;
  void* last_byte_ = nullptr;
};

// One DMA buffer of the capture driver, or a borrowed view on one.
class XQV_API DMABuffer {
 public:
  DMABuffer(int size, bool map, uint8_t flag);
  // Borrowed view on memory that exists already.
  DMABuffer(void* address, uint64_t device_value, uint64_t size);
  // Borrowed view into the parent at a byte offset.
  DMABuffer(const DMABuffer& parent, int offset);
  ~DMABuffer();
  // Owns a descriptor and a mapping: moves only.
  DMABuffer(const DMABuffer&) = delete;
  DMABuffer& operator=(const DMABuffer&) = delete;
  DMABuffer(DMABuffer&& other) noexcept;
  DMABuffer& operator=(DMABuffer&& other) noexcept;

  int fd() const { return fd_; }
  size_t length() const { return length_; }
  void* address() const { return address_; }
  uint64_t device_value() const { return device_value_; }
  uint64_t size() const { return size_; }
  bool borrowed() const { return borrowed_; }

 private:
  void release();

  int fd_ = -1;
  size_t length_ = 0;
  void* address_ = MAP_FAILED;
  uint64_t device_value_ = 0;
  uint64_t size_ = 0;
  bool borrowed_ = false;
};

// Writes the value as one 4-byte word to a UIO descriptor.
XQV_API void uio_enable_irq(int fd, uint8_t value);
// Arms a timer descriptor once, relative; 0 disarms it.
XQV_API void SetNextTimer(int timerfd, int64_t microseconds);

// Interrupt events of the capture driver: a 4-byte word per event read from a stream
// descriptor that the owner creates and sets, delivered to the callback on the thread that
// runs the descriptor's I/O context.
//
// Stop() and the destructor may be called from any thread, the callback's own included:
// once they return no callback starts, and one running on another thread has finished.
// A callback may therefore stop or delete its own handler.
class XQV_API IrqHandler {
 public:
  using Callback = std::function<void(uint32_t)>;
  using Descriptor = std::shared_ptr<boost::asio::posix::stream_descriptor>;

  IrqHandler(int id, const char* name, uint64_t a, uint64_t b);
  ~IrqHandler();
  IrqHandler(const IrqHandler&) = delete;
  IrqHandler& operator=(const IrqHandler&) = delete;

  void set_callback(Callback callback);
  void set_descriptor(Descriptor descriptor);
  Descriptor descriptor() const;
  int device_fd() const { return fd_; }

  void _Start(uint8_t argument);
  // record: 16 bytes passed on to the driver as they are.
  void EnqueueFrameBuffer(uint32_t a, const void* record, uint16_t b);
  void Stop();
  // Starts reading (again, after a Stop and a new descriptor).
  void PostRead();
  void OnHandleEvent(const boost::system::error_code& error, size_t bytes);

 private:
  // Shared with the pending read, so that it outlives the handler: the descriptor, the
  // callback, the receive word and the stop state, under one mutex.
  struct ReadState;
  __attribute__((visibility("hidden"))) static void Read(const std::shared_ptr<ReadState>& state);

  uint8_t id_;
  std::string name_;
  uint64_t a_, b_;
  int fd_ = -1;
  std::shared_ptr<ReadState> state_;
};

// Single-instance lock on "/var/run/<name>.pid"; *fd is -1 when not taken.
XQV_API void Singleton(int* fd, const char* name);
XQV_API void SingletonRelease(int* fd);

}  // namespace XqvUtils
