# Sourced by fuzz.sh and fuzz-long.sh (after preamble.sh): the libFuzzer programs, built
# by clang with AddressSanitizer and UndefinedBehaviorSanitizer in build/fuzz, their
# dictionaries, and where findings are kept.
fuzz_targets=(fuzz_request fuzz_channel_events fuzz_init_names)
build=$root/build/fuzz
declare -A fuzz_dictionaries=([fuzz_request]=requests.dict [fuzz_channel_events]=requests.dict
  [fuzz_init_names]=names.dict)

# build_fuzzers TARGET...
build_fuzzers() {
  bash "$root/scripts/install-deps.sh" core test analysis e2e || exit 1
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DNELKO_SANITIZE=ON -DNELKO_FUZZ=ON >/dev/null || exit 1
  cmake --build "$build" -j"$jobs" --target "$@" >"$build/fuzz-build.log" 2>&1 ||
    { tail -40 "$build/fuzz-build.log"; exit 1; }
}

# The options every run of TARGET takes, writing its findings into ARTIFACTS.
# Leaks are looked for when a program exits rather than after every input, which would
# cost a third of the time: the harnesses keep state from one input to the next.
fuzz_options() {  # fuzz_options TARGET ARTIFACTS
  local dictionary=${fuzz_dictionaries[$1]:-}
  echo -detect_leaks=0 -timeout=30 -rss_limit_mb=2560 -artifact_prefix="$2/"
  [[ -z $dictionary ]] || echo -dict="$root/tests/fuzz/$dictionary"
}

# Copies a run's findings to build/fuzz/findings/TARGET/; false when there were none.
keep_findings() {  # keep_findings TARGET ARTIFACTS
  compgen -G "$2/*" >/dev/null || return 1
  mkdir -p "$build/findings/$1"
  cp "$2/"* "$build/findings/$1/"
  echo "=== $1: findings in build/fuzz/findings/$1/ (replay: build/fuzz/bin/$1 FILE)"
}
