// The process-wide log. Flat, unmangled functions so that any caller can bind
// them by name; none of them throws. Levels: 0 trace, 1 debug, 2 info,
// 3 warn (shown as "warning"), 4 error, 5 critical, 6 off.
//
// One line per record, local time, "\r\n" at the end:
//   [2024-05-01 12:00:00.123] [thread 4242] [warning] [scan.cpp:88] disk full
//
// Messages of the plain and W forms are written verbatim ("{}" and "%d" stay
// as they are); W text is converted to UTF-8. The F and WF forms follow the
// C99 printf rules on every platform: %s is a narrow string and %ls a wide one
// in both, so one format string works on Windows and Linux. A format that
// fails logs an empty message. Before Logger_Init and after Logger_Shutdown
// every call is a silent no-op.
#pragma once

#include "platform.h"

#include <cstdint>
#include <string>

// Lets the compiler check F arguments against their format (C99 rules, see above).
#if defined(__clang__)
#  define FENDREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#elif defined(__GNUC__)
#  define FENDREL_PRINTF_FORMAT(formatIndex, firstArg) __attribute__((format(gnu_printf, formatIndex, firstArg)))
#else
#  define FENDREL_PRINTF_FORMAT(formatIndex, firstArg)
#endif

extern "C" {

FENDREL_API bool Logger_Init(const char* fileName, std::int32_t maxFileSize, std::int32_t maxFiles, bool rotating) noexcept;
FENDREL_API void Logger_Shutdown() noexcept;
FENDREL_API bool Logger_IsInitialized() noexcept;
FENDREL_API void Logger_SetLevel(std::int32_t level) noexcept;
FENDREL_API void Logger_Flush() noexcept;

FENDREL_API void Logger_Trace(const char* file, std::int32_t line, const char* message) noexcept;
FENDREL_API void Logger_Debug(const char* file, std::int32_t line, const char* message) noexcept;
FENDREL_API void Logger_Info(const char* file, std::int32_t line, const char* message) noexcept;
FENDREL_API void Logger_Warn(const char* file, std::int32_t line, const char* message) noexcept;
FENDREL_API void Logger_Error(const char* file, std::int32_t line, const char* message) noexcept;
FENDREL_API void Logger_Critical(const char* file, std::int32_t line, const char* message) noexcept;

FENDREL_API void Logger_TraceF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);
FENDREL_API void Logger_DebugF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);
FENDREL_API void Logger_InfoF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);
FENDREL_API void Logger_WarnF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);
FENDREL_API void Logger_ErrorF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);
FENDREL_API void Logger_CriticalF(const char* file, std::int32_t line, const char* format, ...) noexcept
    FENDREL_PRINTF_FORMAT(3, 4);

FENDREL_API void Logger_TraceW(const char* file, std::int32_t line, const wchar_t* message) noexcept;
FENDREL_API void Logger_DebugW(const char* file, std::int32_t line, const wchar_t* message) noexcept;
FENDREL_API void Logger_InfoW(const char* file, std::int32_t line, const wchar_t* message) noexcept;
FENDREL_API void Logger_WarnW(const char* file, std::int32_t line, const wchar_t* message) noexcept;
FENDREL_API void Logger_ErrorW(const char* file, std::int32_t line, const wchar_t* message) noexcept;
FENDREL_API void Logger_CriticalW(const char* file, std::int32_t line, const wchar_t* message) noexcept;

FENDREL_API void Logger_TraceWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;
FENDREL_API void Logger_DebugWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;
FENDREL_API void Logger_InfoWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;
FENDREL_API void Logger_WarnWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;
FENDREL_API void Logger_ErrorWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;
FENDREL_API void Logger_CriticalWF(const char* file, std::int32_t line, const wchar_t* format, ...) noexcept;

}  // extern "C"

// The folder the log is written in, absolute: the folder of the file given to
// the running Logger_Init (a relative name lands in the folder that was
// current then); with logging off, the current folder, where a log opened by
// a bare file name would go. Whatever else writes beside the log (crash
// reports) asks here. Empty when the folder cannot be told.
FENDREL_API std::wstring Logger_Folder();

// Convenience macros that fill in the caller's source location (printf style).
#define LOG_TRACE(...) Logger_TraceF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_DEBUG(...) Logger_DebugF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_INFO(...) Logger_InfoF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_WARN(...) Logger_WarnF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_ERROR(...) Logger_ErrorF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_CRITICAL(...) Logger_CriticalF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_TRACE_W(...) Logger_TraceWF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_DEBUG_W(...) Logger_DebugWF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_INFO_W(...) Logger_InfoWF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_WARN_W(...) Logger_WarnWF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_ERROR_W(...) Logger_ErrorWF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_CRITICAL_W(...) Logger_CriticalWF(__FILE__, __LINE__, __VA_ARGS__)
