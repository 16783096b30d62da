// An external tap for measuring the real program, loaded with LD_PRELOAD.
// The program keeps no timing code of its own: this library wraps the calls
// that mark what a player sees and what the network carries, and writes one
// line per event to the file named by VELLORA_TAP_OUT (without it the
// wrappers only pass the calls through).
//
// Lines (times in nanoseconds; "mono" is CLOCK_MONOTONIC, shared by every
// process of the machine, "real" is CLOCK_REALTIME, comparable with
// `date +%s%N`):
//   L mono real                      the library was loaded (before main)
//   G renderer|version               the GL strings, at the first swap
//   F mono real pcpu tcpu swap am aa ao ad
//                                    a frame was presented (a swap, or the
//                                    picture copied out of the back buffer):
//                                    times after the swap returned, process and main-thread
//                                    CPU time, the swap's own wall time,
//                                    allocations so far on the main thread
//                                    and in the whole process, and (with
//                                    VELLORA_TAP_ALLOC_ORIGIN=1, else 0) the
//                                    main thread's allocations asked for by
//                                    the program's own code and by the GL
//                                    driver on its behalf
//   W count symbol                   at exit, with VELLORA_TAP_ALLOC_ORIGIN:
//                                    what the program's own code called that
//                                    allocated, and how often
//   S mono len hex                    bytes are sent on a TCP socket (first
//                                    bytes)
//   R mono got hex                    a receive on a TCP socket returned got
//                                    bytes (only those that returned some)
//   A mono                            a TCP connection was accepted
//   C mono                            a TCP connection was started
//   X mono                            a TCP connection this program started
//                                    was closed
#include <dlfcn.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr size_t kBufferBytes = 1 << 16;
constexpr size_t kFlushAt = kBufferBytes - 512;  // one line is far shorter
constexpr int kHexBytes = 8;

// Plain zero-initialised data, so that no dynamic initialiser can run after
// the constructor below and undo it. fd is valid while isOpen is set.
struct Tap {
  bool isOpen;
  int fd;
  char buffer[kBufferBytes];
  size_t used;
};
Tap tap;

// Allocation counters: the main thread's own (thread-local, static TLS so
// that reading it never allocates) and the whole process's.
__attribute__((tls_model("initial-exec"))) thread_local uint64_t threadAllocs = 0;
std::atomic<uint64_t> processAllocs{0};

// Where the main thread's allocations come from. An allocation belongs to
// the program when the innermost frame of the program's executable called
// something other than a GL entry point (gl*, SDL_GL_*): operator new, an
// SDL surface, a font render. Zero-initialised plain data, set up by the
// constructor below.
constexpr int kMaxFrames = 48;
constexpr int kMaxSites = 64;
constexpr size_t kSiteNameBytes = 64;
// Names are copied: a library's strings go away when it is unloaded, and
// the sites are written out at exit.
struct Site {
  char symbol[kSiteNameBytes];
  uint64_t count;
};
struct Origin {
  bool enabled;
  uintptr_t ownStart;  // the executable's code segment
  uintptr_t ownEnd;
  uint64_t own;
  uint64_t driver;
  Site sites[kMaxSites];
};
Origin origin;
__attribute__((tls_model("initial-exec"))) thread_local int8_t mainThread = 0;  // 1 yes, -1 no
__attribute__((tls_model("initial-exec"))) thread_local bool classifying = false;
// Descriptors of the TCP connections the program started (the room
// queries and a guest's connection), so that their close can be noted.
constexpr int kTrackedFds = 4096;
std::atomic<bool> startedFd[kTrackedFds];

bool onMainThread() {
  if (mainThread == 0) mainThread = syscall(SYS_gettid) == getpid() ? 1 : -1;
  return mainThread == 1;
}

void noteSite(const char* symbol) {
  for (Site& site : origin.sites) {
    if (site.symbol[0] == '\0') std::snprintf(site.symbol, kSiteNameBytes, "%s", symbol);
    if (std::strncmp(site.symbol, symbol, kSiteNameBytes - 1) == 0) {
      ++site.count;
      return;
    }
  }
}

