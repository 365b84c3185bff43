// A preload library (LD_PRELOAD) that measures how deep each thread's stack gets.
//
// It wraps pthread_create: a new thread first fills the unused part of its stack with a
// pattern, then runs its start routine; when the thread ends (or, for threads still running,
// when the process exits normally or through quick_exit) the lowest word that no longer holds
// the pattern is the high-water mark. The depth counts from the top of the thread's stack
// block, so it includes what the C library keeps there (the thread's descriptor and static
// TLS), which comes out of the same stack size. Each thread appends one line to the file named
// by QUELLARON_STACK_RECORD:
//   program, gtest filter or "-", thread name, started by (library:symbol), bytes used, stack size
// Built in unsanitized trees only; a sanitized program can still be measured with one built
// so, its sanitizer's runtime preloaded ahead of it (docs/performance.md).
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>

namespace {

constexpr std::uint64_t kPaint = 0x5a17c3e95a17c3e9ULL;
// Left unpainted below the wrapper's frame: room for the painting's own frames and the red
// zone.
constexpr std::size_t kPaintClearance = 4096;

struct Stack {
  pthread_t thread;
  std::uint64_t* low;     // just above the guard page
  const char* high;       // top of the stack block
  const void* routine;    // the start routine: says who started the thread
};

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

// The threads running now, for those still running when the process exits. Plain data with no
// destructor (libstdc++'s std::mutex has none either), so it stays usable to the very end.
constexpr std::size_t kMostLiveThreads = 1024;
struct LiveStacks {
  std::mutex mutex;
  std::array<Stack, kMostLiveThreads> stacks{};
  std::size_t count = 0;
};
LiveStacks live;

bool StackOfThisThread(Stack& stack) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return false;
  void* low = nullptr;
  std::size_t size = 0;
  const bool read = pthread_attr_getstack(&attributes, &low, &size) == 0;
  pthread_attr_destroy(&attributes);
  if (!read) return false;
  stack.thread = pthread_self();
  stack.low = static_cast<std::uint64_t*>(low);
  stack.high = static_cast<const char*>(low) + size;
  return true;
}

std::size_t Depth(const Stack& stack) {
  const std::uint64_t* word = stack.low;
  while (reinterpret_cast<const char*>(word) < stack.high && *word == kPaint) ++word;
  return static_cast<std::size_t>(stack.high - reinterpret_cast<const char*>(word));
}

// The gtest filter of this process (ctest runs one test per process), or "-".
std::string TestName() {
  std::ifstream file("/proc/self/cmdline", std::ios::binary);
  const std::string cmdline((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const std::string flag = "--gtest_filter=";
  const auto at = cmdline.find(flag);
  if (at == std::string::npos) return "-";
  return cmdline.substr(at + flag.size(), cmdline.find('\0', at) - at - flag.size());
}

// "library:symbol" of a start routine: std::thread's threads all start in libstdc++, a C
// library's own threads in that library.
std::string StarterOf(const void* routine) {
  Dl_info info{};
  if (dladdr(routine, &info) == 0 || info.dli_fname == nullptr) return "?";
  const std::string file = info.dli_fname;
  return file.substr(file.find_last_of('/') + 1) + ':' + (info.dli_sname != nullptr ? info.dli_sname : "?");
}

void Record(const Stack& stack) {
  const char* path = std::getenv("QUELLARON_STACK_RECORD");
  if (path == nullptr) return;
  char name[32] = "-";
  pthread_getname_np(stack.thread, name, sizeof name);
  const std::string line = std::string(program_invocation_short_name) + '\t' + TestName() + '\t' + name + '\t' +
                           StarterOf(stack.routine) + '\t' + std::to_string(Depth(stack)) + '\t' +
                           std::to_string(stack.high - reinterpret_cast<const char*>(stack.low)) + '\n';
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  // One write per line: O_APPEND keeps lines of concurrent threads and processes whole.
  [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
  close(fd);
}

// Records the thread's depth when its start routine returns or the thread is unwound.
class Watch {
 public:
  explicit Watch(const Stack& stack) : stack_(stack) {
    std::lock_guard<std::mutex> lock(live.mutex);
    if (live.count < live.stacks.size()) live.stacks[live.count++] = stack_;
  }
  ~Watch() {
    {
      std::lock_guard<std::mutex> lock(live.mutex);
      const auto end = live.stacks.begin() + static_cast<std::ptrdiff_t>(live.count);
      const auto kept = std::remove_if(live.stacks.begin(), end,
                                       [this](const Stack& s) { return pthread_equal(s.thread, stack_.thread); });
      live.count = static_cast<std::size_t>(kept - live.stacks.begin());
    }
    Record(stack_);
  }
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

 private:
  Stack stack_;
};

struct Start {
  void* (*routine)(void*);
  void* argument;
};

void* Run(void* start_pointer) {
  const Start start = *std::unique_ptr<Start>(static_cast<Start*>(start_pointer));
  Stack stack{};
  if (!StackOfThisThread(stack)) return start.routine(start.argument);
  stack.routine = reinterpret_cast<const void*>(start.routine);
  const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  const auto low = reinterpret_cast<std::uintptr_t>(stack.low);
  if (frame > low + kPaintClearance) {
    std::fill_n(stack.low, (frame - kPaintClearance - low) / sizeof(std::uint64_t), kPaint);
  }
  Watch watch(stack);
  return start.routine(start.argument);
}

// Threads still running when the process exits normally, or through quick_exit (the daemon
// ends so, without static destructors).
__attribute__((destructor)) void RecordLiveThreads() {
  std::lock_guard<std::mutex> lock(live.mutex);
  for (std::size_t i = 0; i < live.count; ++i) Record(live.stacks[i]);
}

__attribute__((constructor)) void RecordLiveThreadsAtQuickExit() { std::at_quick_exit(RecordLiveThreads); }

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*routine)(void*),
                              void* argument) {
  static const auto real = reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
  if (real == nullptr) return EAGAIN;
  auto start = std::make_unique<Start>(Start{routine, argument});
  const int created = real(thread, attributes, Run, start.get());
  if (created == 0) start.release();  // the new thread owns it now
  return created;
}
