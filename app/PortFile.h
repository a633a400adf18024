#pragma once
// "COM.ini": the remembered port name, one line ended by CR LF, in the working directory.
#include <string>

class TCustomComPort;

extern const char* const PortFileName;

// Creates or replaces "COM.ini" with the port's name and CR LF.
void SavePortName(TCustomComPort& port);
// Sets the port's name to the characters of "COM.ini" before its first CR or LF.
void LoadPortName(TCustomComPort& port);
bool PortFileExists();
