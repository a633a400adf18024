#pragma once
// The program names its data files the Windows way ("Bmp\TitOn.bmp", "BMP\Button3.bmp", "COM.ini",
// "Status3.log"), relative to the working directory, where names ignore case.
#include <string>
#include <vector>

// The path to open for such a name. On POSIX a backslash separates directories as a slash does, and each
// part of the name is first tried exactly as written, then without regard to case (ASCII letters) among
// the entries of its directory; when several entries differ only in case, the first in byte order wins.
// A part that matches nothing is kept as written, and so is the rest of the name after it, so opening the
// result fails with the system's "not found" and creating it puts the file where the name says.
// On Windows the name is returned as it stands.
std::string ResolveDataFile(const std::string& name);

// Folders that stand in for the working directory's own when it lacks the first folder of a relative name
// (an installed program started in a folder without "Bmp" takes its images from its installed data). Tried
// in order; names without a folder part ("COM.ini", "Status3.log") always stay in the working directory.
void SetDataFileFallbacks(std::vector<std::string> directories);