void classifyAlloc() {
  void* frames[kMaxFrames];
  const int n = backtrace(frames, kMaxFrames);
  for (int k = 1; k < n; ++k) {
    const auto pc = reinterpret_cast<uintptr_t>(frames[k]);
    if (pc < origin.ownStart || pc >= origin.ownEnd) continue;
    Dl_info info{};
    // GL entry points jump straight into the driver's own functions, so a
    // callee is the driver's when it lies in a GL library or is named as a
    // GL call; an unnamed callee elsewhere is reported by its file.
    const bool found = dladdr(frames[k - 1], &info) != 0;
    const char* file = found && info.dli_fname != nullptr ? info.dli_fname : "";
    const char* callee = !found ? "?" : info.dli_sname != nullptr ? info.dli_sname : file;
    const bool driver =
        std::strstr(file, "_dri.so") != nullptr || std::strstr(file, "libGL") != nullptr ||
        std::strstr(file, "libglapi") != nullptr || std::strncmp(callee, "gl", 2) == 0 ||
        std::strncmp(callee, "SDL_GL_", 7) == 0;
    if (driver) {
      ++origin.driver;
    } else {
      ++origin.own;
      noteSite(callee);
    }
    return;
  }
}

void countAlloc() {
  ++threadAllocs;
  processAllocs.fetch_add(1, std::memory_order_relaxed);
  if (!origin.enabled || classifying || !onMainThread()) return;
  classifying = true;  // backtrace and dladdr may allocate themselves
  classifyAlloc();
  classifying = false;
}

int findExecutable(dl_phdr_info* info, size_t, void*) {
  // The first object reported is the executable itself.
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
    origin.ownStart = info->dlpi_addr + segment.p_vaddr;
    origin.ownEnd = origin.ownStart + segment.p_memsz;
  }
  return 1;
}

int64_t nowNs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void flushTap() {
  size_t done = 0;
  while (tap.isOpen && done < tap.used) {
    const ssize_t n = write(tap.fd, tap.buffer + done, tap.used - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  tap.used = 0;
}

// Appends one formatted line; the buffer goes to the file when nearly full
// and at exit.
__attribute__((format(printf, 1, 2))) void emit(const char* format, ...) {
  if (!tap.isOpen) return;
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(tap.buffer + tap.used, kBufferBytes - tap.used, format, args);
  va_end(args);
  if (n > 0) tap.used += static_cast<size_t>(n);
  if (tap.used >= kFlushAt) flushTap();
}

// The first bytes of a message as hex, for telling message types apart.
void hexOf(const void* bytes, int length, char (&out)[2 * kHexBytes + 2]) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const unsigned char*>(bytes);
  int i = 0;
  for (; p != nullptr && i < length && i < kHexBytes; ++i) {
    out[2 * i] = kDigits[p[i] >> 4];
    out[2 * i + 1] = kDigits[p[i] & 15];
  }
  if (i == 0) out[i++ * 2] = '-';
  out[2 * i] = '\0';
}

template <typename Fn>
Fn next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

__attribute__((constructor)) void openTap() {
  const char* path = std::getenv("VELLORA_TAP_OUT");
  if (path == nullptr || path[0] == '\0') return;
  tap.fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  tap.isOpen = tap.fd >= 0;
  const char* originFlag = std::getenv("VELLORA_TAP_ALLOC_ORIGIN");
  if (originFlag != nullptr && originFlag[0] == '1') {
    dl_iterate_phdr(findExecutable, nullptr);
    origin.enabled = origin.ownEnd > origin.ownStart;
  }
  emit("L %lld %lld\n", static_cast<long long>(nowNs(CLOCK_MONOTONIC)),
       static_cast<long long>(nowNs(CLOCK_REALTIME)));
}

__attribute__((destructor)) void closeTap() {
  origin.enabled = false;
  for (const Site& site : origin.sites) {
    if (site.symbol[0] != '\0') {
      emit("W %llu %s\n", static_cast<unsigned long long>(site.count), site.symbol);
    }
  }
  flushTap();
  if (tap.isOpen) close(tap.fd);
  tap.isOpen = false;
}

}  // namespace

