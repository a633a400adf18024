#pragma once
// Operator actions that talk to the units run one at a time. An action asked for while another one waits
// on the link would otherwise run inside that wait and share the link state with it, interleaving their
// frames on the wire; instead it is queued and runs, in order, when the current one ends.
//
// An operation is over only when the line is quiet: the reply to its last request has come whole, or that
// request's reply time-out has run. An operation that ends with a write sent without the pacing wait
// would otherwise let the next one's request go out on top of the reply, or let that reply pass for the
// answer to the next request.
#include <functional>

// Runs `operation` at once when no operation is running, else queues it. Each runs inside the
// application's error guard, so a failing one is reported and the next still runs.
void RunLinkOperation(std::function<void()> operation);
// The same, but an operation of the same `kind` still waiting in the queue is dropped: the newer one
// stands for both (the operator arrowing through a list must not wait for every entry passed).
void RunLinkOperation(const void* kind, std::function<void()> operation);
bool LinkOperationRunning();
int QueuedLinkOperations();

// Inside an operation: returns once the line is quiet (see above). Replies and time-outs are handled
// meanwhile as in any wait; a time-out passes silently while register mode is set.
void WaitForQuietLine();

// Drops what is queued and forgets the running mark (tests start each case from a fresh program).
void ResetLinkOperations();
