#pragma once
// Scheduling priority of the calling thread, part of the thread runtime the event thread stands on.
// `level` runs from -3 (idle) through 0 (normal) to 3 (time critical). Best effort: a level the system
// refuses (raising it usually needs privileges) leaves the thread as it was.
void SetCurrentThreadPriority(int level);