extern "C" {

void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

void* malloc(size_t size) {
  countAlloc();
  return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
  countAlloc();
  return __libc_calloc(count, size);
}
void* realloc(void* block, size_t size) {
  countAlloc();
  return __libc_realloc(block, size);
}
void* memalign(size_t alignment, size_t size) {
  countAlloc();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
  countAlloc();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
  countAlloc();
  void* block = __libc_memalign(alignment, size);
  if (block == nullptr) return 12;  // ENOMEM
  *out = block;
  return 0;
}

}  // extern "C"

namespace {

// Set while a frame is presented: the GL driver's own shared-memory puts
// inside a swap are not frames of their own.
thread_local bool presenting = false;

// One presented frame: the GL strings at the first one, then its line.
// present shows the frame (a swap, a copy of part of the back buffer, or a
// picture the program made itself put into the window).
template <typename Present>
void presentFrame(Present present) {
  static bool namedRenderer = false;
  if (!namedRenderer) {
    namedRenderer = true;
    const auto getString = next<const unsigned char* (*)(unsigned)>("glGetString");
    const unsigned char* renderer = getString != nullptr ? getString(0x1F01) : nullptr;  // RENDERER
    const unsigned char* version = getString != nullptr ? getString(0x1F02) : nullptr;   // VERSION
    emit("G %s|%s\n", renderer != nullptr ? reinterpret_cast<const char*>(renderer) : "?",
         version != nullptr ? reinterpret_cast<const char*>(version) : "?");
  }
  const int64_t before = nowNs(CLOCK_MONOTONIC);
  presenting = true;
  present();
  presenting = false;
  const int64_t after = nowNs(CLOCK_MONOTONIC);
  emit("F %lld %lld %lld %lld %lld %llu %llu %llu %llu\n", static_cast<long long>(after),
       static_cast<long long>(nowNs(CLOCK_REALTIME)),
       static_cast<long long>(nowNs(CLOCK_PROCESS_CPUTIME_ID)),
       static_cast<long long>(nowNs(CLOCK_THREAD_CPUTIME_ID)),
       static_cast<long long>(after - before), static_cast<unsigned long long>(threadAllocs),
       static_cast<unsigned long long>(processAllocs.load(std::memory_order_relaxed)),
       static_cast<unsigned long long>(origin.own), static_cast<unsigned long long>(origin.driver));
}

// A window with bars presents by copying the picture out of the back buffer
// (GLX_MESA_copy_sub_buffer, looked up through glXGetProcAddress*): that
// copy is the frame's mark there, as the swap is elsewhere.
using CopySubBufferFn = void (*)(void*, unsigned long, int, int, int, int);
using ProcFn = void (*)();
std::atomic<CopySubBufferFn> realCopySubBuffer{nullptr};

void tappedCopySubBuffer(void* display, unsigned long drawable, int x, int y, int width,
                         int height) {
  presentFrame([&] {
    realCopySubBuffer.load(std::memory_order_relaxed)(display, drawable, x, y, width, height);
  });
}

ProcFn tapProc(const unsigned char* name, ProcFn found) {
  if (found == nullptr || name == nullptr ||
      std::strcmp(reinterpret_cast<const char*>(name), "glXCopySubBufferMESA") != 0) {
    return found;
  }
  realCopySubBuffer.store(reinterpret_cast<CopySubBufferFn>(found), std::memory_order_relaxed);
  return reinterpret_cast<ProcFn>(tappedCopySubBuffer);
}

}  // namespace

