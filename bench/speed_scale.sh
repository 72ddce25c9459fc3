#!/usr/bin/env bash
# Speed and scale of a print job, side by side with the peer in one run: US Letter at 300 dpi
# in colour, the pages of gen_pages.py and PDFs of 10 and 100 copies of the office page.
#
#   tessary print   of doc.pdf, photo.pdf, photo.png, doc10.pdf and doc100.pdf to a File
#                   printer, against Ghostscript's colour ink-jet PCL device (cdj550) on the
#                   same PDF (on photo.pdf for photo.png)
#   rastertotessary alone on the CUPS raster of doc.pdf and photo.pdf that gstoraster makes
#                   for tessary.ppd, against HPLIP's hpcups on the raster gstoraster makes for
#                   a 300-dpi colour PCL ink-jet of its hpcups.drv (compiled with ppdc)
#
# Every row runs once a round, in turn, for RUNS rounds (7 by default), and its median wall
# and processor time is printed with the ratio to the peer's. Then one more run of each of
# the tool's rows under bench/measure.py gives the peak memory of all the job's processes
# together (the document reader's included; pages they share counted once), the most the
# spool held at any moment (in memory or in the printer's folder) and the most written
# beside the target before it was renamed over it.
#
#   bash bench/speed_scale.sh BUILD_DIR [RUNS]
#
# BUILD_DIR is an optimised build (build/bench of scripts/bench.sh). It installs the peer
# (printer-driver-hpcups) when it is missing, as scripts/setup.sh installs packages.
set -euo pipefail
build=$(realpath "$1")
runs=${2:-7}
here=$(dirname "$(realpath "$0")")
filters=$(cups-config --serverbin)/filter
python=/usr/bin/python3

for program in server/tessary cups/rastertotessary cups/tessary.ppd; do
  if [ ! -e "$build/$program" ]; then
    echo "speed_scale: $build/$program is not built" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
export TESSARY_ROOT="$work/root"

# The pages, and the office page 10 and 100 times.
$python "$here/gen_pages.py" "$work/pages" >/dev/null
for count in 10 100; do
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/doc$count.pdf" \
    $(for _ in $(seq "$count"); do echo "$work/pages/doc.pdf"; done)
done

# The peer and its PPD.
source "$here/hpcups_peer.sh"
hpcups_peer speed_scale "$work/hpcups"
ours_ppd=$build/cups/tessary.ppd
for page in doc photo; do
  PPD=$ours_ppd "$filters/gstoraster" 1 bench "$page" 1 "" "$work/pages/$page.pdf" \
    >"$work/ours-$page.ras" 2>/dev/null
  PPD=$peer_ppd "$filters/gstoraster" 1 bench "$page" 1 "" "$work/pages/$page.pdf" \
    >"$work/peer-$page.ras" 2>/dev/null
done

tessary=$build/server/tessary
mkdir -p "$work/out"
"$tessary" printer add Bench --transport File --address "$work/out/out.pcl" >/dev/null
times=$work/times

# label, side (ours or peer), command...: one line in $times, with the wall and processor
# seconds to the microsecond. The outputs of the job before are removed first: a job that
# replaces the 470 MB of 100 pages would pay for freeing them.
timed() {
  local label=$1 side=$2 figures
  shift 2
  rm -f "$work/out/out.pcl" "$work/gs.pcl"
  figures=$($python "$here/measure.py" --time-only -- "$@" 2>"$work/stderr") \
    || { cat "$work/stderr" >&2; exit 1; }
  echo "$label $side $figures" >>"$times"
}

gs_cdj550=(gs -q -dSAFER -dBATCH -dNOPAUSE -r300 -sPAPERSIZE=letter -sDEVICE=cdj550
  -sOutputFile="$work/gs.pcl")

# label, document: `tessary print` of it.
ours() {
  timed "$1" ours "$tessary" print Bench "$2"
}

round() {
  for page in doc photo; do
    ours "$page.pdf" "$work/pages/$page.pdf"
    timed "$page.pdf" peer "${gs_cdj550[@]}" "$work/pages/$page.pdf"
  done
  ours photo.png "$work/pages/photo.png"
  timed photo.png peer "${gs_cdj550[@]}" "$work/pages/photo.pdf"
  for count in 10 100; do
    ours "doc$count.pdf" "$work/doc$count.pdf"
    timed "doc$count.pdf" peer "${gs_cdj550[@]}" "$work/doc$count.pdf"
  done
  for page in doc photo; do
    timed "raster-$page" ours env PPD="$ours_ppd" "$build/cups/rastertotessary" 1 bench page 1 \
      "" "$work/ours-$page.ras"
    timed "raster-$page" peer env PPD="$peer_ppd" "$filters/hpcups" 1 bench page 1 "" \
      "$work/peer-$page.ras"
  done
}

