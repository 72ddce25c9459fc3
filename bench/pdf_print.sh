#!/usr/bin/env bash
# PDF to PCL at 300 dpi in colour, side by side: `tessary print` to a File printer against
# Ghostscript's own colour ink-jet PCL device (cdj550) on the same PDF, in one run. Reports
# pages per second, peak memory, spool bytes per page and the time ratio.
#
#   bash bench/pdf_print.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(realpath "$1")
runs=${2:-3}
here=$(dirname "$(realpath "$0")")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TESSARY_ROOT="$work/root"

# The pages: a full-bleed photo page, and 20 copies of an office page of text and charts.
/usr/bin/python3 "$here/gen_pages.py" "$work/pages" >/dev/null
docs=()
for _ in $(seq 20); do docs+=("$work/pages/doc.pdf"); done
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/doc20.pdf" "${docs[@]}"

tessary="$build/server/tessary"
"$tessary" printer add Bench --transport File --address "$work/out.pcl" >/dev/null

source "$here/best_of.sh"

gs_cdj550() {
  best_of gs -q -dSAFER -dBATCH -dNOPAUSE -r300 -sPAPERSIZE=letter -sDEVICE=cdj550 \
    -sOutputFile="$work/gs.pcl" "$1"
}

# name, pages, PDF
compare() {
  best_of "$tessary" print Bench "$3"
  local seconds=$best_seconds cpu=$best_cpu kilobytes=$best_kilobytes
  "$tessary" spool --printer Bench -o "$work/job.spool" "$3" >/dev/null
  local bytes
  bytes=$(stat -c %s "$work/job.spool")
  gs_cdj550 "$3"
  awk -v n="$1" -v p="$2" -v s="$seconds" -v c="$cpu" -v k="$kilobytes" -v b="$bytes" \
    -v gs="$best_seconds" -v gc="$best_cpu" -v gk="$best_kilobytes" 'BEGIN {
    printf "%s\n", n
    printf "  tessary:   %6.2f s wall, %6.2f s cpu, %6.2f pages/cpu s, peak %6.1f MB, spool %5.1f MB/page\n",
      s, c, p / c, k / 1024, b / p / 1e6
    printf "  gs cdj550: %6.2f s wall, %6.2f s cpu, %6.2f pages/cpu s, peak %6.1f MB\n",
      gs, gc, p / gc, gk / 1024
    printf "  tessary / gs: %.2f of the wall time, %.2f of the processor time\n", s / gs, c / gc }'
}

echo "PDF to PCL at 300 dpi in colour, best of $runs runs each"
compare "photo.pdf (1 full-bleed photo page)" 1 "$work/pages/photo.pdf"
compare "doc20.pdf (20 pages of text and charts)" 20 "$work/doc20.pdf"
