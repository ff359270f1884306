// StoreLock: the one lock of the process, guarding the three store documents and
// the enabled state of the save timer. Held by a request for its whole length and
// by the periodic save; never taken twice by one thread. The annotations let clang
// (-Wthread-safety) check those rules at compile time; other compilers ignore them.
#ifndef PELORIN_SERVICE_STORE_LOCK_H_
#define PELORIN_SERVICE_STORE_LOCK_H_

#include <mutex>

#if defined(__clang__)
#define PELORIN_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELORIN_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) PELORIN_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY PELORIN_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) PELORIN_THREAD_ANNOTATION(guarded_by(x))
#define REQUIRES(...) PELORIN_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) PELORIN_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) PELORIN_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) PELORIN_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define NO_THREAD_SAFETY_ANALYSIS PELORIN_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace pelorin {

class CAPABILITY("mutex") TStoreLock {
 public:
  TStoreLock() = default;
  TStoreLock(const TStoreLock&) = delete;
  TStoreLock& operator=(const TStoreLock&) = delete;

  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds the lock for one scope, so every way out of a request or a save releases
// it exactly once.
class SCOPED_CAPABILITY TStoreGuard {
 public:
  explicit TStoreGuard(TStoreLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
  ~TStoreGuard() RELEASE() { lock_.Unlock(); }
  TStoreGuard(const TStoreGuard&) = delete;
  TStoreGuard& operator=(const TStoreGuard&) = delete;

 private:
  TStoreLock& lock_;
};

}  // namespace pelorin

#endif  // PELORIN_SERVICE_STORE_LOCK_H_
