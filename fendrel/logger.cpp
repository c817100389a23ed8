// The process-wide log: one spdlog logger named "file_logger" behind flat
// functions. Log calls only take a counted reference to the logger (an atomic
// shared_ptr load), so they never wait for Init/Shutdown and never see a freed
// logger. Nothing here lets an exception reach the caller.
#include "logger.h"

#include "utils.h"

#include <spdlog/details/os.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr const char* kLoggerName = "file_logger";
constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e] [thread %t] [%l] [%s:%#] %v";
constexpr const char* kLineEnd = "\r\n";

struct LoggerHolder {
    std::shared_ptr<spdlog::logger> logger;  // read and written with std::atomic_load/atomic_store only
    std::mutex initMutex;                    // serialises Init and Shutdown
    std::atomic<bool> initialized{false};
    std::wstring folder;  // of the running log; under initMutex
};

LoggerHolder& Holder() noexcept {
    static LoggerHolder holder;
    return holder;
}

// A narrow path as the file functions read it (the ANSI code page on
// Windows, bytes on Linux), in the platform's wide form.
std::wstring WidePath(const std::filesystem::path& path) {
#if defined(FENDREL_WINDOWS)
    return path.wstring();
#else
    return Utils::AnsiToUtf16(path.string());
#endif
}

// Where a log file of this name lands: its folder, relative to the current one.
std::wstring FolderOfLogFile(const char* fileName) {
#if defined(FENDREL_WINDOWS)
    std::filesystem::path path(Utils::AnsiToUtf16(fileName));
#else
    std::filesystem::path path(fileName);
#endif
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(path, ec);
    return ec ? std::wstring() : WidePath(absolute.lexically_normal().parent_path());
}

std::shared_ptr<spdlog::logger> CurrentLogger() noexcept {
    return std::atomic_load(&Holder().logger);
}

// spdlog creates a missing log folder on its own; a log path in a folder that
// does not exist is a configuration error the caller must hear about, so the
// open is refused instead.
spdlog::file_event_handlers RefuseMissingFolder() {
    spdlog::file_event_handlers handlers;
    handlers.before_open = [](const spdlog::filename_t& fileName) {
        spdlog::filename_t folder = spdlog::details::os::dir_name(fileName);
        if (!folder.empty() && !spdlog::details::os::path_exists(folder))
            throw spdlog::spdlog_ex("folder of " + spdlog::details::os::filename_to_str(fileName) +
                                    " does not exist");
    };
    return handlers;
}

std::shared_ptr<spdlog::logger> MakeLogger(const char* fileName, std::int32_t maxFileSize, std::int32_t maxFiles,
                                           bool rotating) {
    if (fileName == nullptr || *fileName == '\0')
        throw spdlog::spdlog_ex("no log file name");
    spdlog::sink_ptr sink;
    if (rotating) {
        // spdlog takes sizes unsigned; a negative limit would silently mean "never rotate".
        if (maxFileSize <= 0 || maxFiles < 0)
            throw spdlog::spdlog_ex("invalid rotation limits " + std::to_string(maxFileSize) + " bytes, " +
                                    std::to_string(maxFiles) + " files");
        sink = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(
            fileName, static_cast<std::size_t>(maxFileSize), static_cast<std::size_t>(maxFiles), false,
            RefuseMissingFolder());
    } else {
        sink = std::make_shared<spdlog::sinks::basic_file_sink_mt>(fileName, false, RefuseMissingFolder());
    }
    auto logger = std::make_shared<spdlog::logger>(kLoggerName, std::move(sink));
    logger->set_formatter(
        std::make_unique<spdlog::pattern_formatter>(kPattern, spdlog::pattern_time_type::local, kLineEnd));
    logger->set_level(spdlog::level::trace);
    logger->flush_on(spdlog::level::trace);
    // Last step: it throws when a logger of that name exists, and nothing is registered half-built.
    spdlog::register_logger(logger);
    return logger;
}

void Write(spdlog::logger& logger, spdlog::level::level_enum level, const char* function, const char* file,
           std::int32_t line, const std::string& text) {
    // The message is always an argument, never the format: "{}" and "%d" in it stay literal.
    logger.log(spdlog::source_loc{file != nullptr ? file : "", line, function}, level, "{}", text);
}

// mingw's own printf family follows C99 as glibc does (%s narrow, %ls wide,
// a null buffer measures); msvcrt's reads %s in wide formats as wide and
// cannot measure. One set of rules keeps format strings portable.
#if defined(__MINGW32__)
int VsnPrintf(char* buffer, std::size_t size, const char* format, va_list args) {
    return __mingw_vsnprintf(buffer, size, format, args);
}
#else
int VsnPrintf(char* buffer, std::size_t size, const char* format, va_list args) {
    return std::vsnprintf(buffer, size, format, args);
}
#endif

std::string FormatNarrow(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = VsnPrintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1);
    length = VsnPrintf(buffer.data(), buffer.size(), format, args);
    return length > 0 ? std::string(buffer.data(), static_cast<std::size_t>(length)) : std::string();
}