times=$work/warm-up
round
times=$work/times
for ((i = 0; i < runs; i++)); do
  round
done

# Memory, spool and bytes beside the target, one run each under the sampler.
memory=$work/memory
mkdir -p "$work/filter"
for job in pages/doc.pdf pages/photo.pdf pages/photo.png doc10.pdf doc100.pdf; do
  rm -f "$work/out/out.pcl"
  printf '%s %s\n' "$(basename "$job")" "$($python "$here/measure.py" \
    --spool "$TESSARY_ROOT" --beside "$work/out/out.pcl" -- \
    "$tessary" print Bench "$work/$job")" >>"$memory"
done
for page in doc photo; do
  printf '%s %s\n' "raster-$page" "$(PPD=$ours_ppd $python "$here/measure.py" \
    --spool "$work/filter" -- env TMPDIR="$work/filter" "$build/cups/rastertotessary" 1 bench \
    page 1 "" "$work/ours-$page.ras")" >>"$memory"
done
for job in pages/doc.pdf pages/photo.pdf doc100.pdf; do
  /usr/bin/time -f "%M" -o "$work/gs-memory" "${gs_cdj550[@]}" "$work/$job"
  echo "$(basename "$job") $(cat "$work/gs-memory")" >>"$work/gs-peak"
done

$python - "$times" "$memory" "$work/gs-peak" "$runs" <<'EOF'
import json
import statistics
import sys

runs = {}
for line in open(sys.argv[1]):
    label, side, figures = line.split(" ", 2)
    figures = json.loads(figures)
    runs.setdefault((label, side), []).append((figures["wall"], figures["cpu"]))
median = {key: (statistics.median(r[0] for r in rows), statistics.median(r[1] for r in rows))
          for key, rows in runs.items()}
memory = {}
for line in open(sys.argv[2]):
    label, _, figures = line.partition(" ")
    memory[label] = json.loads(figures)
gs_peak = {}
for line in open(sys.argv[3]):
    label, kilobytes = line.split()
    gs_peak[label] = int(kilobytes) / 1024

rows = [
    ("doc.pdf", "doc.pdf, 1 page", "gs cdj550", 0.4),
    ("photo.pdf", "photo.pdf, 1 page", "gs cdj550", 0.6),
    ("photo.png", "photo.png, 1 page", "gs cdj550 (its PDF)", 0.35),
    ("doc10.pdf", "doc, 10 pages", "gs cdj550", None),
    ("doc100.pdf", "doc, 100 pages", "gs cdj550", 0.35),
    ("raster-doc", "rastertotessary alone, doc raster", "hpcups", None),
    ("raster-photo", "rastertotessary alone, photo raster", "hpcups", None),
]
print(f"US Letter at 300 dpi in colour: medians of {sys.argv[4]} rounds, every row once a "
      "round; memory from one run under measure.py")
print(f"  {'job':<38} {'tessary ms':>10} {'cpu':>7} {'peer':<20} {'peer ms':>8} {'ratio':>6}"
      f" {'target':>6} {'peak MB':>8} {'spool MB':>8} {'beside MB':>9}")
for key, name, peer, target in rows:
    ours, theirs = median[(key, "ours")], median[(key, "peer")]
    key_memory = memory.get(key, {})
    target_text = f"{target:.2f}" if target else ""
    print(f"  {name:<38} {ours[0] * 1000:10.0f} {ours[1] * 1000:7.0f} {peer:<20} "
          f"{theirs[0] * 1000:8.0f} {ours[0] / theirs[0]:6.2f} {target_text:>6} "
          f"{key_memory.get('peak_mb', 0):8.1f} {key_memory.get('spool_mb', 0):8.1f} "
          f"{key_memory.get('beside_mb', 0):9.1f}")
print("targets")
for key, page_target in (("raster-doc", 30), ("raster-photo", 35)):
    print(f"  {key}: {median[(key, 'ours')][0] * 1000:.0f} ms a page (target <= {page_target})")
m10, m100 = memory["doc10.pdf"]["peak_mb"], memory["doc100.pdf"]["peak_mb"]
print(f"  100 pages: peak {m100:.1f} MB (target <= 64; 10 pages {m10:.1f} MB), spool at most "
      f"{memory['doc100.pdf']['spool_mb']:.1f} MB (target <= 40), "
      f"{memory['doc100.pdf']['beside_mb']:.1f} MB beside the target")
print("  Ghostscript's peak resident memory: "
      + ", ".join(f"{label} {mb:.0f} MB" for label, mb in gs_peak.items()))
EOF
