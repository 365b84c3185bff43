#include "common/thread_stack.h"

#include <pthread.h>

namespace thread_stack {

bool SetDefaultStackSize(std::size_t bytes) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  const bool set = pthread_attr_setstacksize(&attributes, bytes) == 0 && pthread_setattr_default_np(&attributes) == 0;
  pthread_attr_destroy(&attributes);
  return set;
}

std::size_t DefaultStackSize() {
  pthread_attr_t attributes;
  if (pthread_getattr_default_np(&attributes) != 0) return 0;
  std::size_t bytes = 0;
  if (pthread_attr_getstacksize(&attributes, &bytes) != 0) bytes = 0;
  pthread_attr_destroy(&attributes);
  return bytes;
}

}  // namespace thread_stack
