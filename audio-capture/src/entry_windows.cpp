#include <windows.h>

#include "program.hpp"

// Windowed program with the Unicode entry; the arguments are read from the
// process's command line by the OS layer.
extern "C" int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { audio::run_program(); }
