#include "xqv/device.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/system/system_error.hpp>

#include "common/fixed_path.h"
#include "xqv/kvix.h"
#include "xqv/log.h"

namespace XqvUtils {

namespace {

uint64_t page_size() { return static_cast<uint64_t>(sysconf(_SC_PAGESIZE)); }
uint64_t round_up_pages(uint64_t n) { return (n + page_size() - 1) / page_size() * page_size(); }

}  // namespace

void* memory_map(uint64_t physical, uint64_t* length, void** base) {
  const int fd = open(tarnvik::fixedPath("/dev/mem").c_str(), O_RDWR | O_SYNC);
  if (fd < 0) {
    XQV_DEBUG("open failed");
    return nullptr;
  }
  // The whole range, from its page start to its end rounded up to whole pages.
  const uint64_t start = physical / page_size() * page_size();
  const uint64_t mapped = round_up_pages(physical - start + *length);
  void* p = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(start));
  if (p == MAP_FAILED) {
    XQV_DEBUG("mmap failed");
    close(fd);
    return nullptr;
  }
  close(fd);
  *base = p;
  *length = mapped;
  return static_cast<uint8_t*>(p) + (physical - start);
}

UserMM::UserMM(uint64_t first, uint64_t last, bool read_only) {
  // Unchecked, a bad range or a failed open or map would be used as a valid window.
  if (last < first || first % page_size() != 0) {
    XQV_ERROR("bad range 0x%llX ~ 0x%llX", static_cast<unsigned long long>(first),
              static_cast<unsigned long long>(last));
    return;
  }
  const size_t length = round_up_pages(last - first + 1);
  const int fd = open(tarnvik::fixedPath("/dev/mem").c_str(), (read_only ? O_RDONLY : O_RDWR) | O_SYNC);
  if (fd < 0) {
    XQV_ERROR("open failed, err=%d", errno);
    return;
  }
  void* p = mmap(nullptr, length, read_only ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                 static_cast<off_t>(first));
  if (p == MAP_FAILED) {
    XQV_ERROR("mmap failed, err=%d", errno);
    close(fd);
    return;
  }
  fd_ = fd;
  length_ = length;
  address_ = p;
  last_byte_ = static_cast<uint8_t*>(p) + length - 1;
  log_debug("UserMM: %p ~ %p(0x%X) ==> fd=%d, %p ~ %p", reinterpret_cast<void*>(first),
            reinterpret_cast<void*>(last), static_cast<unsigned>(length), fd_, address_, last_byte_);
}

UserMM::~UserMM() {
  if (fd_ < 0) return;
  if (address_ != MAP_FAILED && munmap(address_, length_) != 0) XQV_ERROR("munmap failed");
  close(fd_);
}

DMABuffer::DMABuffer(int size, bool map, uint8_t flag) {
  KvixDriver& driver = kvix_driver();
  const int dev = open(tarnvik::fixedPath("/dev/kvix").c_str(), O_RDWR);
  if (dev < 0) {
    XQV_ERROR("open failed, err=%d", errno);
    return;
  }
  // A size of 0 or less is the zero-size case.
  length_ = size > 0 ? round_up_pages(static_cast<uint64_t>(size)) : 0;
  if (length_ == 0) XQV_ERROR("dmabuf_size=0!!!");
  do {
    kvix_alloc_dmabuf alloc{};
    alloc.size = static_cast<uint32_t>(length_);
    alloc.flag = flag;
    if (driver.request(dev, KVIX_IOCTL_ALLOC_DMABUF, &alloc) < 0) {
      XQV_ERROR("KVIX_IOCTL_ALLOC_DMABUF failed, err=%d", errno);
      break;
    }
    fd_ = static_cast<int>(alloc.dmabuf_fd);

    kvix_dmabuf_info info{};
    info.dmabuf_fd = static_cast<uint32_t>(fd_);
    if (driver.request(dev, KVIX_IOCTL_GET_DMABUF_INFO, &info) < 0) {
      XQV_ERROR("KVIX_IOCTL_GET_DMABUF_INFO failed, err=%d", errno);
      break;
    }
    device_value_ = info.device_value;
    size_ = size > 0 ? static_cast<uint64_t>(size) : 0;

    if (map) {
      kvix_map_dmabuf select{static_cast<uint32_t>(fd_)};
      if (driver.request(dev, KVIX_IOCTL_MAP_DMABUF, &select) < 0) {
        XQV_ERROR("KVIX_IOCTL_MAP_DMABUF failed, err=%d", errno);
        break;
      }
      void* p = driver.map(dev, length_);
      if (p == MAP_FAILED) {
        XQV_ERROR("mmap failed, err=%d", errno);
        break;
      }
      address_ = p;
    }
  } while (false);
  close(dev);
  borrowed_ = false;
}

