#pragma once
// Operator actions that talk to the units run one at a time. An action asked for while another one waits
// on the link would otherwise run inside that wait and share the link state with it, interleaving their
// frames on the wire; instead it is queued and runs, in order, when the current one ends.
#include <functional>

// Runs `operation` at once when no operation is running, else queues it. Each runs inside the
// application's error guard, so a failing one is reported and the next still runs.
void RunLinkOperation(std::function<void()> operation);
bool LinkOperationRunning();
int QueuedLinkOperations();
// Drops what is queued and forgets the running mark (tests start each case from a fresh program).
void ResetLinkOperations();
