#!/usr/bin/env bash
# The bash completion of tessary, driven as bash drives it (COMP_WORDS, COMP_CWORD, then the
# completion function; COMPREPLY is what the shell offers), with the built tool and printers
# of a temporary root:
#
#   completion.sh TESSARY COMPLETION_FILE
#
# Every option the tool's --help lists for a command must be offered for it, so that an
# option added to the tool and not to the completion fails here.
set -uo pipefail

tool=$1
completion=$2
if [ ! -r /usr/share/bash-completion/bash_completion ]; then
  echo "completion: bash-completion is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
# shellcheck disable=SC1091
source /usr/share/bash-completion/bash_completion
# shellcheck disable=SC1090
source "$completion"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TESSARY_ROOT=$scratch/root
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0
"$tool" printer add Desk --transport File --address "$scratch/desk.pcl" >/dev/null
"$tool" printer add "Test Printer" --transport File >/dev/null
"$tool" printer add Office --transport Socket --address printer.invalid:9100 >/dev/null
mkdir -p "$scratch/docs/sub" "$scratch/empty"
touch "$scratch/docs/report.pdf" "$scratch/docs/photo.jpg"
# Completed in a folder of no files, so that only what is asked for is offered.
cd "$scratch/empty" || exit 1

passed=0
failed=0

# What the shell offers for the words after `tessary`, the last one being the one under the
# cursor, sorted, one a line.
offered()
{
  COMP_WORDS=("$tool" "$@")
  COMP_CWORD=$#
  # The line as typed: a word "=" is bash's own split of --option=value, with no spaces.
  COMP_LINE="${COMP_WORDS[*]}"
  COMP_LINE=${COMP_LINE// = /=}
  [[ ${COMP_WORDS[-1]} == "=" ]] && COMP_LINE=${COMP_LINE% =}=
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _tessary
  printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort
}

# expect "WORDS..." -- CANDIDATES...: the words as typed, and exactly what is to be offered.
expect()
{
  local -a words=() wanted=()
  while [ "$1" != "--" ]; do words+=("$1"); shift; done
  shift
  wanted=("$@")
  local got want
  got=$(offered "${words[@]}")
  want=$( ((${#wanted[@]})) && printf '%s\n' "${wanted[@]}" | sort)
  if [ "$got" == "$want" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: tessary ${words[*]}<TAB>" >&2
    echo "  offered: $(echo "$got" | tr '\n' ' ')" >&2
    echo "  wanted:  $(echo "$want" | tr '\n' ' ')" >&2
  fi
}

# expect_includes "WORDS..." -- CANDIDATES...: each of them is offered (among others).
expect_includes()
{
  local -a words=()
  while [ "$1" != "--" ]; do words+=("$1"); shift; done
  shift
  local got candidate missing=()
  got=$(offered "${words[@]}")
  for candidate in "$@"; do
    grep -qxF -- "$candidate" <<<"$got" || missing+=("$candidate")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: tessary ${words[*]}<TAB> does not offer ${missing[*]}" >&2
  fi
}

printers=(Desk Office 'Test\ Printer')

# Sub-commands.
expect "" -- job-setup page-setup preview print printer settings spool
expect "pr" -- preview print printer
expect "printer" "" -- add default list remove set

# Printer names, from the tool; a name with a space comes quoted.
expect "print" "" -- "${printers[@]}"
expect "print" "T" -- 'Test\ Printer'
expect "print" 'Test\ P' -- 'Test\ Printer'
expect "print" '"Test P' -- 'Test\ Printer'
expect "settings" "" -- "${printers[@]}"
expect "page-setup" "O" -- Office
expect "job-setup" "" -- "${printers[@]}"
expect "printer" "remove" "" -- "${printers[@]}"
expect "printer" "set" "O" -- Office
expect "printer" "default" "D" -- Desk
expect "spool" "--printer" "" -- "${printers[@]}"
# A printer once, then documents; a new printer's name is not offered.
expect "settings" "Desk" "" --
expect "printer" "add" "" --
expect "print" "--black-white" "Desk" "$scratch/docs/r" -- "$scratch/docs/report.pdf"
# With a default printer the first word may be a document already.
expect "print" "$scratch/docs/r" -- "$scratch/docs/report.pdf"
expect "print" "-n" "2" "$scratch/docs/p" -- "$scratch/docs/photo.jpg"
expect "print" "Desk" "$scratch/docs/report.pdf" "$scratch/docs/p" -- "$scratch/docs/photo.jpg"
expect "preview" "-o" "$scratch/docs/" -- "$scratch/docs/sub"

# Option values.
expect "printer" "add" "Lab" "--transport" "" -- File Socket
expect "printer" "set" "Desk" "--compression" "" -- none tiff
expect "job-setup" "Desk" "--resolution" "" -- 300 150 75
expect "print" "Desk" "--resolution" "1" -- 150
expect "page-setup" "Desk" "--orientation" "" -- portrait landscape
expect "page-setup" "Desk" "--orientation" "=" "l" -- landscape
expect "page-setup" "Desk" "--paper" "" -- 'US\ Letter' 'US\ Legal' A4 B5 Tabloid Envelope Other
expect "print" "Desk" "--paper" "US" -- 'US\ Letter' 'US\ Legal'
expect "print" "Desk" "--copies" "" --
expect "print" "Desk" "-n" "" --
expect "job-setup" "Desk" "--pages" "" -- all
# A value given, what follows is positional again.
expect "print" "--copies" "2" "" -- "${printers[@]}"
expect "print" "-n" "2" "--paper" "A4" "T" -- 'Test\ Printer'

# Every option of every command's --help is offered for it.
for command in "" "printer add" "printer list" "printer set" "printer remove" "printer default" \
  settings page-setup \
  job-setup print spool preview; do
  # shellcheck disable=SC2086
  help=$("$tool" $command --help 2>&1)
  # "  -o,--output TEXT ..." and "  --colour,--color Excludes: ..." lines
  mapfile -t options < <(sed -n 's/^  \(-[^ ]*\).*/\1/p' <<<"$help" | tr ',' '\n')
  if [ ${#options[@]} -eq 0 ]; then
    failed=$((failed + 1))
    echo "FAILED: no options in the help of \"$command\"" >&2
    continue
  fi
  # shellcheck disable=SC2086
  expect_includes $command "-" -- "${options[@]}"
done
# The print options of lp's habits, ready for the tool.
expect_includes print Desk "-" -- -n --copies -P --pages --resolution --black-white --colour \
  --paper --landscape --portrait --scaling

# The papers are the page setup's.
papers=$("$tool" page-setup --help | sed -n 's/.*as the dialog lists it (\(.*\))$/\1/p')
listed=$(_tessary_papers | paste -sd, | sed 's/,/, /g')
if [ "$papers" == "$listed" ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAILED: the completion's papers \"$listed\" are not the tool's \"$papers\"" >&2
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
