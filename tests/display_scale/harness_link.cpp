// The real main window of the window tests, built into this program too.
#include "../window/harness.cpp"
