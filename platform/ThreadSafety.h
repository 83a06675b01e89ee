#pragma once

// Lock annotations for clang's -Wthread-safety: which lock guards which field, which
// functions take or need which lock. Other compilers see nothing.
#if defined(__clang__)
#define VELNOR_TSA(x) __attribute__((x))
#else
#define VELNOR_TSA(x)
#endif

#define VELNOR_CAPABILITY(name) VELNOR_TSA(capability(name))
#define VELNOR_SCOPED_CAPABILITY VELNOR_TSA(scoped_lockable)
#define VELNOR_GUARDED_BY(lock) VELNOR_TSA(guarded_by(lock))
#define VELNOR_ACQUIRE(...) VELNOR_TSA(acquire_capability(__VA_ARGS__))
#define VELNOR_RELEASE(...) VELNOR_TSA(release_capability(__VA_ARGS__))
#define VELNOR_REQUIRES(...) VELNOR_TSA(requires_capability(__VA_ARGS__))
#define VELNOR_EXCLUDES(...) VELNOR_TSA(locks_excluded(__VA_ARGS__))
#define VELNOR_NO_THREAD_SAFETY_ANALYSIS VELNOR_TSA(no_thread_safety_analysis)
