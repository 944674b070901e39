// Connects the PCM stage to the main player's device ring, the level meter
// and the display feed, and opens the device the way the workers need it.
#pragma once

namespace kestrel {

// Installs the stage's hooks (meter, device, display) for the current output
// format and rate ratio.
void wirePcmSink(double rateRatio);
void setWiredRateRatio(double rateRatio);

// Opens the main ring at `rate` x `channels`. With `optional` set, a machine
// without a sound device is not an error: the worker runs silent. Returns 0
// when open (or silently without a device when optional), negative otherwise.
int openMainDevice(int rate, int channels, bool optional);
void closeMainDevice();
bool mainDeviceOpen();

} // namespace kestrel
