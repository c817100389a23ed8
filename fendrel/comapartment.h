// Enters the multi-threaded COM apartment for the calling thread for as long
// as the object lives, so engine threads may use COM objects without set-up
// of their own. Linux has no COM: the object does nothing there.
#pragma once

#include "platform.h"

#if defined(FENDREL_WINDOWS)
#include <objbase.h>

class ComApartment {
public:
    ComApartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }  // result ignored by design
    ~ComApartment() { CoUninitialize(); }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};
#else
class ComApartment {
public:
    ComApartment() {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
};
#endif
