#pragma once
// Which ports exist: COM1 to COM10 by trying to open each, then the adapters the system offers beyond them.
#include <string>
#include <vector>

class TComPlatform;

std::vector<std::string> ListComPorts(TComPlatform& platform);
