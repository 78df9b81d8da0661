// nebloader: read nebu2 simulation cache frames (grid channels, transform, particle groups).
//
// This header is the whole binary interface of libnebloader. The order of the virtual
// operations of every class below is part of that interface: hosts compiled against an
// older copy call them by slot, so never reorder, insert or remove one.
//
// Typical use:
//   INeb* frame = newINeb("/cache/smoke_0042.neb");
//   if (frame) {
//     int size[3]; frame->getGridSize(size);
//     const float* smoke = frame->getChannel(2);   // decoded on first use, x fastest
//     ...
//     deleteINeb(frame);                           // once per successful newINeb...
//   }
//
// All paths are UTF-8. Nothing here throws; failures are null, 0 or -1 results, with the
// reason sent to the library's report sink.
#ifndef NEBLOADER_H
#define NEBLOADER_H

#if defined(_WIN32)
#if defined(NEBLOADER_BUILDING)
#define NEBLOADER_API __declspec(dllexport)
#else
#define NEBLOADER_API __declspec(dllimport)
#endif
#else
#define NEBLOADER_API __attribute__((visibility("default")))
#endif

// Grid channel numbers understood by getChannel / hasChannel.
enum NebChannel {
  NEB_CHANNEL_TEMPERATURE = 1,
  NEB_CHANNEL_SMOKE = 2,
  NEB_CHANNEL_SPEED = 3,  // stored, or derived from the velocity on demand
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

namespace ZUtils {

// Progress object a host may hand to a thread manager run. Only these calls are made.
class ThreadProgress {
 public:
  virtual void log(int level, int timeoutMs, const char* text) = 0;
  virtual void begin() = 0;
  virtual void end() = 0;
  virtual void progress(int value) = 0;
  // Non-zero asks running work to stop; the value is returned by runOnThreads.
  virtual int abortCode() = 0;
  // Whether waits should keep the caller's window messages flowing, and the pump itself.
  // Platforms without a message queue never pump.
  virtual bool wantsMessagePump() = 0;
  virtual void pumpMessages() = 0;
  virtual ~ThreadProgress() {}
};

// What a pool thread runs. runOnThreads calls run(status, progress, index, count) on every
// thread of the batch; runProcedure calls run(nullptr, nullptr, parameter, 1) once.
class ThreadProcedure {
 public:
  ThreadProcedure() : progressBase(0), statusCell(0) {}
  virtual void run(volatile int* status, volatile int* progress, int index, int count) = 0;
  // Name given to the thread while it runs this procedure, or null.
  virtual const char* name() = 0;
  virtual ~ThreadProcedure() {}

  int progressBase;  // zeroed at the start of runOnThreads
  int statusCell;    // shared status of a runOnThreads batch; non-zero = abort
};

// A pool of worker threads. Hosts may pass their own implementation to
// initalizeNebuLoader, or use createDefaultThreadManager.
class ThreadManager {
 public:
  virtual void terminateThreads(bool force) = 0;
  // Runs `procedure` on `count` threads (0: the default thread count) and waits; returns
  // the status cell.
  virtual int runOnThreads(int count, ThreadProcedure* procedure, ThreadProgress* progress, bool reportProgress) = 0;
  virtual void setLowPriority(int flag) = 0;
  // Runs `procedure` once on a pool thread without waiting; returns 0.
  virtual int runProcedure(ThreadProcedure* procedure, int parameter) = 0;
  virtual void setStackSize(int bytes) = 0;
  // Index of the calling pool thread in its batch, -1 outside the pool.
  virtual int currentThreadIndex() = 0;
  virtual ~ThreadManager() {}
};

}  // namespace ZUtils

// 0x31200.
NEBLOADER_API unsigned int OstraneSDKGetVersionNumber();

// Frames. A frame asked for again while its file is unchanged (same path text, same
// mapping text, same modification time) is the same shared object. Voxel-limited
// (maxVoxels != -1) and header-only frames are never shared. Every successful call is
// balanced by one deleteINeb.
NEBLOADER_API INeb* newINeb(const char* path);
NEBLOADER_API INeb* newINebMaxVox(const char* path, long long maxVoxels, bool headerOnly);
NEBLOADER_API INeb* newINebWithChannelsMapping(const char* path, const char* mapping);
NEBLOADER_API INeb* newINebWithChannelsMappingMaxVox(const char* path, const char* mapping, long long maxVoxels,
                                                     bool headerOnly);
NEBLOADER_API void deleteINeb(INeb* frame);

// Channel mappings: "channel,name;" entries, e.g. "2,density;1,temperature;".
// Text results are copied into (buffer, bufferSize): at most bufferSize-1 characters and a
// NUL; the result is 1 when the whole text fitted and 0 when it was cut. Out-of-range
// indexes give -1 and write nothing.
NEBLOADER_API int nebComposeChannelMappingsString(char* const buffer, int bufferSize, int* const channels,
                                                  const char* const* names, int count);
NEBLOADER_API int nebDecomposeChannelMappingsString(int* channel, char* buffer, int bufferSize,
                                                    const char* const mapping, int index);
NEBLOADER_API int nebGenerateDefaultChannelMappings(char* const buffer, int bufferSize, const char* const path);
NEBLOADER_API int nebGet3rdPartyChannelName(char* const buffer, int bufferSize, int* const flag, const char* path,
                                            int index);

// Import plug-ins (OpenVDB, Field3D) and the thread manager. Result bit 0: Field3D
// plug-in ready; bit 1: OpenVDB plug-in ready.
NEBLOADER_API int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value);
NEBLOADER_API int initalizeNebuLoader(const char* searchPaths, const char* suffix, int value,
                                      ZUtils::ThreadManager* manager);
NEBLOADER_API void finalizeNebuLoader();

NEBLOADER_API ZUtils::ThreadManager* createDefaultThreadManager();
NEBLOADER_API void destroyDefaultThreadManager(ZUtils::ThreadManager* manager);

#endif  // NEBLOADER_H
