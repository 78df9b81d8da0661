/* Grid channel numbers understood by getChannel / hasChannel (nebloader.h) and by
   neb_frame_channel (nebloader_c.h). One definition for both interfaces, so that a host may
   include either header, or both in any order. Plain C as well as C++. */
#ifndef NEBLOADER_CHANNELS_H
#define NEBLOADER_CHANNELS_H

enum NebChannel {
  NEB_CHANNEL_TEMPERATURE = 1,
  NEB_CHANNEL_SMOKE = 2,
  NEB_CHANNEL_SPEED = 3, /* stored, or derived from the velocity on demand */
  NEB_CHANNEL_VELOCITY_X = 4,
  NEB_CHANNEL_VELOCITY_Y = 5,
  NEB_CHANNEL_VELOCITY_Z = 6,
  NEB_CHANNEL_COLOR_R = 7,
  NEB_CHANNEL_COLOR_G = 8,
  NEB_CHANNEL_COLOR_B = 9,
  NEB_CHANNEL_FUEL = 10,
  NEB_CHANNEL_WAVELET_ENERGY = 14,
  NEB_CHANNEL_ADVECTION_ORIGIN_X = 15,
  NEB_CHANNEL_ADVECTION_ORIGIN_Y = 16,
  NEB_CHANNEL_ADVECTION_ORIGIN_Z = 17,
  NEB_CHANNEL_WAVELET_U = 19,
  NEB_CHANNEL_WAVELET_V = 20,
  NEB_CHANNEL_WAVELET_W = 21
};

#endif /* NEBLOADER_CHANNELS_H */
