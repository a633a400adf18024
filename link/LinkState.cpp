#include "link/LinkState.h"

TLinkState LinkState;

void ResetLinkState() { LinkState = TLinkState{}; }
