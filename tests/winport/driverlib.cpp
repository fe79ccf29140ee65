// The simulated CyUSB driver as a shared library: its code is the whole of
// kelbsim_cyusb, linked in by CMake.