extern "C" {

void SDL_GL_SwapBuffers(void) {
  static const auto real = next<void (*)()>("SDL_GL_SwapBuffers");
  presentFrame([] { real(); });
}

// Where GL draws on the CPU the program puts the scaled picture into the
// window itself (XShmPutImage): that put is the frame's mark there.
int XShmPutImage(void* display, unsigned long drawable, void* gc, void* image, int srcX, int srcY,
                 int dstX, int dstY, unsigned width, unsigned height, int sendEvent) {
  using PutFn =
      int (*)(void*, unsigned long, void*, void*, int, int, int, int, unsigned, unsigned, int);
  static const auto real = next<PutFn>("XShmPutImage");
  if (real == nullptr) return 0;
  if (presenting)
    return real(display, drawable, gc, image, srcX, srcY, dstX, dstY, width, height, sendEvent);
  int result = 0;
  presentFrame([&] {
    result = real(display, drawable, gc, image, srcX, srcY, dstX, dstY, width, height, sendEvent);
  });
  return result;
}

ProcFn glXGetProcAddressARB(const unsigned char* name) {
  static const auto real = next<ProcFn (*)(const unsigned char*)>("glXGetProcAddressARB");
  return tapProc(name, real != nullptr ? real(name) : nullptr);
}

ProcFn glXGetProcAddress(const unsigned char* name) {
  static const auto real = next<ProcFn (*)(const unsigned char*)>("glXGetProcAddress");
  return tapProc(name, real != nullptr ? real(name) : nullptr);
}

// IPv4 and IPv6 alike: a host listens on one IPv6 socket that takes both,
// so the connections it accepts are IPv6 ones even from 127.0.0.1.
bool isTcp(int fd) {
  int domain = 0;
  int type = 0;
  socklen_t size = sizeof domain;
  if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 ||
      (domain != AF_INET && domain != AF_INET6)) {
    return false;
  }
  size = sizeof type;
  return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) == 0 && type == SOCK_STREAM;
}

long long monoNow() { return static_cast<long long>(nowNs(CLOCK_MONOTONIC)); }

// The link's sockets are the program's own descriptors; the X connection is a
// local socket and is left out.
ssize_t send(int fd, const void* data, size_t length, int flags) {
  static const auto real = next<ssize_t (*)(int, const void*, size_t, int)>("send");
  if (tap.isOpen && isTcp(fd)) {
    char hex[2 * kHexBytes + 2];
    const int shown = length > 1 << 20 ? 1 << 20 : static_cast<int>(length);
    hexOf(data, shown, hex);
    emit("S %lld %d %s\n", monoNow(), shown, hex);
  }
  return real(fd, data, length, flags);
}

ssize_t recv(int fd, void* data, size_t length, int flags) {
  static const auto real = next<ssize_t (*)(int, void*, size_t, int)>("recv");
  const ssize_t got = real(fd, data, length, flags);
  if (got > 0 && tap.isOpen && isTcp(fd)) {
    char hex[2 * kHexBytes + 2];
    hexOf(data, static_cast<int>(got), hex);
    emit("R %lld %d %s\n", monoNow(), static_cast<int>(got), hex);
  }
  return got;
}

int accept4(int fd, sockaddr* address, socklen_t* size, int flags) {
  static const auto real = next<int (*)(int, sockaddr*, socklen_t*, int)>("accept4");
  const int accepted = real(fd, address, size, flags);
  if (accepted >= 0 && tap.isOpen) emit("A %lld\n", monoNow());
  return accepted;
}

int connect(int fd, const sockaddr* address, socklen_t size) {
  static const auto real = next<int (*)(int, const sockaddr*, socklen_t)>("connect");
  if (tap.isOpen && fd >= 0 && fd < kTrackedFds && isTcp(fd)) {
    startedFd[fd] = true;
    emit("C %lld\n", monoNow());
  }
  return real(fd, address, size);
}

int close(int fd) {
  static const auto real = next<int (*)(int)>("close");
  if (fd >= 0 && fd < kTrackedFds && startedFd[fd].exchange(false)) emit("X %lld\n", monoNow());
  return real(fd);
}

}  // extern "C"
