#!/usr/bin/env bash
# The CUPS filter alone: rastertotessary on CUPS raster at 300 dpi in colour, made once with
# cups-filters' gstoraster and the built tessary.ppd, as CUPS would hand it over. Pages: the
# full-bleed photo page, the office page of text and charts, a page of plain text (through
# cups-filters' texttopdf), and the photo page ten times, to show that memory stays flat in
# the number of pages. Reports time per page (wall and processor) and peak memory.
#
#   bash bench/cups_filter.sh BUILD_DIR [RUNS]
set -euo pipefail
build=$(realpath "$1")
runs=${2:-3}
here=$(dirname "$(realpath "$0")")
filters=$(cups-config --serverbin)/filter

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR="$work"
export PPD="$build/cups/tessary.ppd"

# The pages, as PDF, then as CUPS raster.
/usr/bin/python3 "$here/gen_pages.py" "$work/pages" >/dev/null
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/photo10.pdf" \
  $(for _ in $(seq 10); do echo "$work/pages/photo.pdf"; done)
sed -n '1,200p' "$here/../README.md" | fold -s -w 80 | head -60 >"$work/text.txt"
"$filters/texttopdf" 1 bench text 1 "" "$work/text.txt" >"$work/text.pdf" 2>/dev/null
for name in photo doc; do
  cp "$work/pages/$name.pdf" "$work/$name.pdf"
done
for name in photo doc text photo10; do
  "$filters/gstoraster" 1 bench "$name" 1 "" "$work/$name.pdf" >"$work/$name.ras" 2>/dev/null
done

filter="$build/cups/rastertotessary"

source "$here/best_of.sh"

# label, raster; the pages are counted from the filter's PAGE: lines.
measure() {
  best_of "$filter" 1 bench title 1 "" "$2"
  local pages
  pages=$(grep -c '^PAGE:' "$work/stderr")
  awk -v n="$1" -v p="$pages" -v s="$best_seconds" -v c="$best_cpu" -v k="$best_kilobytes" \
    -v r="$(stat -c %s "$2")" 'BEGIN {
    printf "  %-30s %2d page%s %4.0f ms/page wall, %4.0f ms/page cpu, peak %6.1f MB (raster %5.1f MB/page)\n",
      n, p, p == 1 ? ", " : "s,", 1000 * s / p, 1000 * c / p, k / 1024, r / p / 1e6 }'
}

echo "rastertotessary, CUPS raster to PCL at 300 dpi in colour, best of $runs runs each"
measure "photo (full bleed)" "$work/photo.ras"
measure "office page (text and charts)" "$work/doc.ras"
measure "plain text (texttopdf)" "$work/text.ras"
measure "photo, ten times" "$work/photo10.ras"