DMABuffer::DMABuffer(void* address, uint64_t device_value, uint64_t size)
    : address_(address), device_value_(device_value), size_(size), borrowed_(true) {}

DMABuffer::DMABuffer(const DMABuffer& parent, int offset)
    : fd_(parent.fd_),
      length_(parent.length_),
      // A view of an unmapped parent stays unmapped.
      address_(parent.address_ == MAP_FAILED ? MAP_FAILED : static_cast<uint8_t*>(parent.address_) + offset),
      device_value_(parent.device_value_ + static_cast<uint64_t>(offset)),
      size_(parent.size_),
      borrowed_(true) {}

DMABuffer::DMABuffer(DMABuffer&& other) noexcept
    : fd_(other.fd_),
      length_(other.length_),
      address_(other.address_),
      device_value_(other.device_value_),
      size_(other.size_),
      borrowed_(other.borrowed_) {
  other.fd_ = -1;
  other.address_ = MAP_FAILED;
  other.borrowed_ = true;
}

DMABuffer& DMABuffer::operator=(DMABuffer&& other) noexcept {
  if (this != &other) {
    release();
    fd_ = other.fd_;
    length_ = other.length_;
    address_ = other.address_;
    device_value_ = other.device_value_;
    size_ = other.size_;
    borrowed_ = other.borrowed_;
    other.fd_ = -1;
    other.address_ = MAP_FAILED;
    other.borrowed_ = true;
  }
  return *this;
}

void DMABuffer::release() {
  if (borrowed_) return;
  if (address_ != MAP_FAILED && fd_ >= 0) {
    // Reported as the destructor's, also when a move assignment ends the old buffer.
    if (munmap(address_, length_) != 0) log_error("%s(%d): munmap failed, err=%d", "~DMABuffer", __LINE__, errno);
    address_ = MAP_FAILED;
  }
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
}

DMABuffer::~DMABuffer() { release(); }

void uio_enable_irq(int fd, uint8_t value) {
  const uint32_t word = value;
  if (write(fd, &word, sizeof word) != static_cast<ssize_t>(sizeof word)) XQV_ERROR("write(), err=%d", errno);
}

void SetNextTimer(int timerfd, int64_t microseconds) {
  itimerspec spec{};
  spec.it_value.tv_sec = static_cast<time_t>(microseconds / 1000000);
  spec.it_value.tv_nsec = static_cast<long>(microseconds % 1000000 * 1000);
  if (timerfd_settime(timerfd, 0, &spec, nullptr) != 0) XQV_ERROR("timerfd_settime failed, err = %d", errno);
}

struct IrqHandler::ReadState {
  std::mutex mutex;
  std::condition_variable idle;  // signalled when a delivery ends
  IrqHandler* owner = nullptr;   // null once the handler is destroyed
  bool stopped = false;          // no delivery starts and no read is armed
  std::thread::id delivering;    // the thread inside OnHandleEvent, none when idle
  std::shared_ptr<const Callback> callback;
  Descriptor descriptor;
  uint32_t word = 0;

  // Waits until no delivery runs, except one on this very thread (Stop or delete from
  // inside the callback).
  void wait_idle(std::unique_lock<std::mutex>& lock) {
    idle.wait(lock, [this] { return delivering == std::thread::id() || delivering == std::this_thread::get_id(); });
  }
  // Cancels the pending read (it completes with operation aborted) and lets go of the
  // descriptor.
  void release_descriptor(boost::system::error_code& ec) {
    if (!descriptor) return;
    descriptor->cancel(ec);
    if (!ec) descriptor.reset();
  }
};

IrqHandler::IrqHandler(int id, const char* name, uint64_t a, uint64_t b)
    : id_(static_cast<uint8_t>(id)),
      name_(name ? name : ""),
      a_(a),
      b_(b),
      fd_(open(tarnvik::fixedPath("/dev/kvix").c_str(), O_RDWR)),
      state_(std::make_shared<ReadState>()) {
  state_->owner = this;
  if (fd_ < 0) XQV_ERROR("open failed, err=%d", errno);
}

IrqHandler::~IrqHandler() {
  {
    std::unique_lock<std::mutex> lock(state_->mutex);
    // A read still pending completes into the state, which no longer leads here.
    state_->owner = nullptr;
    state_->stopped = true;
    boost::system::error_code ignored;
    state_->release_descriptor(ignored);
    state_->descriptor.reset();
    state_->callback.reset();  // a running callback holds its own reference
    state_->wait_idle(lock);
  }
  if (fd_ >= 0) close(fd_);
}

void IrqHandler::set_callback(Callback callback) {
  auto shared = std::make_shared<const Callback>(std::move(callback));
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->callback = std::move(shared);
}

void IrqHandler::set_descriptor(Descriptor descriptor) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->descriptor = std::move(descriptor);
}

IrqHandler::Descriptor IrqHandler::descriptor() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->descriptor;
}