#if defined(__MINGW32__)
std::wstring FormatWide(const wchar_t* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = __mingw_vsnwprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return {};
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
    length = __mingw_vsnwprintf(buffer.data(), buffer.size(), format, args);
    return length > 0 ? std::wstring(buffer.data(), static_cast<std::size_t>(length)) : std::wstring();
}
#else
std::wstring FormatWide(const wchar_t* format, va_list args) {
    // glibc's vswprintf returns -1 both for "too small" and for a real error
    // and cannot measure; a wide memory stream grows by itself, so one pass
    // formats any length and -1 means a real error.
    wchar_t* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_wmemstream(&buffer, &size);
    if (stream == nullptr)
        return {};
    int length = std::vfwprintf(stream, format, args);
    std::fclose(stream);
    std::wstring text;
    if (length > 0)
        text.assign(buffer, size);
    std::free(buffer);
    return text;
}
#endif

// Each front end builds the text only when the record will be written.
void LogText(spdlog::level::level_enum level, const char* function, const char* file, std::int32_t line,
             const char* message) noexcept {
    try {
        auto logger = CurrentLogger();
        if (logger && logger->should_log(level))
            Write(*logger, level, function, file, line, message != nullptr ? std::string(message) : std::string());
    } catch (...) {
    }
}

void LogFormatted(spdlog::level::level_enum level, const char* function, const char* file, std::int32_t line,
                  const char* format, va_list args) noexcept {
    try {
        auto logger = CurrentLogger();
        if (logger && logger->should_log(level))
            Write(*logger, level, function, file, line, format != nullptr ? FormatNarrow(format, args) : std::string());
    } catch (...) {
    }
}

void LogWide(spdlog::level::level_enum level, const char* function, const char* file, std::int32_t line,
             const wchar_t* message) noexcept {
    try {
        auto logger = CurrentLogger();
        if (logger && logger->should_log(level))
            Write(*logger, level, function, file, line, Utils::utf16ToUtf8(message));
    } catch (...) {
    }
}

void LogWideFormatted(spdlog::level::level_enum level, const char* function, const char* file, std::int32_t line,
                      const wchar_t* format, va_list args) noexcept {
    try {
        auto logger = CurrentLogger();
        if (logger && logger->should_log(level))
            Write(*logger, level, function, file, line,
                  format != nullptr ? Utils::utf16ToUtf8(FormatWide(format, args)) : std::string());
    } catch (...) {
    }
}

}  // namespace

