#!/usr/bin/env bash
# Measures the tag reader against its baselines on the same files, in one run:
#  - tag reads per second over COUNT files of mixed formats (default 1000),
#    against python3-mutagen reading the same tags (goal: at least 5 times);
#  - decoding speed as a multiple of real time, per format, against
#    `ffmpeg -i FILE -f s16le -ar 44100 -ac 2 -` (goal: at least 0.9 times).
# Rates are per second of CPU time, measured in alternating rounds.
#
#   bench/tag_reader_compare.sh [COUNT]
#
# Builds a release tree in $BUILD_DIR (default build-bench) and keeps the
# files in $BUILD_DIR/tag-reader-bench between runs. Needs the ffmpeg program
# and python3-mutagen (installed here when missing and run as root).
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000}
build_dir=${BUILD_DIR:-build-bench}
work="$build_dir/tag-reader-bench"
python=/usr/bin/python3
decode_seconds=${DECODE_SECONDS:-300}

if ! "$python" -c "import mutagen" 2>/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y python3-mutagen >/dev/null
  else
    echo "tag_reader_compare: please install python3-mutagen" >&2
    exit 2
  fi
fi

cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORNIC_BENCH=ON \
  -DVORNIC_TESTS=OFF -DVORNIC_SANITIZE=OFF >/dev/null
cmake --build "$build_dir" -j "${JOBS:-2}" --target tag_reader_bench make_test_media
tool="$build_dir/tools/make_test_media"
bench="$build_dir/bench/tag_reader_bench"

if [ ! -f "$work/tags-$count.done" ]; then
  echo "Making $count tagged files..."
  rm -rf "$work/tags"
  "$tool" --corpus "$work/tags" --count "$count" --seconds 3 \
    --formats mp3,m4a,flac,ogg,opus,wma,aiff,wv
  touch "$work/tags-$count.done"
fi
if [ ! -f "$work/decode-$decode_seconds.done" ]; then
  echo "Making ${decode_seconds} s files for decoding..."
  rm -rf "$work/decode"
  mkdir -p "$work/decode"
  for format in mp3 m4a flac ogg opus wma wv wav aiff; do
    "$tool" --seconds "$decode_seconds" --title Decode "$work/decode/long.$format"
  done
  "$tool" --seconds "$decode_seconds" --rate 48000 --channels 1 "$work/decode/mono48k.wav"
  touch "$work/decode-$decode_seconds.done"
fi

export TAG_BENCH_DIR="$work/tags" DECODE_BENCH_DIR="$work/decode"
# Both sides are measured in CPU time and in alternating rounds (best of
# each kept), so other work on the machine affects them alike.
"$python" - "$bench" "$work" "${ROUNDS:-3}" <<'PY'
import json, os, resource, subprocess, sys, time
bench_binary, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
decode_dir = os.path.join(work, "decode")

def ours(filter_regex):
    out = os.path.join(work, "round.json")
    subprocess.run([bench_binary, "--benchmark_filter=" + filter_regex,
                    "--benchmark_out=" + out, "--benchmark_out_format=json"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return {b["name"].split("/min_time:")[0]: b for b in json.load(open(out))["benchmarks"]}

def child_cpu(command):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)

best_ours = best_mutagen = 0.0
for _ in range(rounds):
    result = ours("BM_ReadTags")["BM_ReadTags"]
    best_ours = max(best_ours, result["items_per_second"])
    line = subprocess.run(["/usr/bin/python3", "bench/mutagen_tags.py", os.path.join(work, "tags"),
                           "1"], capture_output=True, text=True, check=True).stdout
    best_mutagen = max(best_mutagen, float(line.split()[0]))
print(f"Tag reads over {result['files']:.0f} files ({result['titled']:.0f} titles read): "
      f"tag reader {best_ours:.0f} files/s, mutagen {best_mutagen:.0f} files/s (CPU time)")
print(f"  ratio {best_ours / best_mutagen:.1f} x mutagen (goal >= 5)")

print("Decoding, multiple of real time per second of CPU time (best of rounds):")
worst = None
for name in sorted(os.listdir(decode_dir)):
    path = os.path.join(decode_dir, name)
    probe = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "format=duration", "-of",
                            "csv=p=0", path], capture_output=True, text=True, check=True)
    duration = float(probe.stdout)
    mine = theirs = 0.0
    for _ in range(rounds):
        result = ours("BM_DecodeToSink/" + name.replace(".", "[.]") + "/")
        mine = max(mine, result["BM_DecodeToSink/" + name]["x_realtime"])
        cpu = child_cpu(["ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "s16le",
                         "-ar", "44100", "-ac", "2", "-"])
        theirs = max(theirs, duration / cpu)
    ratio = mine / theirs
    worst = ratio if worst is None else min(worst, ratio)
    print(f"  {name:12s} tag reader {mine:6.0f} x   ffmpeg {theirs:6.0f} x   ratio {ratio:5.2f}")
if worst is not None:
    print(f"  lowest ratio {worst:.2f} (goal >= 0.9)")
PY
