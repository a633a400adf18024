#pragma once
// Replacing a small file so that it is never seen torn: the new content goes into a file beside it,
// is flushed to the disk, and is then renamed over the old one.
#include <functional>
#include <string>

// Raises EInOutError with the system's reason; on failure the old file is untouched and no temporary file
// is left behind.
void WriteFileReplacing(const std::string& path, const std::string& content);

// For tests: called with the temporary file's path before the rename; a throw there is a failure part-way.
extern std::function<void(const std::string& temporaryPath)> AtomicFileBeforeRename;
