// Platform detection and the few Windows handle types that cross Fendrel's
// interface. On Linux the handles are opaque pointers with the same names, so
// callers compile unchanged; they never point at anything the caller may use.
#pragma once

#if defined(_WIN32)
#  include <windows.h>
#  define FENDREL_WINDOWS 1
#elif defined(__linux__)
#  include <cstdint>
#  define FENDREL_POSIX 1
typedef struct HWND__* HWND;
typedef struct HKEY__* HKEY;
typedef struct HINSTANCE__* HINSTANCE;
typedef void* HANDLE;
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint16_t LANGID;
typedef std::int32_t HRESULT;
typedef int BOOL;
typedef void* LPSTARTUPINFOW;
// Registry roots keep their Windows values: configuration files store them
// in hexadecimal and the Linux registry store is keyed by them.
#  define HKEY_CLASSES_ROOT     ((HKEY)(std::uintptr_t)0x80000000u)
#  define HKEY_CURRENT_USER     ((HKEY)(std::uintptr_t)0x80000001u)
#  define HKEY_LOCAL_MACHINE    ((HKEY)(std::uintptr_t)0x80000002u)
#  define HKEY_USERS            ((HKEY)(std::uintptr_t)0x80000003u)
#  define HKEY_CURRENT_CONFIG   ((HKEY)(std::uintptr_t)0x80000005u)
#else
#  error "Fendrel supports Windows and Linux only"
#endif

#if defined(FENDREL_WINDOWS)
#  if defined(FENDREL_BUILDING)
#    define FENDREL_API __declspec(dllexport)
#  else
#    define FENDREL_API __declspec(dllimport)
#  endif
#else
#  define FENDREL_API __attribute__((visibility("default")))
#endif

namespace fendrel {
// The path separator of this platform, used wherever a path is joined.
#if defined(FENDREL_WINDOWS)
inline constexpr wchar_t kPathSep = L'\\';
inline constexpr char kPathSepA = '\\';
#else
inline constexpr wchar_t kPathSep = L'/';
inline constexpr char kPathSepA = '/';
#endif
}  // namespace fendrel
