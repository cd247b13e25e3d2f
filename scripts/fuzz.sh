#!/usr/bin/env bash
# Builds the libFuzzer targets with clang 14 and runs each for its share of
# SECONDS (default 60). Exits non-zero when a target finds a crash.
set -euo pipefail

seconds="${1:-60}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 2 ]; then
  echo "uso: $0 [SECONDI >= 2]" >&2
  exit 2
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
  -DKOLIBRA_FUZZ=ON -DKOLIBRA_BENCH=OFF >/dev/null

targets=(normalizer_fuzz convert_fuzz control_request_fuzz)
cmake --build "$build" --target "${targets[@]}"

share=$((seconds / ${#targets[@]}))
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/artifacts/$t"
  if [ "$t" = control_request_fuzz ]; then
    # Seeds: requests of kolibra ctl.
    printf '\x03status\n' >"$corpus/seed-status"
    printf '\x07set-polling 500ms\r\n' >"$corpus/seed-polling"
    printf '\x00slots 1100\nOK\nPorte attive: 1100\n' >"$corpus/seed-slots"
    printf '\x05address 192.168.1.10\n' >"$corpus/seed-address"
  else
    # Seeds: a few ordinary records.
    printf 'SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N4,V500;\r\nTEND,N1,V1500;\r\n' \
      >"$corpus/seed-receipt"
    printf '\x1e\x00PRNT,:Totale \xe4 & co, fine;' >"$corpus/seed-text"
    printf 'PRNT,:RSSMRA85T10A562S;\r\nFUNC,N39;\r\nLOTT,C[ABCD1234];\r\nCRED,T3,V900;\r\nDISC,%%10;\r\nNDCR,>VR,D01022024;\r\n' \
      >"$corpus/seed-mixed"
  fi
  echo "== $t for ${share}s"
  if ! UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
       "$build/fuzz/$t" "$corpus" -max_total_time="$share" -timeout=10 -rss_limit_mb=2048 \
       -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/artifacts/$t/"; then
    echo "== $t found a failure; see $build/artifacts/$t/" >&2
    status=1
  fi
done
exit "$status"