extern "C" {

bool Logger_Init(const char* fileName, std::int32_t maxFileSize, std::int32_t maxFiles, bool rotating) noexcept {
    try {
        LoggerHolder& holder = Holder();
        std::lock_guard<std::mutex> lock(holder.initMutex);
        std::wstring folder = FolderOfLogFile(fileName != nullptr ? fileName : "");
        auto logger = MakeLogger(fileName, maxFileSize, maxFiles, rotating);
        holder.folder = std::move(folder);
        std::atomic_store(&holder.logger, logger);
        holder.initialized = true;
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Logger initialization failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "Logger initialization failed: %s\n", "unknown error");
    }
    std::fflush(stderr);
    return false;
}

void Logger_Shutdown() noexcept {
    try {
        LoggerHolder& holder = Holder();
        std::lock_guard<std::mutex> lock(holder.initMutex);
        auto logger = std::atomic_load(&holder.logger);
        if (logger && holder.initialized) {
            try {
                logger->flush();
            } catch (...) {
            }
            std::atomic_store(&holder.logger, std::shared_ptr<spdlog::logger>());
            holder.initialized = false;
            // Also clears spdlog's default logger when it is this one.
            spdlog::drop(kLoggerName);
        }
    } catch (...) {
    }
}

bool Logger_IsInitialized() noexcept {
    return Holder().initialized.load();
}

void Logger_SetLevel(std::int32_t level) noexcept {
    try {
        // Values outside 0-6 go to spdlog unchanged.
        if (auto logger = CurrentLogger())
            logger->set_level(static_cast<spdlog::level::level_enum>(level));
    } catch (...) {
    }
}

void Logger_Flush() noexcept {
    try {
        if (auto logger = CurrentLogger())
            logger->flush();
    } catch (...) {
    }
}

}  // extern "C"

std::wstring Logger_Folder() {
    try {
        LoggerHolder& holder = Holder();
        {
            std::lock_guard<std::mutex> lock(holder.initMutex);
            if (holder.initialized)
                return holder.folder;
        }
        std::error_code ec;
        std::filesystem::path current = std::filesystem::current_path(ec);
        return ec ? std::wstring() : WidePath(current);
    } catch (...) {
        return {};
    }
}

// The six levels share one scheme; only the level and the location's function name differ.
#define FENDREL_LOGGER_LEVEL(Name, level, function)                                                    \
    extern "C" void Logger_##Name(const char* file, std::int32_t line, const char* message) noexcept { \
        LogText(level, function, file, line, message);                                                 \
    }                                                                                                  \
    extern "C" void Logger_##Name##F(const char* file, std::int32_t line, const char* format,          \
                                     ...) noexcept {                                                   \
        va_list args;                                                                                  \
        va_start(args, format);                                                                        \
        LogFormatted(level, function, file, line, format, args);                                       \
        va_end(args);                                                                                  \
    }                                                                                                  \
    extern "C" void Logger_##Name##W(const char* file, std::int32_t line, const wchar_t* message)      \
        noexcept {                                                                                     \
        LogWide(level, function, file, line, message);                                                 \
    }                                                                                                  \
    extern "C" void Logger_##Name##WF(const char* file, std::int32_t line, const wchar_t* format,      \
                                      ...) noexcept {                                                  \
        va_list args;                                                                                  \
        va_start(args, format);                                                                        \
        LogWideFormatted(level, function, file, line, format, args);                                   \
        va_end(args);                                                                                  \
    }

FENDREL_LOGGER_LEVEL(Trace, spdlog::level::trace, "Logger::trace")
FENDREL_LOGGER_LEVEL(Debug, spdlog::level::debug, "Logger::debug")
FENDREL_LOGGER_LEVEL(Info, spdlog::level::info, "Logger::info")
FENDREL_LOGGER_LEVEL(Warn, spdlog::level::warn, "Logger::warn")
FENDREL_LOGGER_LEVEL(Error, spdlog::level::err, "Logger::error")
FENDREL_LOGGER_LEVEL(Critical, spdlog::level::critical, "Logger::critical")

#undef FENDREL_LOGGER_LEVEL
