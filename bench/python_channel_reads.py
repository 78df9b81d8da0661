#!/usr/bin/python3
"""Reading the channels of a frame through the Python package, against the same reads in
C++ (the ChannelReadBench program), in one run.

    /usr/bin/python3 bench/python_channel_reads.py --build build/release [--frame F] [--rounds 7]

One iteration loads the frame, reads every channel present and releases the frame (the
library decodes each channel on first read, so every iteration decodes the whole frame):
  C++     newINeb, getChannel of each channel, deleteINeb (BM_ReadEveryChannel);
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


def cpp_samples(program, frame, count):
    """`count` one-iteration samples of BM_ReadEveryChannel: (wall s, CPU s) each."""
    out = subprocess.run(
        [program, "--benchmark_filter=BM_ReadEveryChannel", "--benchmark_min_time=0.001",
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
        times = {"C++": [], "Python": [], "Python by name": []}
        python_sample(nebloader, frame, False)  # warm-up, as Google Benchmark's first run
        for _ in range(args.rounds):
            times["C++"] += cpp_samples(program, frame, args.samples)
            for _ in range(args.samples):
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
