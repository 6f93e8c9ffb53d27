#pragma once
#include <cstdio>

// "velotrax-cli ports": the serial ports the system reports, one a line in
// aligned columns. Returns the exit status.
int PrintSerialPorts(std::FILE* out);
