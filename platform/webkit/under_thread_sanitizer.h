#pragma once
// WV_UNDER_THREAD_SANITIZER: 1 in a ThreadSanitizer build. GCC says __SANITIZE_THREAD__,
// clang answers __has_feature, which GCC's preprocessor does not know.

#if defined(__SANITIZE_THREAD__)
#define WV_UNDER_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define WV_UNDER_THREAD_SANITIZER 1
#endif
#endif
#ifndef WV_UNDER_THREAD_SANITIZER
#define WV_UNDER_THREAD_SANITIZER 0
#endif
