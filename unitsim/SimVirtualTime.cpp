#include "unitsim/SimVirtualTime.h"

TSimVirtualTime::TSimVirtualTime(TVirtualToolkit& toolkit, TSimBus& bus) : toolkit_(toolkit), bus_(bus) {
  bus_.SetClock(this);
  toolkit_.AddSource(this);
}

TSimVirtualTime::~TSimVirtualTime() {
  toolkit_.RemoveSource(this);
  if (bus_.Clock() == this) bus_.SetClock(nullptr);
}
