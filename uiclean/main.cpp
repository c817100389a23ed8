// Entry point of Clean: a GUI program on Windows, a plain program on Linux.
// The command line is not read.
#include "uiclean/startup.h"

#if defined(FENDREL_WINDOWS)
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    return RunEntry(instance);
}
#else
int main() {
    return RunEntry(nullptr);
}
#endif
