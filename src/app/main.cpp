// The entry of the program; everything else lives in the libraries so that
// tests run the same code.
#include "app/startup.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    return runKesta(instance, showCommand);
}
