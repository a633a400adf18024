#include "serial/ComEventMask.h"

#include "serial/platform/ComPlatform.h"

namespace {
// Indexed by TComEvent member.
constexpr uint32_t Masks[] = {ComApi::EV_RXCHAR, ComApi::EV_TXEMPTY, ComApi::EV_RXFLAG, ComApi::EV_RING,
                              ComApi::EV_BREAK,  ComApi::EV_CTS,     ComApi::EV_DSR,    ComApi::EV_ERR,
                              ComApi::EV_RLSD,   ComApi::EV_RX80FULL};
constexpr int EventCount = sizeof(Masks) / sizeof(Masks[0]);
}  // namespace

uint32_t EventMask(TComEvent event) { return Masks[event]; }

uint32_t EventsToMask(TComEvents events) {
  uint32_t mask = 0;
  for (int e = 0; e < EventCount; ++e)
    if (events.Has(TComEvent(e))) mask |= Masks[e];
  return mask;
}

TComEvents MaskToEvents(uint32_t mask) {
  TComEvents events;
  for (int e = 0; e < EventCount; ++e)
    if (mask & Masks[e]) events.Include(TComEvent(e));
  return events;
}

bool EventForMask(uint32_t mask, TComEvent& event) {
  for (int e = 0; e < EventCount; ++e)
    if (Masks[e] == mask) {
      event = TComEvent(e);
      return true;
    }
  return false;
}
