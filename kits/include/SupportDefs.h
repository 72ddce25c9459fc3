// Basic integer types, status codes and small helpers shared by every kit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

#include <Errors.h>

typedef int8_t int8;
typedef uint8_t uint8;
typedef int16_t int16;
typedef uint16_t uint16;
typedef int32_t int32;
typedef uint32_t uint32;
typedef int64_t int64;
typedef uint64_t uint64;

typedef int32 status_t;
typedef int64 bigtime_t;
typedef uint32 type_code;
typedef uint32 perform_code;

typedef int32 thread_id;
typedef int32 team_id;
typedef int32 port_id;
typedef int32 image_id;
typedef int32 sem_id;
typedef int32 area_id;

typedef int64 ino_t_be;  // inode numbers as the platform kept them

#ifndef B_PAGE_SIZE
#define B_PAGE_SIZE 4096
#endif

#define B_INFINITE_TIMEOUT (INT64_MAX)

// Current time in microseconds since an arbitrary epoch (monotonic).
bigtime_t system_time();

template <typename T>
inline T min_c(T a, T b) { return a < b ? a : b; }
template <typename T>
inline T max_c(T a, T b) { return a > b ? a : b; }
