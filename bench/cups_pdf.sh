#!/usr/bin/env bash
# A CUPS user's whole chain for a PDF, side by side in one run on the photo page and the
# office page (gen_pages.py), US Letter at 300 dpi in colour, each filter run as CUPS runs it
# (the PPD in $PPD, one process piped into the next):
#
#   peer       cups-filters' gstoraster, then HPLIP's hpcups, with the PPD of a 300-dpi colour
#              PCL ink-jet that ppdc compiles from HPLIP's hpcups.drv
#   raster     gstoraster, then rastertotessary: the chain CUPS took before pdftotessary
#   pdf        CUPS's pdftopdf, then pdftotessary: the chain CUPS takes now
#   pdf+tiff   the same with the PPD's Compression=TIFF
#
# Every chain runs once a round, in turn, for RUNS rounds; it prints each chain's median wall
# and processor time (user + system, which a busy machine disturbs less) and its stream's
# size, then the ratios: the peer's time over the PDF chain's (the target: at least 3), and
# the compressed chain's over the uncompressed one's (at most 1).
#
#   bash bench/cups_pdf.sh BUILD_DIR [RUNS]
#
# It installs the peer (printer-driver-hpcups) when it is missing, as scripts/setup.sh
# installs packages (bench/hpcups_peer.sh). BUILD_DIR is an optimised build holding the filters (build/bench, made
# with scripts/bench.sh or `cmake --build build/bench --target pdftotessary rastertotessary
# tessary-reader Tessary transport_Pipe tessary_ppd`).
set -euo pipefail
build=$(realpath "$1")
runs=${2:-7}
here=$(dirname "$(realpath "$0")")
filters=$(cups-config --serverbin)/filter

for program in cups/pdftotessary cups/rastertotessary cups/tessary.ppd; do
  if [ ! -e "$build/$program" ]; then
    echo "cups_pdf: $build/$program is not built" >&2
    exit 1
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"

# The peer and its PPD.
source "$here/hpcups_peer.sh"
hpcups_peer cups_pdf "$work/hpcups"
ours_ppd=$build/cups/tessary.ppd

/usr/bin/python3 "$here/gen_pages.py" "$work/pages" >/dev/null

# label, PPD, the chain's two filters ("program options" each), the PDF; the stream goes to
# $work/LABEL-PAGE.pcl. One line per run in $times: label, page, and the wall and processor
# seconds of the whole chain to the microsecond.
chain() {
  local label=$1 ppd=$2 first=$3 second=$4 pdf=$5 page figures
  page=$(basename "$pdf" .pdf)
  figures=$(PPD=$ppd FINAL_CONTENT_TYPE=application/vnd.cups-pcl \
    /usr/bin/python3 "$here/measure.py" --time-only -- bash -c '
      set -o pipefail
      read -r f1 o1 <<<"$1"; read -r f2 o2 <<<"$2"
      "$f1" 1 bench page 1 "$o1" "$3" 2>/dev/null | "$f2" 1 bench page 1 "$o2" >"$4" 2>/dev/null
    ' chain "$first" "$second" "$pdf" "$work/$label-$page.pcl")
  echo "$label $page $figures" >>"$times"
}

run_round() {
  local pdf=$1
  chain peer "$peer_ppd" "$filters/gstoraster" "$filters/hpcups" "$pdf"
  chain raster "$ours_ppd" "$filters/gstoraster" "$build/cups/rastertotessary" "$pdf"
  chain pdf "$ours_ppd" "$filters/pdftopdf" "$build/cups/pdftotessary" "$pdf"
  chain pdf+tiff "$ours_ppd" "$filters/pdftopdf Compression=TIFF" \
    "$build/cups/pdftotessary Compression=TIFF" "$pdf"
}

times=$work/warm-up  # a round that is not counted, and a check that every chain works
for page in photo doc; do
  run_round "$work/pages/$page.pdf"
done
times=$work/times
for ((i = 0; i < runs; i++)); do
  for page in photo doc; do
    run_round "$work/pages/$page.pdf"
  done
done

# The streams' sizes, of the last round.
for page in photo doc; do
  for label in peer raster pdf pdf+tiff; do
    echo "$label $page $(stat -c %s "$work/$label-$page.pcl")" >>"$work/sizes"
  done
done

/usr/bin/python3 - "$work/times" "$work/sizes" "$runs" "$peer_model" <<'EOF'
import json
import statistics
import sys

runs = {}
for line in open(sys.argv[1]):
    label, page, figures = line.split(" ", 2)
    figures = json.loads(figures)
    runs.setdefault((label, page), []).append((figures["wall"], figures["cpu"]))
sizes = {}
for line in open(sys.argv[2]):
    label, page, size = line.split()
    sizes[(label, page)] = int(size)
median = {key: (statistics.median(r[0] for r in rows), statistics.median(r[1] for r in rows))
          for key, rows in runs.items()}

names = {
    "peer": f"gstoraster -> hpcups ({sys.argv[4]})",
    "raster": "gstoraster -> rastertotessary",
    "pdf": "pdftopdf -> pdftotessary",
    "pdf+tiff": "pdftopdf -> pdftotessary, Compression=TIFF",
}
print(f"CUPS chains for a PDF, US Letter at 300 dpi in colour: medians of {sys.argv[3]} "
      "rounds, every chain once a round")
print(f"  {'chain':<58} {'page':<6} {'wall ms':>8} {'cpu ms':>8} {'stream MB':>10}")
for label in names:
    for page in ("photo", "doc"):
        wall, cpu = median[(label, page)]
        print(f"  {names[label]:<58} {page:<6} {wall * 1000:8.0f} {cpu * 1000:8.0f} "
              f"{sizes[(label, page)] / 1e6:10.2f}")
print("ratios")
for page in ("photo", "doc"):
    peer, ours, packed = median[("peer", page)], median[("pdf", page)], median[("pdf+tiff", page)]
    print(f"  {page}: peer / pdftotessary: wall {peer[0] / ours[0]:.2f}, cpu {peer[1] / ours[1]:.2f}"
          f" (target >= 3); with TIFF / without: wall {packed[0] / ours[0]:.2f}, "
          f"cpu {packed[1] / ours[1]:.2f} (target <= 1); TIFF stream "
          f"{sizes[('pdf+tiff', page)] / 1e6:.2f} MB (target {'3.8' if page == 'photo' else '1.1'})")
EOF
