#pragma once
// Replacing a small file so that it is never seen torn: the new content goes into a file beside it,
// is flushed to the disk, and is then renamed over the old one.
#include <functional>
#include <string>
#include <vector>

// Raises EInOutError with the system's reason; on failure the old file is untouched and no temporary file
// is left behind.
void WriteFileReplacing(const std::string& path, const std::string& content);

// Removes from `directory` the temporary files of replacements whose writer was killed part-way: names
// "<file>.orvel-<process id>-<8 hex digits>.tmp" whose process no longer runs (it is gone, or killed and
// not yet collected by its parent; or it is this very process, which has written nothing yet when it
// starts). Nothing else is touched, and a file that cannot be
// removed is passed over. Returns the names removed.
std::vector<std::string> RemoveStaleTemporaryFiles(const std::string& directory);

// For tests: called with the temporary file's path before the rename; a throw there is a failure part-way.
extern std::function<void(const std::string& temporaryPath)> AtomicFileBeforeRename;
