#!/usr/bin/env bash
# Set-up, a ThreadSanitizer build, and the tests of the threaded kits (loopers, messengers,
# threads, windows, the scripted display and the X11 display with its event thread), of the
# dialogs (on the X display too, where the tool under test is the ThreadSanitizer build), of
# the engine's jobs (whose bands are drawn and encoded on two threads), and of the print tool (whose jobs run the driver beside the dialogs' window threads, the
# spooling thread and a signal handler). ThreadSanitizer cannot share a build with
# AddressSanitizer, hence its own folder. The programs carry their own suppressions of the
# libraries' reports (tests/support/SanitizerSuppressions.cpp, server/main.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARY_TSAN=ON \
  -DTESSARY_SANITIZE=OFF >/dev/null
programs=(app_tests kits_tests window_tests ui_tests display_tests frontend_tests)
# The print tool's tests run the built tool, which loads the add-ons it was built with.
cmake --build "$build" -j"$(nproc)" --target "${programs[@]}" server_tests engine_tests tessary

# ctest names tests Suite.Name without the program, so the programs list their own suites
# (a typed suite's "/N" is not part of the ctest name).
suites=$(for program in "${programs[@]}"; do
  "$build/tests/$program" --gtest_list_tests | grep -v '^ ' | awk '{ print $1 }' |
    sed -e 's/[.]$//' -e 's|/[0-9]*$||'
done | sort -u | paste -sd'|')
# Of the print tool's program, the tool's own suites, and the documents: the tool spools
# them in a process of their own while the driver prints, and decodes images on a thread of
# its own. The transports' suites stop jobs from another thread and from the tool's signal
# handler.
suites+='|PrintTool|SetupCommands|DocumentPrint|DocumentPrintDamage|SocketTransport|PipeTransport'
# Of the engine's, the jobs: bands drawn on two threads and sent in order, stopped part way.
suites+='|BandThreads|JobLoop'

export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
# Print tool tests that only print whole test pages at 300 dpi on one thread take minutes
# under ThreadSanitizer and find nothing the AddressSanitizer run does not; the others (the
# dialogs driven through the tool, refused and interrupted jobs, transports that fail) stay.
slow='PrintTool[.](FileAndSocketDeliverTheSameBytes|TextDocumentSocketAndFileBytesAreIdentical'
slow+='|SpoolFileOfTheTestPageIsReadBackWithAllItsPages|FileTransportWithoutAddressMakesANewFileEachJob)'
slow+='|SetupCommands[.]PageSetupDropsTheJobFieldsAndPrintConfirmsTheJobSetupFirst'
slow+='|DocumentPrint[.](MemoryStaysFlatOverAHundredPagePdf|AFrameHalfAnInchInsideTheEdgesLandsThereOnLetterAndA4'
slow+='|TheTestPageMarksWhereThePrintableAreaBegins)'
ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$(nproc)" -R "^(${suites})[.]" \
  -E "^(${slow})$"