void IrqHandler::_Start(uint8_t argument) {
  if (name_.size() >= 32) {
    XQV_ERROR("unexpected value, %d > %d", static_cast<int>(name_.size() + 1), 32);
    return;
  }
  kvix_start_irq start{};  // whole record cleared: no stray bytes after the name
  start.id = id_;
  memcpy(start.name, name_.c_str(), name_.size() + 1);
  start.value_a = static_cast<uint32_t>(a_);
  start.value_b = static_cast<uint32_t>(b_);
  start.argument = argument;
  if (kvix_driver().request(fd_, KVIX_IOCTL_START_IRQ_HANDLING, &start) < 0)
    XQV_ERROR("KVIX_IOCTL_START_IRQ_HANDLING failed, err=%d", errno);
}

void IrqHandler::EnqueueFrameBuffer(uint32_t a, const void* record, uint16_t b) {
  kvix_enq_frmbuf enq{};
  enq.b = b;
  enq.a = a;
  memcpy(enq.record, record, sizeof enq.record);
  if (kvix_driver().request(fd_, KVIX_IOCTL_ENQ_FRMBUF_ADDR, &enq) < 0)
    XQV_ERROR("KVIX_IOCTL_ENQ_FRMBUF_ADDR failed, err=%d", errno);
}

void IrqHandler::Stop() {
  kvix_stop_irq stop{};
  if (kvix_driver().request(fd_, KVIX_IOCTL_STOP_IRQ_HANDLING, &stop) < 0)
    XQV_ERROR("KVIX_IOCTL_STOP_IRQ_HANDLING failed, err=%d", errno);
  // Under the state's lock: the event thread reads and re-arms the descriptor under it.
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopped = true;  // also a completion already queued delivers nothing
  boost::system::error_code ec;
  state_->release_descriptor(ec);
  if (ec) throw boost::system::system_error(ec, "cancel");
  state_->wait_idle(lock);
}

void IrqHandler::PostRead() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->stopped = false;
  Read(state_);
}

// Arms one read; the caller holds the state's lock.
void IrqHandler::Read(const std::shared_ptr<ReadState>& state) {
  if (!state->descriptor) {
    log_error("%s(%d): no descriptor", "PostRead", __LINE__);
    return;
  }
  state->descriptor->async_read_some(
      boost::asio::buffer(&state->word, sizeof state->word),
      [state](const boost::system::error_code& error, size_t bytes) {
        IrqHandler* owner = nullptr;
        {
          std::lock_guard<std::mutex> lock(state->mutex);
          if (state->stopped || !state->owner) return;
          owner = state->owner;
          state->delivering = std::this_thread::get_id();
        }
        owner->OnHandleEvent(error, bytes);  // may stop or delete the owner
        std::lock_guard<std::mutex> lock(state->mutex);
        state->delivering = std::thread::id();
        state->idle.notify_all();
      });
}

void IrqHandler::OnHandleEvent(const boost::system::error_code& error, size_t bytes) {
  if (error) {
    if (error != boost::asio::error::operation_aborted) XQV_ERROR("err=%d", error.value());
    return;
  }
  if (bytes != 4) XQV_ERROR("bytes_transferred(%d) != %d", static_cast<int>(bytes), 4);
  // The callback may stop or delete this handler: past it only the shared state is used.
  const std::shared_ptr<ReadState> state = state_;
  std::shared_ptr<const Callback> callback;
  uint32_t word = 0;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    callback = state->callback;
    word = state->word;
  }
  if (callback && *callback) {
    (*callback)(word);
  } else {
    XQV_ERROR("no callback");  // an empty callback would throw out of the event loop
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  if (!state->stopped && state->owner) Read(state);
}

void Singleton(int* fd, const char* name) {
  char path[4096];
  snprintf(path, sizeof path, "/var/run/%s.pid", name);
  const int f = open(tarnvik::fixedPath(path).c_str(), O_RDWR | O_CREAT, 0666);
  if (f < 0) {
    XQV_ERROR("open failed, err=%d", errno);
    *fd = -1;
    return;
  }
  if (flock(f, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(f);
    *fd = -1;
    XQV_ERROR("flock failed, err=%d", err);
    return;
  }
  // Only the holder truncates: a shorter pid must not leave stale digits behind.
  if (ftruncate(f, 0) != 0) XQV_ERROR("ftruncate failed, err=%d", errno);
  char text[32];
  const int n = snprintf(text, sizeof text, "%d\n", static_cast<int>(getpid()));
  const ssize_t written = pwrite(f, text, static_cast<size_t>(n), 0);
  if (written != n) XQV_ERROR("write failed, %d != %d", static_cast<int>(written), n);
  fsync(f);
  *fd = f;
}

void SingletonRelease(int* fd) {
  if (*fd < 0) return;
  flock(*fd, LOCK_UN);
  close(*fd);
  *fd = -1;
}

}  // namespace XqvUtils
