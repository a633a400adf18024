#pragma once
// What every GUI test program shares: one QApplication on the offscreen platform.

// Creates the process's QApplication once (offscreen unless QT_QPA_PLATFORM says otherwise).
void EnsureApplication();
