#pragma once
// Line events and their device masks (SetCommMask / WaitCommEvent), and the fixed order in which a batch
// of events is processed. Written once: the event thread, the port and the hidden receiver all use it.
#include <cstdint>

#include "serial/ComTypes.h"

// The device mask of one event.
uint32_t EventMask(TComEvent event);
// The device mask for a set of events; and back, dropping mask bits no event stands for.
uint32_t EventsToMask(TComEvents events);
TComEvents MaskToEvents(uint32_t mask);
// The event a single device mask stands for; false when it is not exactly one known mask.
bool EventForMask(uint32_t mask, TComEvent& event);

// Errors before received bytes, received bytes before the event character.
constexpr TComEvent EventProcessingOrder[] = {evError, evRxChar, evTxEmpty, evBreak, evRing,
                                              evCTS,   evDSR,    evRxFlag,  evRLSD,  evRx80Full};
