// The process-wide log. Flat, unmangled functions so that any caller can bind
// them by name; none of them throws. Levels: 0 trace, 1 debug, 2 info,
// 3 warn, 4 error, 5 critical, 6 off. Messages of the plain and W forms are
// written verbatim ("{}" and "%d" stay as they are).
#pragma once

#include "platform.h"

#include <cstdint>

extern "C" {

FENDREL_API bool Logger_Init(const char* fileName, std::int32_t maxFileSize, std::int32_t maxFiles, bool rotating);
FENDREL_API void Logger_Shutdown();
FENDREL_API bool Logger_IsInitialized();
FENDREL_API void Logger_SetLevel(std::int32_t level);
FENDREL_API void Logger_Flush();

FENDREL_API void Logger_Trace(const char* file, std::int32_t line, const char* message);
FENDREL_API void Logger_Debug(const char* file, std::int32_t line, const char* message);
FENDREL_API void Logger_Info(const char* file, std::int32_t line, const char* message);
FENDREL_API void Logger_Warn(const char* file, std::int32_t line, const char* message);
FENDREL_API void Logger_Error(const char* file, std::int32_t line, const char* message);
FENDREL_API void Logger_Critical(const char* file, std::int32_t line, const char* message);

FENDREL_API void Logger_TraceF(const char* file, std::int32_t line, const char* format, ...);
FENDREL_API void Logger_DebugF(const char* file, std::int32_t line, const char* format, ...);
FENDREL_API void Logger_InfoF(const char* file, std::int32_t line, const char* format, ...);
FENDREL_API void Logger_WarnF(const char* file, std::int32_t line, const char* format, ...);
FENDREL_API void Logger_ErrorF(const char* file, std::int32_t line, const char* format, ...);
FENDREL_API void Logger_CriticalF(const char* file, std::int32_t line, const char* format, ...);

FENDREL_API void Logger_TraceW(const char* file, std::int32_t line, const wchar_t* message);
FENDREL_API void Logger_DebugW(const char* file, std::int32_t line, const wchar_t* message);
FENDREL_API void Logger_InfoW(const char* file, std::int32_t line, const wchar_t* message);
FENDREL_API void Logger_WarnW(const char* file, std::int32_t line, const wchar_t* message);
FENDREL_API void Logger_ErrorW(const char* file, std::int32_t line, const wchar_t* message);
FENDREL_API void Logger_CriticalW(const char* file, std::int32_t line, const wchar_t* message);

FENDREL_API void Logger_TraceWF(const char* file, std::int32_t line, const wchar_t* format, ...);
FENDREL_API void Logger_DebugWF(const char* file, std::int32_t line, const wchar_t* format, ...);
FENDREL_API void Logger_InfoWF(const char* file, std::int32_t line, const wchar_t* format, ...);
FENDREL_API void Logger_WarnWF(const char* file, std::int32_t line, const wchar_t* format, ...);
FENDREL_API void Logger_ErrorWF(const char* file, std::int32_t line, const wchar_t* format, ...);
FENDREL_API void Logger_CriticalWF(const char* file, std::int32_t line, const wchar_t* format, ...);

}  // extern "C"

// Convenience macros that fill in the caller's source location.
#define LOG_TRACE(...) Logger_TraceF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_DEBUG(...) Logger_DebugF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_INFO(...) Logger_InfoF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_WARN(...) Logger_WarnF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_ERROR(...) Logger_ErrorF(__FILE__, __LINE__, __VA_ARGS__)
#define LOG_CRITICAL(...) Logger_CriticalF(__FILE__, __LINE__, __VA_ARGS__)
