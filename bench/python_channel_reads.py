#!/usr/bin/python3
"""Reading the channels of a frame through the Python package and through the C interface,
against the same reads in C++ (the ChannelReadBench program), in one run.

    /usr/bin/python3 bench/python_channel_reads.py --build build/release [--frame F] [--rounds 7]

One iteration loads the frame, reads every channel present and releases the frame (the
library decodes each channel on first read, so every iteration decodes the whole frame):
  C++     newINeb, getChannel of each channel, deleteINeb (BM_ReadEveryChannel);
  C       neb_frame_open, neb_frame_channel of each channel, neb_frame_close, compiled
          (BM_ReadEveryChannelC of the same program);
  C via ctypes  the same C calls from Python through ctypes on libnebloader.so, without
          the package;
  Python  nebloader.open, frame.channel(n) of each channel (zero-copy views), close;
  Python by name  frame[name] for every name in frame.channels, where the vector names
          (velocity, color) are (nz, ny, nx, 3) copies: more work than the C++ reads, shown
          for what a script typically does.
Each sample is one iteration; the rounds alternate the C++ program and the Python timings
so that both see the same machine load; min and median of wall and CPU time are taken over
all samples. Without --frame, tools/nebsample writes a 256^3 frame to a temporary folder.
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time


def cpp_samples(program, frame, count, name="BM_ReadEveryChannel"):
    """`count` one-iteration samples of the named benchmark: (wall s, CPU s) each."""
    out = subprocess.run(
        [program, f"--benchmark_filter=^{name}(/|$)", "--benchmark_min_time=0.001",
         f"--benchmark_repetitions={count}", "--benchmark_format=json"],
        env=dict(os.environ, NEB_BENCH_FRAME=frame), check=True, capture_output=True, text=True).stdout
    runs = [b for b in json.loads(out)["benchmarks"] if b.get("run_type") == "iteration"]
    return [(r["real_time"] / 1e3, r["cpu_time"] / 1e3) for r in runs]  # ms -> s


def python_sample(nebloader, frame, by_name):
    wall, cpu = time.perf_counter(), time.process_time()
    with nebloader.open(frame) as f:
        if by_name:
            for name in f.channels:
                f[name]
        else:
            for n in range(32):
                if n in f:
                    f.channel(n)
    return time.perf_counter() - wall, time.process_time() - cpu


def ctypes_library(build):
    import ctypes
    lib = ctypes.CDLL(os.path.join(build, "loader/libnebloader.so"))
    lib.neb_frame_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_longlong, ctypes.c_int,
                                   ctypes.POINTER(ctypes.c_void_p)]
    lib.neb_frame_has_channel.argtypes = [ctypes.c_void_p, ctypes.c_int]
    lib.neb_frame_channel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(ctypes.POINTER(ctypes.c_float))]
    lib.neb_frame_close.argtypes = [ctypes.c_void_p]
    return lib


def ctypes_sample(lib, frame):
    import ctypes
    wall, cpu = time.perf_counter(), time.process_time()
    handle = ctypes.c_void_p()
    if lib.neb_frame_open(frame.encode(), None, -1, 0, ctypes.byref(handle)) != 0:
        raise RuntimeError(f"cannot load {frame}")
    values = ctypes.POINTER(ctypes.c_float)()
    for n in range(32):
        if lib.neb_frame_has_channel(handle, n) == 1:
            lib.neb_frame_channel(handle, n, ctypes.byref(values))
    lib.neb_frame_close(handle)
    return time.perf_counter() - wall, time.process_time() - cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default="build/release", help="build folder (default build/release)")
    parser.add_argument("--frame", help="frame to read (default: a 256^3 frame written by nebsample)")
    parser.add_argument("--rounds", type=int, default=7, help="alternating rounds (default 7)")
    parser.add_argument("--samples", type=int, default=3, help="one-iteration samples per round and side (default 3)")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    sys.path.insert(0, os.path.join(build, "python"))
    import nebloader

    with tempfile.TemporaryDirectory() as folder:
        frame = args.frame
        if not frame:
            subprocess.run([os.path.join(build, "tools/nebsample/nebsample"), "-out",
                            os.path.join(folder, "plume_####.neb"), "-frames", "1", "-start", "1", "-res", "256"],
                           check=True, stdout=subprocess.DEVNULL)
            frame = os.path.join(folder, "plume_0001.neb")
        with nebloader.open(frame) as f:
            print(f"frame {frame}: {f.grid_size}, channels {f.channels}")
        program = os.path.join(build, "bench/ChannelReadBench")
        lib = ctypes_library(build)  # the package's library: one copy in this process
        times = {"C++": [], "C": [], "Python": [], "C via ctypes": [], "Python by name": []}
        python_sample(nebloader, frame, False)  # warm-up, as Google Benchmark's first run
        for _ in range(args.rounds):
            times["C++"] += cpp_samples(program, frame, args.samples)
            times["C"] += cpp_samples(program, frame, args.samples, "BM_ReadEveryChannelC")
            for _ in range(args.samples):
                times["C via ctypes"].append(ctypes_sample(lib, frame))
                times["Python"].append(python_sample(nebloader, frame, False))
                times["Python by name"].append(python_sample(nebloader, frame, True))

    # Wall time suffers most from other processes on a shared machine; CPU time (the
    # reading thread's, user + system) is the steadier figure there. Decoding runs on
    # the calling thread in both (no thread manager is registered).
    for kind, index in (("wall", 0), ("CPU", 1)):
        base = [t[index] for t in times["C++"]]
        base_min, base_median = min(base), statistics.median(base)
        print(f"{kind + ' time':16} {'min ms':>9} {'median ms':>10} {'vs C++ min':>11} {'vs C++ median':>14}")
        for name, values in times.items():
            values = [t[index] for t in values]
            low, mid = min(values), statistics.median(values)
            print(f"{name:16} {low * 1e3:9.2f} {mid * 1e3:10.2f} {low / base_min - 1:+11.1%} "
                  f"{mid / base_median - 1:+14.1%}")


if __name__ == "__main__":
    main()
