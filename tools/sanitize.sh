#!/usr/bin/env bash
# The sanitizer builds, which CI runs after the Release build and its tests:
#   tools/sanitize.sh asan   AddressSanitizer and UndefinedBehaviorSanitizer,
#                            the whole test suite (build-asan/)
#   tools/sanitize.sh tsan   ThreadSanitizer, the tests of the code that runs
#                            threads of its own (build-tsan/)
#   tools/sanitize.sh        both, one after the other
# Any report fails the run. GCC (Debian 12's), at -O1 with debugging
# information: fast enough to run the suite, and the reports name lines.
# The build folders sit beside build/, never inside it, so that the Release
# build stays as ./build.sh leaves it.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(asan tsan)

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
common_flags="-O1 -g -fno-omit-frame-pointer"

# Configures a sanitizer build: Debug adds only -g (and keeps the asserts),
# the optimisation comes from the flags. Benchmarks and fuzzers are not built.
configure() {
  local dir=$1 flags=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$common_flags $flags" \
    -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" -DCMAKE_MODULE_LINKER_FLAGS="$flags" \
    -DPLUMORA_BUILD_BENCH=OFF -DPLUMORA_BUILD_FUZZ=OFF "$@"
}

timed() {
  local start=$SECONDS
  "$@"
  echo "-- $1 $2: $((SECONDS - start)) s"
}

asan() {
  local dir=build-asan
  local runtime
  runtime="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libstdc++.so.6)"
  # The Python module is loaded into the system's interpreter, which is not
  # built with ASan: the runtime has to be loaded before the interpreter
  # starts, and the C++ library with it, or ASan finds no exception machinery
  # to intercept and stops at the module's first throw. Leaks are not looked
  # for where Python runs (tests/CMakeLists.txt says why).
  configure "$dir" "-fsanitize=address,undefined -fno-sanitize-recover=all" "-DPLUMORA_PYTHON_PRELOAD=$runtime"
  timed cmake --build "$dir" -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=0 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    timed ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

# ThreadSanitizer only for the code that runs threads: the thread pool
# (ParallelRows, LoopProgress, RunAlongside, CancelScope), the history's packing thread
# (history_test), the long-work runner (busy_work_test, and the commands
# that hand it their files: printing, wallpaper and mail in
# view_commands_test), freehand (its core suites and its windows) and the
# Python module, whose effects run without the GIL from Python's threads.
tsan_targets=(core_test history_test busy_work_test live_preview_test view_commands_test freehand_test _plumora plumora-cli)
tsan_tests='^((ParallelRows|LoopProgress|RunAlongside|CancelScope|Freehand[A-Za-z]*|Brush|BrushColour|Disc|Rubber|Thickline|Thinline)\.'
tsan_tests+='|(History[A-Za-z]*|PackedPicture)\.|busy_work_test$|live_preview_test$|view_commands_test$|freehand_test$|python_apply$)'

tsan() {
  local dir=build-tsan
  local runtime
  runtime=$(g++ -print-file-name=libtsan.so)
  configure "$dir" "-fsanitize=thread" "-DPLUMORA_PYTHON_PRELOAD=$runtime"
  timed cmake --build "$dir" -j "$jobs" --target "${tsan_targets[@]}"
  # Qt, Python and the system's libraries are not built with TSan: what
  # happens inside them is not seen, and their locks (Qt's are futexes) order
  # nothing for it. Queued calls and Qt's own thread pools then show as
  # races between Qt's new and Qt's delete of Qt's objects (the call object
  # that QMetaObject::invokeMethod posts, QThreadPool's queue pages, the
  # runnables of QtGui's image scaling). ignore_noninstrumented_modules
  # drops what such a library's own calls into the runtime report; every
  # access of our code, on every thread, is still checked. QProcess forks the
  # threaded program to run a command (the desktop's wallpaper setter, the
  # PDF renderer of the printing test); the child only execs, so TSan need
  # not stop it there (die_after_fork=0).
  TSAN_OPTIONS="ignore_noninstrumented_modules=1:die_after_fork=0:halt_on_error=1:second_deadlock_stack=1" \
    timed ctest --test-dir "$dir" --output-on-failure -j "$jobs" -R "$tsan_tests"
}

for stage in "${stages[@]}"; do
  case "$stage" in
    asan | tsan)
      echo "== $stage"
      start=$SECONDS
      "$stage"
      echo "== $stage: $((SECONDS - start)) s"
      ;;
    *)
      echo "usage: tools/sanitize.sh [asan] [tsan]" >&2
      exit 2
      ;;
  esac
done
