// nebloader frame interfaces: a loaded frame (INeb) and its particle groups
// (IOstranePrtGroup). Part of the binary interface of libnebloader; hosts include it
// through nebloader.h. The library implements both classes (the particle groups in the
// particles layer, the frame in the cache layer), so it lives below them.
//
// The order of the virtual operations of each class is part of the interface: hosts
// compiled against an older copy call them by slot, so never reorder, insert or remove one.
#ifndef NEBLOADER_FRAME_H
#define NEBLOADER_FRAME_H

// One particle group of a frame. Particle channel slots: 0 position (3 floats), 1 velocity
// (3 floats), 10 identifier (one 64-bit integer); other slots as the simulator wrote them.
class IOstranePrtGroup {
 public:
  virtual const char* getName() = 0;
  // Number of particles; 0 when the group has no positions.
  virtual int getParticleCount() = 0;
  // Copies getBytesPerParticle(slot) bytes of one particle to `out`. False when the slot is
  // absent, cannot be expanded, or `particle` is out of range.
  virtual bool getParticleValue(int particle, int slot, void* out) = 0;
  virtual bool hasChannel(int slot) = 0;
  virtual int getBytesPerParticle(int slot) = 0;
  // Index of the particle carrying `id`, or -1.
  virtual int findParticleById(long long id) = 0;
  // 10: float channel; 7: 64-bit identifier; 6: integer; 0: unused slot.
  virtual int getChannelDataType(int slot) = 0;
  virtual int getChannelComponents(int slot) = 0;
  virtual ~IOstranePrtGroup() {}
};

// One loaded frame. Objects come from newINeb... and go back through deleteINeb; the
// library destroys them. Pointers returned by getChannel, getParticleGroup and
// findParticleGroup stay valid as long as the frame lives.
class INeb {
 public:
  // nx*ny*nz floats, x fastest, then y, then z; null when absent or undecodable.
  virtual const float* getChannel(int channel) = 0;
  virtual int hasChannel(int channel) = 0;
  virtual void getGridSize(int out[3]) = 0;
  // 3x3 matrix A by rows then offset o: grid coordinates v = w * A + o for a world
  // position w taken as a row vector.
  virtual void getTransform(float out[12]) = 0;
  // Groups that have particle positions.
  virtual int getParticleGroupCount() = 0;
  virtual IOstranePrtGroup* getParticleGroup(int n) = 0;
  // Any group, counted or not, by exact name.
  virtual IOstranePrtGroup* findParticleGroup(const char* name) = 0;
  virtual ~INeb() {}
};

#endif  // NEBLOADER_FRAME_H
