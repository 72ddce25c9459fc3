#!/usr/bin/env bash
# Documents to PCL as a user waits for them: the photo page and the office page (PNG) through
# `tessary print` to a File printer at 300 dpi in colour, the photo's spool file through
# `tessary print --spool`, and, when Ghostscript is installed, its cdj550 device on the same
# pages as PDF, all in one run. Prints for each command the median wall time, user and system
# time, peak memory and minor page faults of RUNS runs, then the ratios against Ghostscript
# (wall time, and user plus system time, which a busy machine disturbs less).
#
#   bench/documents.sh TESSARY [RUNS]
#
# The pages are made once by gen_pages.py (beside this script) into build/bench/pages.
set -euo pipefail
tessary=$(realpath "$1")
runs=${2:-5}
repo=$(cd "$(dirname "$0")/.." && pwd)

generator=$repo/bench/gen_pages.py
pages=$repo/build/bench/pages
if [ ! -f "$pages/photo.png" ] || [ ! -f "$pages/doc.png" ]; then
  if ! command -v gs >/dev/null; then
    echo "documents: the pages are made with Ghostscript, which is not installed; skipped"
    exit 0
  fi
  mkdir -p "$pages"
  /usr/bin/python3 "$generator" "$pages" >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_ROOT=$work/root
"$tessary" printer add Bench --transport File --address "$work/out.pcl" >/dev/null
"$tessary" job-setup Bench --resolution 300 --colour >/dev/null
"$tessary" spool "$pages/photo.png" --printer Bench -o "$work/photo.spool" >/dev/null

# One line per run: wall seconds, user seconds, system seconds, peak KB, minor faults.
measure() {
  local name=$1
  shift
  "$@" >/dev/null 2>&1  # warm-up, and a check that the command works at all
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "$name %e %U %S %M %R" -a -o "$work/times" "$@" >/dev/null 2>&1
  done
}

measure photo.png "$tessary" print Bench "$pages/photo.png"
measure photo.spool "$tessary" print Bench --spool "$work/photo.spool"
measure doc.png "$tessary" print Bench "$pages/doc.png"
if command -v gs >/dev/null; then
  for page in photo doc; do
    measure "gs:$page.pdf" gs -q -dSAFER -dBATCH -dNOPAUSE -r300 -sPAPERSIZE=letter \
      -sDEVICE=cdj550 -sOutputFile="$work/gs.pcl" "$pages/$page.pdf"
  done
fi

/usr/bin/python3 - "$work/times" "$runs" <<'EOF'
import statistics
import sys

rows = {}
for line in open(sys.argv[1]):
    name, *values = line.split()
    rows.setdefault(name, []).append([float(v) for v in values])
medians = {name: [statistics.median(column) for column in zip(*runs)]
           for name, runs in rows.items()}
print(f"medians of {sys.argv[2]} runs (a shared machine: compare ratios from one run)")
print(f"{'command':<14} {'wall ms':>8} {'user ms':>8} {'sys ms':>8} {'peak MB':>8} {'faults':>8}")
for name, (wall, user, system, peak, faults) in medians.items():
    print(f"{name:<14} {wall * 1000:8.0f} {user * 1000:8.0f} {system * 1000:8.0f} "
          f"{peak / 1024:8.1f} {faults:8.0f}")
for page in ("photo", "doc"):
    ours, theirs = medians.get(f"{page}.png"), medians.get(f"gs:{page}.pdf")
    if ours and theirs and theirs[0] > 0:
        print(f"{page}: tessary print / gs cdj550: wall time {ours[0] / theirs[0]:.2f}, "
              f"processor time {(ours[1] + ours[2]) / (theirs[1] + theirs[2]):.2f}")
EOF
